"""File upload and download, including a 100000000-byte upload streamed to disk."""
import http.client
import json
import socket
import unittest
from urllib.parse import quote

from serverkit import ServerCase


def rss_kib(pid):
    with open("/proc/%d/status" % pid) as status:
        for line in status:
            if line.startswith("VmRSS:"):
                return int(line.split()[1])
    raise AssertionError("no VmRSS")


class FileTests(ServerCase):
    def setUp(self):
        self.reset()
        self.member = self.sign_in("selftest-member")

    def upload(self, data, name="отчёт за май.txt", room="st-main", org="org-st", ticket=None, token=None):
        path = "/api/files?roomId=%s&orgId=%s&name=%s" % (room, org, quote(name, safe=""))
        if ticket is not None:
            path += "&ticketId=" + ticket
        return self.request("POST", path, raw=data, token=token or self.member)

    def test_upload_creates_a_file_message_and_download_returns_the_bytes(self):
        data = bytes(range(256)) * 300
        reply = self.upload(data)
        self.assertEqual(reply.status, 201, reply.body)
        item = self.history(self.member, "st-main")["items"][-1]
        self.assertEqual((item["fileId"], item["fileName"], item["fileExpired"]),
                         (reply.json["id"], "отчёт за май.txt", False))
        self.assertEqual(item["senderName"], "Участник проверки")
        self.assertEqual((item["canEdit"], item["canDelete"]), (False, True))
        download = self.request("GET", "/api/files/" + item["fileId"], token=self.member)
        self.assertEqual(download.status, 200)
        self.assertEqual(download.body, data)
        self.assertEqual(download.headers["Content-Length"], str(len(data)))
        # Only the last part of a path counts as the name.
        self.assertEqual(self.upload(b"x", name="C:\\temp\\a/b.txt").json["name"], "b.txt")
        self.assertEqual(self.upload(b"", name="пусто.txt").status, 201)

    def test_ticket_uploads(self):
        self.assertEqual(self.upload(b"log", room="room-st-ticket-1", ticket="st-ticket-1").status, 201)
        self.assertRefused(self.upload(b"log", room="room-st-ticket-1", ticket="st-ticket-none"), 404)
        # The client adds an empty ticket id outside a selected ticket; that is no ticket.
        self.assertEqual(self.upload(b"log", ticket="").status, 201)

    def test_upload_refusals_are_readable_after_the_body(self):
        body = b"z" * 300000
        self.assertRefused(self.upload(body, room="st-readonly"), 403)
        self.assertRefused(self.upload(body, room="st2-general"), 404)
        self.assertRefused(self.upload(body, org="org-st-deep"), 403)
        self.assertRefused(self.upload(body, name=""), 400)
        self.assertRefused(self.request("POST", "/api/files?roomId=st-main&orgId=org-st&name=a", raw=body), 401)

    def test_oversized_upload_is_refused_before_its_body(self):
        connection = http.client.HTTPConnection("127.0.0.1", self.port, timeout=10)
        connection.putrequest("POST", "/api/files?roomId=st-main&orgId=org-st&name=big.bin")
        for name, value in (("X-Kesta-Client", "1"), ("Authorization", "Bearer " + self.member),
                            ("Content-Length", "100000001")):
            connection.putheader(name, value)
        connection.endheaders()
        response = connection.getresponse()
        self.assertEqual(response.status, 413)
        self.assertIn("error", json.loads(response.read()))
        connection.close()

    def test_broken_upload_leaves_nothing(self):
        before = self.request("GET", "/__test/state").json
        with socket.create_connection(("127.0.0.1", self.port), timeout=10) as raw:
            raw.sendall(("POST /api/files?roomId=st-main&orgId=org-st&name=half.bin HTTP/1.1\r\n"
                         "Host: x\r\nX-Kesta-Client: 1\r\nAuthorization: Bearer %s\r\n"
                         "Content-Length: 100000\r\n\r\n" % self.member).encode() + b"a" * 1000)
            raw.shutdown(socket.SHUT_WR)
            # The server is done with the request once it closes its side.
            while raw.recv(4096):
                pass
        after = self.request("GET", "/__test/state").json
        self.assertEqual(len(after["messages"]), len(before["messages"]))
        self.assertEqual(len(after["files"]), len(before["files"]))

    def test_download_refusals(self):
        self.assertRefused(self.request("GET", "/api/files/no-such-file", token=self.member), 404)
        self.assertRefused(self.request("GET", "/api/files/st-file-expired", token=self.member), 410)
        stranger = self.sign_in("selftest-deep")
        self.assertRefused(self.request("GET", "/api/files/st-file-1", token=stranger), 404)
        self.assertEqual(self.request("GET", "/api/files/st-file-1", token=self.member).body,
                         "Содержимое проверочного файла\n".encode("utf-8"))

    def test_hundred_million_bytes_stream_through_without_growing_the_server(self):
        size = 100000000
        block = b"\xab" * 65536

        def stream(total):
            left = total
            while left > 0:
                piece = block[:min(len(block), left)]
                left -= len(piece)
                yield piece

        def send(total):
            connection = http.client.HTTPConnection("127.0.0.1", self.port, timeout=60)
            connection.request("POST", "/api/files?roomId=st-main&orgId=org-st&name=big.bin", body=stream(total),
                               headers={"X-Kesta-Client": "1", "Authorization": "Bearer " + self.member,
                                        "Content-Length": str(total)})
            response = connection.getresponse()
            result = (response.status, response.read())
            connection.close()
            return result

        self.assertEqual(send(1 << 20)[0], 201)
        before = rss_kib(self.process.pid)
        status, body = send(size)
        grown = rss_kib(self.process.pid) - before
        self.assertEqual(status, 201, body)
        self.assertLess(grown, 4096, "server grew by %d KiB" % grown)
        file_id = json.loads(body)["id"]
        connection = http.client.HTTPConnection("127.0.0.1", self.port, timeout=60)
        connection.request("GET", "/api/files/" + file_id,
                           headers={"X-Kesta-Client": "1", "Authorization": "Bearer " + self.member})
        response = connection.getresponse()
        self.assertEqual(response.getheader("Content-Length"), str(size))
        received = 0
        while True:
            data = response.read(1 << 20)
            if not data:
                break
            received += len(data)
        connection.close()
        self.assertEqual(received, size)
        self.assertLess(rss_kib(self.process.pid) - before, 4096)
        # The request log keeps only the length of such a body.
        record = [r for r in self.request("GET", "/__test/log").json if r["bodyLength"] == size][-1]
        self.assertIsNone(record["body"])


if __name__ == "__main__":
    unittest.main()
