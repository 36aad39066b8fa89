"""Starts the local support server for a test class and talks to it over HTTP."""
import http.client
import json
import os
import signal
import subprocess
import sys
import unittest

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
SERVER = os.path.join(ROOT, "tools", "server", "server.py")
PROBE = "history fixture probe 7f3a"


class Reply:
    def __init__(self, status, headers, body):
        self.status = status
        self.headers = headers
        self.body = body

    @property
    def json(self):
        return json.loads(self.body.decode("utf-8"))

    @property
    def error(self):
        return self.json.get("error")


def start_server(*args):
    """Runs server.py --port 0 with args; returns (process, port)."""
    process = subprocess.Popen([sys.executable, SERVER, "--port", "0"] + list(args),
                               stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True)
    line = process.stdout.readline().strip()
    if not line.startswith("PORT "):
        process.kill()
        raise RuntimeError("server did not start: %r" % line)
    return process, int(line.split()[1])


def stop_server(process):
    if process.poll() is None:
        process.send_signal(signal.SIGTERM)
        try:
            process.wait(timeout=10)
        except subprocess.TimeoutExpired:
            process.kill()
            process.wait()
    process.stdout.close()


class ServerCase(unittest.TestCase):
    """A test class with its own server; subclasses set ARGS."""
    ARGS = ("--data", "selftest", "--test-controls")

    @classmethod
    def setUpClass(cls):
        cls.process, cls.port = start_server(*cls.ARGS)

    @classmethod
    def tearDownClass(cls):
        stop_server(cls.process)

    def request(self, method, path, body=None, token=None, headers=None, raw=None, timeout=30):
        """One exchange; a dict or list body goes as JSON. Returns a Reply."""
        sent = {"X-Kesta-Client": "1", "User-Agent": "Kesta-Support/alpha"}
        if token:
            sent["Authorization"] = "Bearer " + token
        data = raw
        if body is not None:
            data = json.dumps(body, ensure_ascii=False).encode("utf-8")
            sent["Content-Type"] = "application/json"
        if method == "POST" and "/messages" in path:
            sent["Idempotency-Key"] = "{%s}" % os.urandom(16).hex().upper()
        sent.update(headers or {})
        for name in [n for n, v in sent.items() if v is None]:
            del sent[name]
        connection = http.client.HTTPConnection("127.0.0.1", self.port, timeout=timeout)
        try:
            connection.request(method, path, body=data, headers=sent)
            response = connection.getresponse()
            return Reply(response.status, dict(response.getheaders()), response.read())
        finally:
            connection.close()

    def sign_in(self, login, password="kesta"):
        reply = self.request("POST", "/api/auth/login", {"login": login, "password": password})
        self.assertEqual(reply.status, 200, reply.body)
        return reply.json["token"]

    def reset(self):
        self.assertEqual(self.request("POST", "/__test/reset").status, 200)

    def history(self, token, room, query="", before=""):
        path = "/api/rooms/%s/messages?q=%s" % (room, query)
        if before:
            path += "&before=" + before
        reply = self.request("GET", path, token=token)
        self.assertEqual(reply.status, 200, reply.body)
        return reply.json

    def all_pages(self, token, room, query=""):
        """Every page from the newest back to the oldest, as the client pages."""
        pages = [self.history(token, room, query)]
        while pages[-1]["page"].get("nextBefore"):
            pages.append(self.history(token, room, query, pages[-1]["page"]["nextBefore"]))
            self.assertLess(len(pages), 100)
        return pages

    def message(self, token, room, message_id):
        for page in self.all_pages(token, room):
            for item in page["items"]:
                if item["id"] == message_id:
                    return item
        self.fail("message %s not in %s" % (message_id, room))

    def assertRefused(self, reply, status):
        self.assertEqual(reply.status, status, reply.body)
        self.assertEqual(reply.headers.get("Content-Type"), "application/json; charset=utf-8")
        text = reply.error
        self.assertIsInstance(text, str)
        # Every refusal is explained to the operator in Russian.
        self.assertRegex(text, "[А-Яа-яЁё]")
