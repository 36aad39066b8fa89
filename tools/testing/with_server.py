#!/usr/bin/env python3
"""Runs a command against a fresh local support server.

with_server.py [server arguments] -- command...

Starts tools/server/server.py on a free port with the given arguments, puts
its address into KESTA_TEST_SERVER (and the request log path into
KESTA_TEST_LOG when --log is not given), runs the command, stops the server
and exits with the command's status.
"""
import os
import signal
import subprocess
import sys
import tempfile

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))


def main():
    argv = sys.argv[1:]
    if "--" not in argv:
        print("usage: with_server.py [server args] -- command...", file=sys.stderr)
        return 2
    split = argv.index("--")
    server_args, command = argv[:split], argv[split + 1:]
    env = dict(os.environ)
    if "--log" not in server_args and "--test-controls" in server_args:
        fd, log_path = tempfile.mkstemp(prefix="kesta-server-", suffix=".jsonl")
        os.close(fd)
        server_args += ["--log", log_path]
        env["KESTA_TEST_LOG"] = log_path
    server = subprocess.Popen(
        [sys.executable, os.path.join(ROOT, "tools", "server", "server.py"), "--port", "0"] + server_args,
        stdout=subprocess.PIPE, text=True)
    try:
        line = server.stdout.readline().strip()
        if not line.startswith("PORT "):
            print("local support server did not start: %r" % line, file=sys.stderr)
            return 1
        env["KESTA_TEST_SERVER"] = "http://127.0.0.1:" + line.split()[1]
        return subprocess.call(command, env=env)
    finally:
        server.send_signal(signal.SIGTERM)
        try:
            server.wait(timeout=10)
        except subprocess.TimeoutExpired:
            server.kill()


if __name__ == "__main__":
    sys.exit(main())
