#!/usr/bin/env python3
"""Local support server for development, demos and network tests.

python3 tools/server/server.py --port N --data demo|large|selftest
                               [--test-controls] [--log FILE] [--tls CERT KEY]

Prints "PORT <n>" as its first line on standard output once it listens on
127.0.0.1, serves requests concurrently and stops on SIGTERM or SIGINT.
README.md beside this file describes the accounts, the data sets and the
test-control API under "/__test/".
"""
import argparse
import base64
import gzip
import html
import itertools
import json
import os
import re
import signal
import socket
import ssl
import sys
import threading
import traceback
from http.server import BaseHTTPRequestHandler, ThreadingHTTPServer
from urllib.parse import parse_qs, unquote, urlsplit

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

import demo_data  # noqa: E402
import selftest_data  # noqa: E402
from store import E_FILE_TOO_BIG, MAX_UPLOAD, ApiError, Store  # noqa: E402

CHUNK = 65536
LOG_BODY_LIMIT = 65536
JSON_BODY_LIMIT = 2 * 1024 * 1024
LOG_MEMORY_LIMIT = 20000
JSON_TYPE = "application/json; charset=utf-8"

E_CLIENT = "Запрос отклонён: нет заголовка X-Kesta-Client"
E_NOT_FOUND = "Неизвестный адрес"
E_METHOD = "Метод не поддерживается для этого адреса"
E_IDEMPOTENCY_MISSING = "Не указан заголовок Idempotency-Key"
E_IDEMPOTENCY_REUSED = "Ключ Idempotency-Key уже использован для другого запроса"
E_BODY_TOO_BIG = "Тело запроса слишком большое"
E_CONTENT_TYPE = "Тело запроса должно быть JSON (Content-Type: application/json)"
E_NOT_JSON = "Некорректный JSON в теле запроса"
E_LENGTH = "Не указана длина тела запроса (Content-Length)"
E_INTERNAL = "Внутренняя ошибка сервера"
E_BAD_REQUEST = "Некорректный HTTP-запрос"
E_TEST_BAD = "Некорректное описание сбоя"

FAULT_KINDS = ("delay", "silent", "trickle", "status", "cut", "drop", "oversize", "redirect", "raw", "proxyAuth")


class Reply:
    """One HTTP reply: a JSON or HTML body in memory, or a file streamed from disk."""

    def __init__(self, status, payload=None, body=None, content_type=JSON_TYPE, headers=None,
                 file_path="", file_size=0):
        self.status = status
        if body is None:
            body = b"" if payload is None else json.dumps(payload, ensure_ascii=False).encode("utf-8")
        self.body = body
        self.content_type = content_type
        self.headers = list(headers or [])
        self.file_path = file_path
        self.file_size = file_size

    def length(self):
        return self.file_size if self.file_path else len(self.body)

    def chunks(self):
        if not self.file_path:
            if self.body:
                yield self.body
            return
        with open(self.file_path, "rb") as source:
            while True:
                data = source.read(CHUNK)
                if not data:
                    return
                yield data


def error_reply(status, text, headers=None):
    return Reply(status, {"error": text}, headers=headers)


class IncompleteBody(Exception):
    pass


# ----- request log and faults ----------------------------------------------
class RequestLog:
    def __init__(self, path):
        self.lock = threading.Lock()
        self.path = path
        self.records = []

    def add(self, record):
        line = json.dumps(record, ensure_ascii=False)
        with self.lock:
            self.records.append(record)
            if len(self.records) > LOG_MEMORY_LIMIT:
                del self.records[:len(self.records) - LOG_MEMORY_LIMIT]
            if self.path:
                with open(self.path, "a", encoding="utf-8") as out:
                    out.write(line + "\n")

    def snapshot(self):
        with self.lock:
            return list(self.records)

    def clear(self):
        with self.lock:
            self.records = []
            if self.path:
                open(self.path, "w").close()


class Faults:
    def __init__(self):
        self.lock = threading.Lock()
        self.items = []
        self.counter = 0

    def add(self, wanted):
        if not isinstance(wanted, dict):
            raise ApiError(400, E_TEST_BAD)
        path = wanted.get("path")
        kind = wanted.get("kind")
        count = wanted.get("count", 1)
        method = wanted.get("method")
        if not isinstance(path, str) or not path.startswith("/") or kind not in FAULT_KINDS:
            raise ApiError(400, E_TEST_BAD)
        if not isinstance(count, int) or isinstance(count, bool) or count == 0 or count < -1:
            raise ApiError(400, E_TEST_BAD)
        if method is not None and not isinstance(method, str):
            raise ApiError(400, E_TEST_BAD)
        with self.lock:
            self.counter += 1
            fault = dict(wanted, id="fault-%d" % self.counter, count=count)
            if method:
                fault["method"] = method.upper()
            self.items.append(fault)
            return dict(fault)

    def take(self, method, path, passed_proxy=False):
        with self.lock:
            for fault in self.items:
                if passed_proxy and fault["kind"] == "proxyAuth":
                    continue
                pattern = fault["path"]
                if pattern.endswith("*"):
                    matches = path.startswith(pattern[:-1])
                else:
                    matches = path == pattern
                if not matches or (fault.get("method") and fault["method"] != method):
                    continue
                if fault["count"] > 0:
                    fault["count"] -= 1
                    if fault["count"] == 0:
                        self.items.remove(fault)
                return dict(fault)
            return None

    def clear(self):
        with self.lock:
            self.items = []

    def snapshot(self):
        with self.lock:
            return [dict(f) for f in self.items]


# ----- web page --------------------------------------------------------------
def web_page(store, data_name):
    summary = store.summary()
    orgs = "".join("<li>%s</li>" % html.escape(name) for name in summary["orgs"])
    text = """<!DOCTYPE html>
<html lang="ru"><head><meta charset="utf-8"><title>Kesta — локальный сервер поддержки</title></head>
<body>
<h1>Kesta — локальный сервер поддержки</h1>
<p>Веб-интерфейс локального сервера: набор данных «%s». Управление обращениями и заявками выполняется
в приложении Kesta — Поддержка.</p>
<h2>Организации</h2><ul>%s</ul>
<p>Разговоров: %d, сообщений: %d, обращений и заявок: %d.</p>
</body></html>
""" % (html.escape(data_name), orgs, summary["rooms"], summary["messages"], summary["work"])
    return Reply(200, body=text.encode("utf-8"), content_type="text/html; charset=utf-8")


# ----- routing ---------------------------------------------------------------
ROUTES = [
    ("GET", r"/api/me", "me"),
    ("GET", r"/api/lines", "lines"),
    ("POST", r"/api/auth/logout", "logout"),
    ("GET", r"/api/rooms", "rooms"),
    ("GET", r"/api/rooms/([^/]+)/messages", "history"),
    ("POST", r"/api/rooms/([^/]+)/messages", "send"),
    ("POST", r"/api/rooms/([^/]+)/read", "read"),
    ("PATCH", r"/api/messages/([^/]+)", "patch"),
    ("POST", r"/api/messages/([^/]+)/reaction", "reaction"),
    ("POST", r"/api/messages/([^/]+)/pin", "pin"),
    ("POST", r"/api/messages/([^/]+)/forward", "forward"),
    ("GET", r"/api/work", "work_list"),
    ("GET", r"/api/work/(case|ticket)/([^/]+)", "work_item"),
    ("POST", r"/api/work/(case|ticket)/([^/]+)/action", "work_action"),
    ("POST", r"/api/cases", "create_case"),
    ("POST", r"/api/tickets", "create_ticket"),
    ("POST", r"/api/files", "upload"),
    ("GET", r"/api/files/([^/]+)", "download"),
]
COMPILED = [(method, re.compile(pattern + r"\Z"), name) for method, pattern, name in ROUTES]


def find_route(method, path):
    """Returns (name, args) of the route, or raises ApiError 404/405."""
    known_path = False
    for route_method, pattern, name in COMPILED:
        match = pattern.match(path)
        if match:
            known_path = True
            if route_method == method:
                return name, [unquote(g) for g in match.groups()]
    raise ApiError(405 if known_path else 404, E_METHOD if known_path else E_NOT_FOUND)


def make_handler(store, log, faults, options):
    connections = itertools.count(1)

    class Handler(BaseHTTPRequestHandler):
        protocol_version = "HTTP/1.1"
        server_version = "KestaLocalSupport/1.0"
        sys_version = ""
        timeout = 120

        # ----- plumbing --------------------------------------------------
        def setup(self):
            BaseHTTPRequestHandler.setup(self)
            # One handler per connection: the log tells which requests shared one.
            self.connection_number = next(connections)
            # A reply's head and body go out in separate writes; held back for
            # the client's acknowledgement of the head, the body of every
            # reply after the first on a kept connection would wait for the
            # client's delayed ACK.
            self.connection.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
            if isinstance(self.connection, ssl.SSLSocket):
                self.connection.do_handshake()

        def log_message(self, fmt, *args):
            if options.verbose:
                sys.stderr.write("%s %s\n" % (self.address_string(), fmt % args))

        def send_error(self, code, message=None, explain=None):
            # Malformed request lines get the same JSON error shape as everything else.
            self.close_connection = True
            try:
                text = E_METHOD if code == 501 else E_BAD_REQUEST if code < 500 else E_INTERNAL
                self.send_reply(error_reply(code, text))
            except OSError:
                pass

        def do_GET(self):
            self.dispatch()

        def do_POST(self):
            self.dispatch()

        def do_PATCH(self):
            self.dispatch()

        def do_PUT(self):
            self.dispatch()

        def do_DELETE(self):
            self.dispatch()

        # ----- request body --------------------------------------------
        def begin_body(self):
            self.body_read = 0
            self.body_head = bytearray()
            self.body_done = False
            self.abandon_body = False
            self.logged = False
            encoding = self.headers.get("Transfer-Encoding", "").lower()
            self.chunked = "chunked" in encoding
            length = self.headers.get("Content-Length")
            try:
                self.declared = int(length) if length is not None else None
            except ValueError:
                self.declared = None
                self.chunked = False
                self.body_done = True
                self.close_connection = True
            if self.declared is not None and self.declared < 0:
                self.declared = None
                self.body_done = True
                self.close_connection = True
            if not self.chunked and not self.declared:
                self.body_done = True

        def body_chunks(self):
            """Yields the request body in pieces of at most 64 KiB as it arrives."""
            if self.body_done:
                return
            if self.chunked:
                yield from self.chunked_pieces()
            else:
                remaining = self.declared - self.body_read
                while remaining > 0:
                    data = self.rfile.read(min(CHUNK, remaining))
                    if not data:
                        self.close_connection = True
                        raise IncompleteBody()
                    remaining -= len(data)
                    self.note_body(data)
                    yield data
            self.body_done = True

        def chunked_pieces(self):
            while True:
                line = self.rfile.readline(1024)
                if not line:
                    self.close_connection = True
                    raise IncompleteBody()
                try:
                    size = int(line.split(b";")[0].strip(), 16)
                except ValueError:
                    self.close_connection = True
                    raise IncompleteBody()
                if size == 0:
                    while line not in (b"\r\n", b"\n", b""):
                        line = self.rfile.readline(1024)
                    return
                while size > 0:
                    data = self.rfile.read(min(CHUNK, size))
                    if not data:
                        self.close_connection = True
                        raise IncompleteBody()
                    size -= len(data)
                    self.note_body(data)
                    yield data
                self.rfile.readline(1024)

        def note_body(self, data):
            self.body_read += len(data)
            if len(self.body_head) <= LOG_BODY_LIMIT:
                self.body_head += data[:LOG_BODY_LIMIT + 1 - len(self.body_head)]

        def read_json_body(self):
            collected = bytearray()
            too_big = False
            for data in self.body_chunks():
                if len(collected) + len(data) > JSON_BODY_LIMIT:
                    too_big = True
                if not too_big:
                    collected += data
            self.write_log()
            self.json_too_big = too_big
            self.raw_body = bytes(collected)

        def finish_body(self):
            """Reads what is left of the body so the reply is not lost to a reset."""
            if not self.body_done:
                if self.abandon_body or (self.declared is not None and self.declared > MAX_UPLOAD):
                    self.close_connection = True
                else:
                    try:
                        for _ in self.body_chunks():
                            pass
                    except (IncompleteBody, OSError):
                        self.close_connection = True
            self.write_log()

        def write_log(self):
            if log is None or self.logged:
                return
            self.logged = True
            headers = {}
            for name, value in self.headers.items():
                headers[name] = headers[name] + ", " + value if name in headers else value
            record = {"method": self.command, "path": self.path, "headers": headers,
                      "bodyLength": self.body_read, "body": None, "connection": self.connection_number}
            if self.body_read <= LOG_BODY_LIMIT:
                record["body"] = bytes(self.body_head).decode("utf-8", errors="replace")
            log.add(record)

        # ----- replies ---------------------------------------------------
        def send_head(self, reply, length):
            self.send_response(reply.status)
            self.send_header("Content-Type", reply.content_type)
            if length is not None:
                self.send_header("Content-Length", str(length))
            for name, value in reply.headers:
                self.send_header(name, value)
            if self.close_connection:
                self.send_header("Connection", "close")
            self.end_headers()

        def send_reply(self, reply):
            if hasattr(self, "body_done"):
                self.finish_body()
            if reply.status in (204, 304):
                reply.body = b""
                self.send_head(reply, None if reply.status == 204 else 0)
                return
            self.compress(reply)
            self.send_head(reply, reply.length())
            for data in reply.chunks():
                self.wfile.write(data)

        def compress(self, reply):
            """JSON in memory goes out gzip-coded when the client asks for it
            (unless --no-compression); files and pages never do."""
            if options.no_compression or reply.file_path or not reply.body:
                return
            if not reply.content_type.startswith("application/json"):
                return
            # A request line too broken to parse has no headers.
            headers = getattr(self, "headers", None)
            asked = [part.split(";")[0].strip().lower()
                     for part in (headers.get("Accept-Encoding", "") if headers else "").split(",")]
            if "gzip" not in asked or any(name.lower() == "content-encoding" for name, _ in reply.headers):
                return
            reply.body = gzip.compress(reply.body, compresslevel=6, mtime=0)
            reply.headers.append(("Content-Encoding", "gzip"))

        # ----- dispatch --------------------------------------------------
        def dispatch(self):
            self.begin_body()
            url = urlsplit(self.path)
            path = url.path
            query = parse_qs(url.query, keep_blank_values=True)
            method = self.command
            try:
                if options.test_controls and path.startswith("/__test/"):
                    # The log shows what the client sent; the harness's own calls stay out.
                    self.logged = True
                    self.read_json_body()
                    self.send_reply(self.control(method, path))
                    return
                fault = faults.take(method, path) if faults else None
                if fault and fault["kind"] == "proxyAuth":
                    # The server stands in for a proxy that wants a login:
                    # 407 until the request names the right pair.
                    wanted = "Basic " + base64.b64encode(str(fault.get("credentials", "")).encode("utf-8")).decode()
                    if self.headers.get("Proxy-Authorization", "") == wanted:
                        fault = faults.take(method, path, passed_proxy=True)
                    else:
                        self.finish_body()
                        challenges = fault.get("challenges", ['Basic realm="kesta"'])
                        self.send_reply(Reply(407, body=b"", headers=[("Proxy-Authenticate", str(c)) for c in challenges]))
                        return
                # "trickle" and "cut" slow down or break the real reply unless given a body of their own.
                runs_route = fault is None or fault["kind"] == "delay" or (
                    fault["kind"] in ("trickle", "cut") and "body" not in fault)
                if not runs_route:
                    self.finish_body()
                    self.apply_fault(fault)
                    return
                upload = method == "POST" and path == "/api/files"
                if not upload:
                    self.read_json_body()
                if fault and fault["kind"] == "delay":
                    options.stopping.wait(float(fault.get("seconds", 1)))
                reply = self.answer(method, path, query)
                if reply is None:
                    return
                if fault:
                    self.apply_fault(fault, reply)
                else:
                    self.send_reply(reply)
            except (IncompleteBody, ConnectionError, ssl.SSLError, TimeoutError):
                self.close_connection = True

        def answer(self, method, path, query):
            try:
                if path == "/" or path == "/index.html":
                    if method != "GET":
                        raise ApiError(405, E_METHOD)
                    return web_page(store, options.data)
                if not path.startswith("/api/"):
                    raise ApiError(404, E_NOT_FOUND)
                if self.headers.get("X-Kesta-Client", "").strip() != "1":
                    raise ApiError(400, E_CLIENT)
                if path == "/api/auth/login":
                    if method != "POST":
                        raise ApiError(405, E_METHOD)
                    return Reply(200, store.sign_in(self.json_body()))
                token = self.bearer_token()
                uid = store.user_for_token(token)
                name, args = find_route(method, path)
                if name == "upload":
                    return self.upload(uid, query)
                key = self.headers.get("Idempotency-Key", "").strip()
                if method == "POST" and "/messages" in path and not key:
                    raise ApiError(400, E_IDEMPOTENCY_MISSING)
                if method != "POST" or not key:
                    return self.route(name, args, uid, token, query)
                with store.lock:
                    prior = store.replay(token, key)
                    if prior is not None:
                        if prior["method"] != method or prior["path"] != self.path:
                            raise ApiError(422, E_IDEMPOTENCY_REUSED)
                        return Reply(prior["status"], body=prior["body"],
                                     headers=[("Idempotent-Replayed", "true")])
                    try:
                        reply = self.route(name, args, uid, token, query)
                    except ApiError as failure:
                        reply = error_reply(failure.status, failure.text)
                    store.remember(token, key, {"method": method, "path": self.path,
                                                "status": reply.status, "body": reply.body})
                    return reply
            except ApiError as failure:
                return error_reply(failure.status, failure.text)
            except (IncompleteBody, ConnectionError, ssl.SSLError, TimeoutError):
                raise
            except Exception:
                traceback.print_exc()
                return error_reply(500, E_INTERNAL)

        def bearer_token(self):
            value = self.headers.get("Authorization", "")
            if value[:7].lower() != "bearer ":
                return ""
            return value[7:].strip()

        def json_body(self):
            if self.json_too_big:
                raise ApiError(413, E_BODY_TOO_BIG)
            if not self.raw_body:
                return {}
            content_type = self.headers.get("Content-Type", "").split(";")[0].strip().lower()
            if content_type != "application/json":
                raise ApiError(415, E_CONTENT_TYPE)
            try:
                body = json.loads(self.raw_body.decode("utf-8"))
            except (UnicodeDecodeError, ValueError):
                raise ApiError(400, E_NOT_JSON)
            if not isinstance(body, dict):
                raise ApiError(400, E_NOT_JSON)
            return body

        def route(self, name, args, uid, token, query):
            def arg(key):
                return query.get(key, [""])[0]
            if name == "me":
                return Reply(200, store.me(uid))
            if name == "lines":
                return Reply(200, store.all_lines())
            if name == "logout":
                self.json_body()
                return Reply(200, store.sign_out(token))
            if name == "rooms":
                return Reply(200, store.rooms_of(uid, arg("orgId")))
            if name == "history":
                return Reply(200, store.history(uid, args[0], arg("q"), arg("before")))
            if name == "send":
                return Reply(201, store.send_message(uid, args[0], self.json_body()))
            if name == "read":
                self.json_body()
                return Reply(200, store.mark_read(uid, args[0]))
            if name == "patch":
                return Reply(200, store.patch_message(uid, args[0], self.json_body()))
            if name == "reaction":
                return Reply(200, store.toggle_reaction(uid, args[0], self.json_body()))
            if name == "pin":
                self.json_body()
                return Reply(200, store.toggle_pin(uid, args[0]))
            if name == "forward":
                return Reply(201, store.forward(uid, args[0], self.json_body()))
            if name == "work_list":
                return Reply(200, store.work_list(uid, arg("orgId")))
            if name == "work_item":
                return Reply(200, store.work_item(uid, args[0], args[1]))
            if name == "work_action":
                return Reply(200, store.work_action(uid, args[0], args[1], self.json_body()))
            if name == "create_case":
                return Reply(201, store.create_work(uid, "case", self.json_body()))
            if name == "create_ticket":
                return Reply(201, store.create_work(uid, "ticket", self.json_body()))
            if name == "download":
                record = store.file_for_download(uid, args[0])
                quoted = "".join(c if c.isalnum() and c.isascii() or c in "-._" else
                                 "".join("%%%02X" % b for b in c.encode("utf-8")) for c in record["name"])
                return Reply(200, content_type="application/octet-stream", file_path=record["path"],
                             file_size=os.path.getsize(record["path"]),
                             headers=[("Content-Disposition", "attachment; filename*=UTF-8''" + quoted)])
            raise ApiError(404, E_NOT_FOUND)

        def upload(self, uid, query):
            def arg(key):
                return query.get(key, [""])[0]
            room_id, org, name, ticket_id = arg("roomId"), arg("orgId"), arg("name"), arg("ticketId")
            store.check_upload(uid, room_id, org, name, ticket_id)
            if self.declared is None and not self.chunked:
                raise ApiError(411, E_LENGTH)
            if self.declared is not None and self.declared > MAX_UPLOAD:
                self.close_connection = True
                raise ApiError(413, E_FILE_TOO_BIG)
            temp = store.upload_path()
            complete = False
            try:
                with open(temp, "wb") as out:
                    for data in self.body_chunks():
                        if self.body_read > MAX_UPLOAD:
                            self.abandon_body = True
                            raise ApiError(413, E_FILE_TOO_BIG)
                        out.write(data)
                complete = True
            finally:
                if not complete and os.path.exists(temp):
                    os.remove(temp)
            self.write_log()
            return Reply(201, store.finish_upload(uid, room_id, org, name, ticket_id, temp, self.body_read))

        # ----- test controls ---------------------------------------------
        def control(self, method, path):
            try:
                if method == "GET" and path == "/__test/log":
                    return Reply(200, log.snapshot() if log else [])
                if method == "POST" and path == "/__test/log/clear":
                    if log:
                        log.clear()
                    return Reply(200, {"ok": True})
                if method == "POST" and path == "/__test/fault":
                    try:
                        wanted = json.loads(self.raw_body.decode("utf-8") or "null")
                    except ValueError:
                        raise ApiError(400, E_TEST_BAD)
                    return Reply(200, faults.add(wanted))
                if method == "GET" and path == "/__test/faults":
                    return Reply(200, faults.snapshot())
                if method == "POST" and path == "/__test/faults/clear":
                    faults.clear()
                    return Reply(200, {"ok": True})
                if method == "GET" and path == "/__test/state":
                    return Reply(200, store.dump())
                if method == "POST" and path == "/__test/password":
                    try:
                        wanted = json.loads(self.raw_body.decode("utf-8") or "null")
                    except ValueError:
                        raise ApiError(400, E_TEST_BAD)
                    return Reply(200, store.set_password(wanted))
                if method == "POST" and path == "/__test/sessions/forget":
                    return Reply(200, store.forget_sessions())
                if method == "POST" and path == "/__test/reset":
                    store.reset()
                    return Reply(200, {"ok": True})
                raise ApiError(404, E_NOT_FOUND)
            except ApiError as failure:
                return error_reply(failure.status, failure.text)

        def apply_fault(self, fault, reply=None):
            kind = fault["kind"]
            if kind == "drop":
                self.close_connection = True
                return
            if kind == "silent":
                options.stopping.wait(float(fault.get("seconds", 30)))
                self.close_connection = True
                return
            if kind == "status":
                status = int(fault.get("status", 500))
                body = str(fault.get("body", "")).encode("utf-8")
                headers = [(str(name), str(value)) for name, value in fault.get("headers", [])]
                self.send_reply(Reply(status, body=body, content_type=fault.get("contentType", JSON_TYPE),
                                      headers=headers))
                return
            if kind == "redirect":
                status = int(fault.get("status", 302))
                location = str(fault.get("location", "/api/me"))
                self.send_reply(error_reply(status, "Ресурс перемещён", headers=[("Location", location)]))
                return
            if kind == "raw":
                if "values" in fault:
                    body = ("[" + ",".join("0" for _ in range(int(fault["values"]))) + "]").encode("ascii")
                else:
                    body = str(fault.get("body", "")).encode("utf-8")
                self.send_reply(Reply(int(fault.get("status", 200)), body=body,
                                      content_type=fault.get("contentType", JSON_TYPE)))
                return
            if kind == "oversize":
                self.send_oversize(int(fault.get("bytes", 8000001)))
                return
            if reply is None:
                reply = Reply(int(fault.get("status", 200)), body=str(fault.get("body", "")).encode("utf-8"),
                              content_type=fault.get("contentType", JSON_TYPE))
            if kind == "delay":
                self.send_reply(reply)
            elif kind == "trickle":
                self.send_trickle(reply, max(1, int(fault.get("chunk", 4))), float(fault.get("interval", 0.5)))
            elif kind == "cut":
                total = reply.length()
                self.send_cut(reply, int(fault.get("sendBytes", total // 2)))

        def send_oversize(self, size):
            head = b'{"pad":"'
            tail = b'"}'
            self.send_head(Reply(200), size)
            if size < len(head) + len(tail):
                self.wfile.write(b"0" * size if size > 0 else b"")
                return
            self.wfile.write(head)
            remaining = size - len(head) - len(tail)
            block = b"x" * CHUNK
            while remaining > 0:
                piece = block[:min(CHUNK, remaining)]
                self.wfile.write(piece)
                remaining -= len(piece)
            self.wfile.write(tail)

        def send_trickle(self, reply, chunk, interval):
            self.send_head(reply, reply.length())
            self.wfile.flush()
            for data in reply.chunks():
                for start in range(0, len(data), chunk):
                    if options.stopping.is_set():
                        self.close_connection = True
                        return
                    self.wfile.write(data[start:start + chunk])
                    self.wfile.flush()
                    options.stopping.wait(interval)

        def send_cut(self, reply, send_bytes):
            self.close_connection = True
            self.send_head(reply, reply.length())
            remaining = max(0, send_bytes)
            for data in reply.chunks():
                if remaining <= 0:
                    break
                self.wfile.write(data[:remaining])
                remaining -= len(data)
            self.wfile.flush()

    return Handler


class Server(ThreadingHTTPServer):
    daemon_threads = True
    block_on_close = False
    allow_reuse_address = True

    def handle_error(self, request, client_address):
        kind = sys.exc_info()[0]
        if kind is not None and issubclass(kind, (ConnectionError, ssl.SSLError, TimeoutError, IncompleteBody)):
            return
        ThreadingHTTPServer.handle_error(self, request, client_address)


def parse_args(argv):
    parser = argparse.ArgumentParser(description="Local support server for Kesta development and tests.")
    parser.add_argument("--port", type=int, default=8765, help="port on 127.0.0.1; 0 picks a free one")
    parser.add_argument("--data", choices=("demo", "large", "selftest"), default="demo")
    parser.add_argument("--test-controls", action="store_true",
                        help="enable the /__test/ control API and the request log")
    parser.add_argument("--log", metavar="FILE", help="append one JSON line per request (needs --test-controls)")
    parser.add_argument("--tls", nargs=2, metavar=("CERT", "KEY"), help="serve HTTPS with this certificate")
    parser.add_argument("--verbose", action="store_true", help="print every request on standard error")
    parser.add_argument("--no-compression", action="store_true",
                        help="never gzip a reply, even when the client asks for it")
    options = parser.parse_args(argv)
    if options.log and not options.test_controls:
        parser.error("--log needs --test-controls")
    return options


def main(argv=None):
    options = parse_args(sys.argv[1:] if argv is None else argv)
    options.stopping = threading.Event()
    builder = {"demo": demo_data.build, "large": demo_data.build_large, "selftest": selftest_data.build}[options.data]
    store = Store(builder)
    log = RequestLog(options.log) if options.test_controls else None
    faults = Faults() if options.test_controls else None
    server = Server(("127.0.0.1", options.port), make_handler(store, log, faults, options))
    if options.tls:
        context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
        context.load_cert_chain(options.tls[0], options.tls[1])
        # The handshake runs in the connection's own thread (Handler.setup), so a
        # slow or failing client never holds up the accepting loop.
        server.socket = context.wrap_socket(server.socket, server_side=True, do_handshake_on_connect=False)

    def stop(signum, frame):
        options.stopping.set()
        threading.Thread(target=server.shutdown, daemon=True).start()

    signal.signal(signal.SIGTERM, stop)
    signal.signal(signal.SIGINT, stop)
    port = server.server_address[1]
    print("PORT %d" % port, flush=True)
    scheme = "https" if options.tls else "http"
    sys.stderr.write("Kesta local support server: %s://127.0.0.1:%d, data set %s%s\n"
                     % (scheme, port, options.data, ", test controls on" if options.test_controls else ""))
    sys.stderr.flush()
    try:
        server.serve_forever(poll_interval=0.2)
    finally:
        options.stopping.set()
        server.server_close()
        store.close()
    return 0


if __name__ == "__main__":
    sys.exit(main())
