"""The test-control API (request log, faults, state, reset), HTTPS, start and stop."""
import http.client
import json
import os
import shutil
import socket
import ssl
import subprocess
import sys
import tempfile
import threading
import time
import unittest

from serverkit import ROOT, SERVER, ServerCase, start_server, stop_server


class LogTests(ServerCase):
    @classmethod
    def setUpClass(cls):
        cls.folder = tempfile.mkdtemp(prefix="kesta-log-test-")
        cls.log_path = os.path.join(cls.folder, "requests.jsonl")
        cls.ARGS = ("--data", "selftest", "--test-controls", "--log", cls.log_path)
        ServerCase.setUpClass.__func__(cls)

    @classmethod
    def tearDownClass(cls):
        ServerCase.tearDownClass.__func__(cls)
        shutil.rmtree(cls.folder)

    def test_log_records_what_the_client_sent(self):
        self.request("POST", "/__test/log/clear")
        token = self.sign_in("selftest-admin")
        self.request("GET", "/api/rooms?orgId=org-st", token=token)
        self.request("POST", "/api/rooms/st-main/messages", {"text": "Привет", "replyId": None}, token=token,
                     headers={"Idempotency-Key": "{ABC}"})
        self.request("POST", "/api/files?roomId=st-main&orgId=org-st&name=big.bin", raw=b"q" * 70000, token=token)
        records = self.request("GET", "/__test/log").json
        # Control requests are not part of the log.
        self.assertEqual([(r["method"], r["path"]) for r in records],
                         [("POST", "/api/auth/login"), ("GET", "/api/rooms?orgId=org-st"),
                          ("POST", "/api/rooms/st-main/messages"),
                          ("POST", "/api/files?roomId=st-main&orgId=org-st&name=big.bin")])
        login, rooms, send, upload = records
        self.assertEqual(json.loads(login["body"])["login"], "selftest-admin")
        self.assertNotIn("Authorization", login["headers"])
        self.assertEqual(rooms["headers"]["Authorization"], "Bearer " + token)
        self.assertEqual((rooms["bodyLength"], rooms["body"]), (0, ""))
        self.assertNotIn("Content-Type", rooms["headers"])
        self.assertEqual(send["headers"]["Idempotency-Key"], "{ABC}")
        self.assertEqual(json.loads(send["body"]), {"text": "Привет", "replyId": None})
        self.assertEqual(send["bodyLength"], len(send["body"].encode("utf-8")))
        self.assertEqual((upload["bodyLength"], upload["body"]), (70000, None))
        with open(self.log_path, encoding="utf-8") as lines:
            self.assertEqual([json.loads(line) for line in lines], records)
        self.request("POST", "/__test/log/clear")
        self.assertEqual(self.request("GET", "/__test/log").json, [])
        self.assertEqual(os.path.getsize(self.log_path), 0)

    def test_refused_requests_are_logged_before_the_reply(self):
        self.request("POST", "/__test/log/clear")
        self.request("GET", "/api/me", token="nonsense")
        # The reply has arrived, so the record must already be in the file.
        with open(self.log_path, encoding="utf-8") as lines:
            self.assertEqual(json.loads(lines.readlines()[-1])["path"], "/api/me")


class FaultTests(ServerCase):
    def setUp(self):
        self.request("POST", "/__test/faults/clear")

    def fault(self, **wanted):
        reply = self.request("POST", "/__test/fault", wanted)
        self.assertEqual(reply.status, 200, reply.body)

    def raw_exchange(self, path, timeout=5):
        """Sends a GET and returns everything the server wrote before closing or going quiet."""
        with socket.create_connection(("127.0.0.1", self.port), timeout=timeout) as raw:
            raw.sendall(("GET %s HTTP/1.1\r\nHost: x\r\nX-Kesta-Client: 1\r\n\r\n" % path).encode())
            received = b""
            try:
                while True:
                    data = raw.recv(65536)
                    if not data:
                        return received, True
                    received += data
            except socket.timeout:
                return received, False

    def test_status_raw_and_redirect_reply_exactly_as_asked(self):
        self.fault(path="/api/me", kind="status", status=404, body="<html>нет</html>", contentType="text/html")
        reply = self.request("GET", "/api/me")
        self.assertEqual((reply.status, reply.body, reply.headers["Content-Type"]),
                         (404, "<html>нет</html>".encode("utf-8"), "text/html"))
        self.fault(path="/api/me", kind="status", status=500, body="{}")
        self.assertEqual((self.request("GET", "/api/me").status, self.request("GET", "/api/me").status), (500, 401))
        self.fault(path="/api/me", kind="status", status=204)
        reply = self.request("GET", "/api/me")
        self.assertEqual((reply.status, reply.body), (204, b""))
        self.fault(path="/api/lines", kind="raw", body='{"token":"x"}')
        self.assertEqual(self.request("GET", "/api/lines").body, b'{"token":"x"}')
        self.fault(path="/api/lines", kind="raw", values=5)
        self.assertEqual(self.request("GET", "/api/lines").json, [0, 0, 0, 0, 0])
        for status in (302, 307):
            self.fault(path="/api/me", kind="redirect", status=status, location="/api/lines")
            reply = self.request("GET", "/api/me")
            self.assertEqual((reply.status, reply.headers["Location"]), (status, "/api/lines"))

    def test_oversize_bodies_have_exact_lengths_and_are_json(self):
        for size in (8000000, 8000001, 20):
            self.fault(path="/api/me", kind="oversize", bytes=size)
            reply = self.request("GET", "/api/me")
            self.assertEqual((reply.status, len(reply.body)), (200, size))
            json.loads(reply.body)

    def test_matching_count_method_and_prefix(self):
        self.fault(path="/api/rooms/*", method="post", kind="status", status=503, body="{}", count=2)
        self.assertEqual(self.request("GET", "/api/rooms/x/messages?q=").status, 401)
        self.assertEqual(self.request("POST", "/api/rooms/x/read", {}).status, 503)
        self.assertEqual(self.request("POST", "/api/rooms/y/messages", {}).status, 503)
        self.assertEqual(self.request("POST", "/api/rooms/y/read", {}).status, 401)
        self.fault(path="/api/me", kind="status", status=418, body="{}", count=-1)
        self.assertEqual([self.request("GET", "/api/me").status for _ in range(3)], [418] * 3)
        self.assertEqual(self.request("GET", "/api/me?x=1").status, 418)
        self.assertEqual(len(self.request("GET", "/__test/faults").json), 1)
        self.request("POST", "/__test/faults/clear")
        self.assertEqual(self.request("GET", "/api/me").status, 401)
        for bad in ({"path": "api", "kind": "drop"}, {"path": "/api/me", "kind": "explode"},
                    {"path": "/api/me", "kind": "drop", "count": 0}):
            self.assertEqual(self.request("POST", "/__test/fault", bad).status, 400)

    def test_connection_faults(self):
        self.fault(path="/api/me", kind="drop")
        received, closed = self.raw_exchange("/api/me")
        self.assertEqual((received, closed), (b"", True))

        self.fault(path="/api/lines", kind="cut", body='{"padding":"' + "p" * 1000 + '"}')
        received, closed = self.raw_exchange("/api/lines")
        head, _, body = received.partition(b"\r\n\r\n")
        self.assertTrue(closed)
        self.assertTrue(head.startswith(b"HTTP/1.1 200 "))
        self.assertIn(b"Content-Length: 1014", head)
        self.assertEqual(len(body), 507)

        # Without a body of its own, the real reply (here a file download) is cut.
        token = self.sign_in("selftest-admin")
        self.fault(path="/api/files/*", kind="cut", sendBytes=5)
        connection = http.client.HTTPConnection("127.0.0.1", self.port, timeout=5)
        connection.request("GET", "/api/files/st-file-1", headers={"X-Kesta-Client": "1",
                                                                   "Authorization": "Bearer " + token})
        response = connection.getresponse()
        self.assertEqual(response.status, 200)
        with self.assertRaises(http.client.IncompleteRead) as cut:
            response.read()
        self.assertEqual(len(cut.exception.partial), 5)
        connection.close()

        self.fault(path="/api/me", kind="silent", seconds=0.5)
        started = time.monotonic()
        received, closed = self.raw_exchange("/api/me")
        self.assertEqual((received, closed), (b"", True))
        self.assertGreaterEqual(time.monotonic() - started, 0.45)

    def test_delay_and_trickle_give_the_normal_reply_late(self):
        self.fault(path="/api/me", kind="delay", seconds=0.6)
        result = {}

        def slow():
            result["reply"] = self.request("GET", "/api/me")
        worker = threading.Thread(target=slow)
        started = time.monotonic()
        worker.start()
        # Requests are served concurrently: this one is not held up by the delayed one.
        self.assertEqual(self.request("GET", "/api/lines").status, 401)
        self.assertLess(time.monotonic() - started, 0.5)
        worker.join()
        self.assertGreaterEqual(time.monotonic() - started, 0.55)
        self.assertRefused(result["reply"], 401)

        self.fault(path="/api/me", kind="trickle", chunk=20, interval=0.05)
        started = time.monotonic()
        reply = self.request("GET", "/api/me")
        self.assertRefused(reply, 401)
        pieces = (len(reply.body) + 19) // 20
        self.assertGreaterEqual(time.monotonic() - started, 0.05 * (pieces - 1))

    def test_faults_act_before_the_request_body_is_judged(self):
        self.fault(path="/api/files", kind="status", status=507, body='{"error":"полно"}')
        reply = self.request("POST", "/api/files?roomId=a&orgId=b&name=c", raw=b"x" * 200000)
        self.assertEqual((reply.status, reply.error), (507, "полно"))


class StateTests(ServerCase):
    def test_state_dump_and_reset(self):
        token = self.sign_in("selftest-admin")
        self.request("POST", "/api/rooms/st-main/messages", {"text": "до сброса", "replyId": None}, token=token)
        self.request("POST", "/api/messages/st-093/pin", {}, token=token)
        state = self.request("GET", "/__test/state").json
        texts = [m["text"] for m in state["messages"] if m["room"] == "st-main"]
        self.assertEqual(texts[-1], "до сброса")
        self.assertTrue(next(m for m in state["messages"] if m["id"] == "st-093")["pinned"])
        self.assertTrue({"users", "rooms", "messages", "work", "files"} <= set(state))
        self.assertNotIn("password", json.dumps(state["users"]))
        self.assertEqual(self.request("POST", "/__test/reset").status, 200)
        state = self.request("GET", "/__test/state").json
        self.assertNotIn("до сброса", [m["text"] for m in state["messages"]])
        self.assertFalse(next(m for m in state["messages"] if m["id"] == "st-093")["pinned"])
        # The session outlives the reset: the same users exist again.
        self.assertEqual(self.request("GET", "/api/me", token=token).status, 200)
        # Until the sessions are forgotten; a new sign-in works at once.
        self.assertGreaterEqual(self.request("POST", "/__test/sessions/forget").json["forgotten"], 1)
        self.assertEqual(self.request("GET", "/api/me", token=token).status, 401)
        self.assertEqual(self.request("GET", "/api/me", token=self.sign_in("selftest-admin")).status, 200)


class WithoutControlsTests(ServerCase):
    ARGS = ("--data", "demo")

    def test_control_api_is_absent(self):
        for method, path in (("GET", "/__test/log"), ("POST", "/__test/reset"), ("GET", "/__test/state")):
            self.assertRefused(self.request(method, path), 404)
        self.assertEqual(self.request("POST", "/__test/fault", {"path": "/api/me", "kind": "drop"}).status, 404)
        self.assertEqual(self.request("GET", "/api/me").status, 401)

    def test_log_without_controls_is_a_usage_error(self):
        result = subprocess.run([sys.executable, SERVER, "--port", "0", "--log", os.devnull],
                                capture_output=True, text=True, timeout=10)
        self.assertNotEqual(result.returncode, 0)
        self.assertEqual(result.stdout, "")


class LifecycleTests(unittest.TestCase):
    def test_sigterm_stops_promptly_even_with_a_stalled_connection(self):
        process, port = start_server("--data", "selftest", "--test-controls")
        connection = http.client.HTTPConnection("127.0.0.1", port, timeout=5)
        connection.request("POST", "/__test/fault", json.dumps({"path": "/api/me", "kind": "silent",
                                                                "seconds": 60}))
        connection.getresponse().read()
        connection.close()
        stalled = socket.create_connection(("127.0.0.1", port))
        stalled.sendall(b"GET /api/me HTTP/1.1\r\nHost: x\r\n\r\n")
        time.sleep(0.2)
        started = time.monotonic()
        stop_server(process)
        self.assertEqual(process.returncode, 0)
        self.assertLess(time.monotonic() - started, 3)
        stalled.close()

    @unittest.skipUnless(shutil.which("openssl"), "openssl is not installed")
    def test_https_with_a_test_authority(self):
        folder = tempfile.mkdtemp(prefix="kesta-tls-test-")
        try:
            subprocess.run(["bash", os.path.join(ROOT, "tools", "server", "make_cert.sh"), folder], check=True,
                           capture_output=True, timeout=60)
            process, port = start_server("--data", "selftest", "--tls", os.path.join(folder, "localhost.crt"),
                                         os.path.join(folder, "localhost.key"))
            try:
                trusted = ssl.create_default_context(cafile=os.path.join(folder, "ca.crt"))
                connection = http.client.HTTPSConnection("localhost", port, context=trusted, timeout=10)
                connection.request("POST", "/api/auth/login",
                                   json.dumps({"login": "selftest-admin", "password": "kesta"}),
                                   {"X-Kesta-Client": "1", "Content-Type": "application/json"})
                response = connection.getresponse()
                self.assertEqual(response.status, 200)
                self.assertIn("token", json.loads(response.read()))
                connection.close()
                untrusted = http.client.HTTPSConnection("localhost", port, context=ssl.create_default_context(),
                                                        timeout=10)
                with self.assertRaises(ssl.SSLError):
                    untrusted.request("GET", "/")
                untrusted.close()
                # A failed handshake does not disturb the server.
                plain = http.client.HTTPSConnection("localhost", port, context=trusted, timeout=10)
                plain.request("GET", "/")
                self.assertEqual(plain.getresponse().status, 200)
                plain.close()
            finally:
                stop_server(process)
        finally:
            shutil.rmtree(folder)


if __name__ == "__main__":
    unittest.main()
