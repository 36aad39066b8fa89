#!/usr/bin/env python3
"""Writes the seed corpus of the fuzz targets into DIR/<target>/.

Real replies of the local support server (demo and self-test data, changed
between two reads by the operations the client makes), the standard-input
documents of the self-test modes, hand-made shapes and jsmn's known crash
inputs. tools/fuzz.sh --seed minimises the result into tests/fuzz/corpus/.
"""
import gzip
import hashlib
import json
import os
import subprocess
import sys
import urllib.error
import urllib.request

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
TARGETS = ("parse", "history", "replies", "signin_input", "conversions", "inflate")

# jsmn's known crash inputs, kept under names of their own.
JSMN_CRASHES = [b"{0}", b"{{}}", b"{0 0}0", b"{}:0", b'{""0}0']
# The hand-made shapes of the robustness tests.
SHAPES = [b"", b" ", b"{}", b"[]", b'{"login"}', b'{"a":1,"a":2}',
          b'{"\\u0061":1}', b'{"id":42}', b'{"f":"true","g":True,"h":1}', b'{"n":3.9,"e":1e3,"s":"12"}',
          b'["\\uD83D\\uDE00","\\ud800"]', b'"x\\u00', b"[" * 200 + b"]" * 200, b'{"a":' * 100 + b"1" + b"}" * 100,
          b"[1:2:3]", b"\xff\xfe\x00abc", b'{"a":"\xd0\x96\xed\xa0\x80\xf4\x90\x80\x80"}', b"true", b"null 1 2",
          b'<html><body>502</body></html>']


class Server:
    def __init__(self, data):
        self.process = subprocess.Popen([sys.executable, os.path.join(ROOT, "tools/server/server.py"), "--port", "0",
                                         "--data", data], stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True)
        line = self.process.stdout.readline().split()
        self.base = "http://127.0.0.1:%s" % line[1]
        self.token = None
        self.keys = 0

    def call(self, method, path, body=None):
        headers = {"X-Kesta-Client": "1"}
        if self.token:
            headers["Authorization"] = "Bearer " + self.token
        data = None
        if body is not None:
            data = json.dumps(body).encode()
            headers["Content-Type"] = "application/json"
        if method == "POST":
            self.keys += 1
            headers["Idempotency-Key"] = "capture-%d" % self.keys
        request = urllib.request.Request(self.base + path, data=data, method=method, headers=headers)
        try:
            with urllib.request.urlopen(request) as reply:
                return reply.read()
        except urllib.error.HTTPError as refusal:
            return refusal.read()

    def sign_in(self, login):
        reply = self.call("POST", "/api/auth/login", {"login": login, "password": "kesta"})
        self.token = json.loads(reply)["token"]
        return reply

    def stop(self):
        self.process.terminate()
        self.process.wait()


def write(out, target, data, name=None):
    folder = os.path.join(out, target)
    os.makedirs(folder, exist_ok=True)
    with open(os.path.join(folder, name or hashlib.sha1(data).hexdigest()), "wb") as f:
        f.write(data)


def trimmed(page, keep=6):
    """A history page with only its newest `keep` messages, in the server's own layout."""
    reply = json.loads(page)
    reply["items"] = reply["items"][-keep:]
    return json.dumps(reply, ensure_ascii=False).encode()


def pair(out, first, second, whole):
    """Two pages for the history target: whole ones once, else their newest messages."""
    if whole:
        write(out, "history", first + b"\0" + second)
    else:
        write(out, "history", trimmed(first) + b"\0" + trimmed(second))


def write_compressed(out, reply):
    """A reply as the server sends it gzip-coded, and cut short."""
    coded = gzip.compress(reply, compresslevel=6, mtime=0)
    write(out, "inflate", coded)
    write(out, "inflate", coded[:len(coded) // 2])
    write(out, "inflate", coded[:-4])


def bomb_shapes():
    """Streams that inflate far past their size, two members in one, bytes
    after the trailer, a flipped byte, raw deflate with no gzip wrapper."""
    zeros = gzip.compress(b"0" * (3 << 20), compresslevel=9, mtime=0)
    small = gzip.compress(b'{"a":1}', mtime=0)
    flipped = bytearray(small)
    flipped[12] ^= 0x40
    return [zeros, zeros[:len(zeros) // 3], small + small, small + b"{}", bytes(flipped),
            small[10:-8], gzip.compress(b"", mtime=0)]


def capture(out, data, login, rooms_per_org=3):
    server = Server(data)
    try:
        replies = [server.call("POST", "/api/auth/login", {"login": login, "password": "wrong"}),
                   server.call("POST", "/api/auth/login", {"login": "", "password": ""})]
        replies.append(server.sign_in(login))
        me = server.call("GET", "/api/me")
        lines = server.call("GET", "/api/lines")
        write(out, "replies", me + b"\0" + lines)
        replies += [me, lines, server.call("GET", "/api/rooms/nowhere/messages?q=")]
        line_id = json.loads(lines)[0]["id"]
        wrote_whole = data != "demo" or login != "operator"
        for membership in json.loads(me)["memberships"]:
            org = membership["id"]
            rooms = server.call("GET", "/api/rooms?orgId=" + org)
            work = server.call("GET", "/api/work?orgId=" + org)
            replies += [rooms, work]
            for kind, key in (("case", "cases"), ("ticket", "tickets")):
                for item in json.loads(work)[key][:2]:
                    replies.append(server.call("GET", "/api/work/%s/%s" % (kind, item["id"])))
            for room in json.loads(rooms)[:rooms_per_org]:
                path = "/api/rooms/%s/messages?q=" % room["id"]
                page = server.call("GET", path)
                older = json.loads(page)["page"]["nextBefore"]
                whole = not wrote_whole
                wrote_whole = True
                if older:
                    pair(out, page, server.call("GET", path + "&before=" + older), whole)
                write(out, "history", trimmed(server.call("GET", path + "%D0%B0")))
                if not room.get("canWrite"):
                    write(out, "history", trimmed(page))
                    continue
                items = json.loads(page)["items"]
                sent = server.call("POST", "/api/rooms/%s/messages" % room["id"],
                                   {"text": "Новое сообщение\nв две строки 👍", "replyId": items[-1]["id"] if items else None})
                replies.append(sent)
                if items:
                    replies.append(server.call("POST", "/api/messages/%s/reaction" % items[-1]["id"], {"emoji": "👍"}))
                    replies.append(server.call("POST", "/api/messages/%s/pin" % items[0]["id"]))
                pair(out, page, server.call("GET", path), whole)
            created = server.call("POST", "/api/cases", {"caseId": None, "orgId": org, "lineId": line_id,
                                                         "subject": "Проверка «кавычек» \\ и\tтабуляции", "text": "x"})
            replies.append(created)
        for reply in replies:
            write(out, "replies", reply)
            write(out, "parse", reply)
            write_compressed(out, reply)
    finally:
        server.stop()


def main():
    out = sys.argv[1]
    capture(out, "demo", "operator")
    capture(out, "demo", "member", rooms_per_org=1)
    capture(out, "selftest", "selftest-admin", rooms_per_org=2)
    for target in TARGETS:
        for shape in SHAPES:
            write(out, target, shape)
        for number, crash in enumerate(JSMN_CRASHES, 1):
            write(out, target, crash, "jsmn-crash-%d" % number)
    stdin_documents = [
        {"login": "selftest-admin", "password": "kesta"},
        {"login": "selftest-admin", "password": "kesta", "historyMarker": "history fixture probe 7f3a"},
        {"login": "selftest-member", "password": "kesta", "replyTarget": "st-088", "editTarget": "st-091",
         "forwardRoom": "st-forward"},
        {"login": "selftest-admin", "password": "kesta", "moderationTarget": "st-093", "moderationRole": "admin"},
        {"login": "оператор", "password": "пароль с\nпереводом и \"кавычкой\" 👍"},
        {"login": 42, "password": None},
    ]
    for document in stdin_documents:
        write(out, "signin_input", json.dumps(document).encode())
        write(out, "signin_input", json.dumps(document, ensure_ascii=False).encode())
    write(out, "signin_input", b'{"login":"a","password":"\xff\xfesecret\xc3"}')
    write(out, "signin_input", b'{"login":"a","password":"sec' + b"x" * 5000 + b'"}')
    for text in ["Привет, мир", "👍 2 (ваша)", "a b~c", "Report_2024-06.final.TXT", "q\"b\\n\nr\rt\t."]:
        write(out, "conversions", text.encode())
        write(out, "conversions", text.encode("utf-16-le"))
    write(out, "conversions", b"\xff\x41\xc0\x80\xed\xa0\x80\xf4\x90\x80\x80\xe2\x82")
    write(out, "conversions", b"\x00\xd8\x00\xdc\x3d\xd8\x00\xde\x00\xdc")
    for shape in bomb_shapes():
        write(out, "inflate", shape)


if __name__ == "__main__":
    main()
