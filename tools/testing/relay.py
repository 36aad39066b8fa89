"""A TCP relay on 127.0.0.1 in front of a local port, for tests and benchmarks.

Relay(target_port) passes every connection on to target_port and counts the
connections and bytes it carried. With proxy=True it is a forwarding proxy
instead: each connection starts with a CONNECT request, whatever host it
names is reached at target_port, and the targets are kept in `tunnels`.
With delay (seconds) it is a slow link: every piece of traffic is held that
long in each direction, and the first piece of each new connection
first_delay longer (the TCP handshake a real link would cost first). With
rate (bytes per second) each direction of each connection is also that
narrow: a piece goes out only once the pieces before it have, and takes its
length over the rate. `down()` counts the bytes passed to the client.
"""
import socket
import threading
import time


class Relay:
    def __init__(self, target_port, proxy=False, delay=0.0, first_delay=0.0, rate=0):
        self.target_port = target_port
        self.proxy = proxy
        self.delay = delay
        self.first_delay = first_delay
        self.rate = rate
        self.lock = threading.Lock()
        self.connections = 0
        self.bytes = 0
        self.down_bytes = 0
        self.tunnels = []
        self.listener = socket.socket()
        self.listener.bind(("127.0.0.1", 0))
        self.listener.listen(64)
        self.port = self.listener.getsockname()[1]
        self.url = "http://127.0.0.1:%d" % self.port
        threading.Thread(target=self._accept, daemon=True).start()

    def count(self):
        with self.lock:
            return self.bytes

    def down(self):
        with self.lock:
            return self.down_bytes

    def opened(self):
        with self.lock:
            return self.connections

    def close(self):
        self.listener.close()

    def _accept(self):
        while True:
            try:
                client, _ = self.listener.accept()
            except OSError:
                return
            with self.lock:
                self.connections += 1
            threading.Thread(target=self._serve, args=(client,), daemon=True).start()

    def _serve(self, client):
        # Pieces are passed on as they come: no piece waits for the one after.
        client.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
        early = b""
        if self.proxy:
            head = b""
            while b"\r\n\r\n" not in head:
                data = client.recv(65536)
                if not data:
                    client.close()
                    return
                head += data
            head, early = head.split(b"\r\n\r\n", 1)
            words = head.split(b"\r\n")[0].split()
            if len(words) < 2 or words[0] != b"CONNECT":
                client.sendall(b"HTTP/1.1 405 Only CONNECT\r\nContent-Length: 0\r\nConnection: close\r\n\r\n")
                client.close()
                return
            with self.lock:
                self.tunnels.append(words[1].decode("ascii", "replace"))
        try:
            upstream = socket.create_connection(("127.0.0.1", self.target_port))
        except OSError:
            client.close()
            return
        upstream.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
        if self.proxy:
            client.sendall(b"HTTP/1.1 200 Connection established\r\n\r\n")
        threading.Thread(target=self._pipe, args=(upstream, client, 0.0, b"", True), daemon=True).start()
        self._pipe(client, upstream, self.first_delay, early)

    def _pipe(self, source, sink, first_delay, early, down=False):
        if not self.delay and not first_delay and not self.rate:
            self._pass(source, sink, early, down)
            return
        # Held pieces go out in order from a thread of their own, so reading
        # goes on while they wait.
        held = []
        ready = threading.Condition()

        def send_held():
            while True:
                with ready:
                    while not held:
                        ready.wait()
                    due, data = held[0]
                    wait = due - time.monotonic()
                    if wait > 0:
                        ready.wait(wait)
                        continue
                    held.pop(0)
                if data is None or not self._send(sink, data, down):
                    break
            self._close(source, sink)

        threading.Thread(target=send_held, daemon=True).start()
        extra = first_delay
        data = early
        link_free = 0.0  # when the narrow link has sent what it was given
        while True:
            if data:
                now = time.monotonic()
                sent = now
                if self.rate:
                    link_free = max(link_free, now) + len(data) / self.rate
                    sent = link_free
                with ready:
                    held.append((sent + self.delay + extra, data))
                    ready.notify()
                extra = 0.0
            try:
                data = source.recv(65536)
            except OSError:
                data = b""
            if not data:
                break
        with ready:
            held.append((max(time.monotonic(), link_free) + self.delay, None))
            ready.notify()

    def _pass(self, source, sink, early, down=False):
        data = early
        while True:
            if data and not self._send(sink, data, down):
                break
            try:
                data = source.recv(65536)
            except OSError:
                break
            if not data:
                break
        self._close(source, sink)

    def _send(self, sink, data, down=False):
        with self.lock:
            self.bytes += len(data)
            if down:
                self.down_bytes += len(data)
        try:
            sink.sendall(data)
            return True
        except OSError:
            return False

    @staticmethod
    def _close(source, sink):
        for s in (source, sink):
            try:
                s.shutdown(socket.SHUT_RDWR)
            except OSError:
                pass
            s.close()
