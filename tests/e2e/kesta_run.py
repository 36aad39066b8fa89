"""Runs the real kesta.exe under Wine against a fresh local support server."""
import json
import os
import shutil
import signal
import subprocess
import sys
import tempfile
import time
import urllib.request

ROOT = os.environ.get("KESTA_SOURCE_DIR") or os.path.abspath(os.path.join(os.path.dirname(__file__), "..", ".."))
BUILD = os.environ.get("KESTA_BUILD_DIR") or os.path.join(ROOT, "build")
EXE = os.path.join(BUILD, "kesta.exe")
WINE_RUN = os.path.join(ROOT, "tools", "wine-run.sh")


class Server:
    """The local support server on a free port; stopped by close()."""

    def __init__(self, data="selftest", extra=()):
        self.process = subprocess.Popen(
            [sys.executable, os.path.join(ROOT, "tools", "server", "server.py"), "--port", "0", "--data", data,
             "--test-controls"] + list(extra),
            stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True)
        line = self.process.stdout.readline().strip()
        if not line.startswith("PORT "):
            self.close()
            raise RuntimeError("server did not start: %r" % line)
        self.url = "http://127.0.0.1:" + line.split()[1]

    def get(self, path):
        with urllib.request.urlopen(self.url + path, timeout=10) as reply:
            return json.loads(reply.read().decode("utf-8"))

    def post(self, path, body=None):
        data = json.dumps(body or {}).encode("utf-8")
        request = urllib.request.Request(self.url + path, data=data, method="POST",
                                         headers={"Content-Type": "application/json"})
        with urllib.request.urlopen(request, timeout=10) as reply:
            return json.loads(reply.read().decode("utf-8") or "{}")

    def set_password(self, login, password):
        self.post("/__test/password", {"login": login, "password": password})

    def state(self):
        return self.get("/__test/state")

    def log(self):
        return self.get("/__test/log")

    def close(self):
        if self.process.poll() is None:
            self.process.send_signal(signal.SIGTERM)
            try:
                self.process.wait(timeout=10)
            except subprocess.TimeoutExpired:
                self.process.kill()


def windows_path(path):
    return "Z:" + path.replace("/", "\\")


class Run:
    def __init__(self, code, report, elapsed, raw, output=b"", left=()):
        self.code = code
        self.report = report
        self.elapsed = elapsed
        self.raw = raw
        self.output = output    # standard output and standard error
        self.left = list(left)  # what the run left in its working folder besides the report


def run_kesta(args, stdin=b"", timeout=150, exe=EXE, prefix=None):
    """Runs kesta.exe (or another copy of it, exe) with the arguments in the
    build's Wine prefix (or prefix); REPORT in them is replaced by a fresh
    report path. Returns the exit code and the parsed report (None if none)."""
    folder = tempfile.mkdtemp(prefix="kesta-e2e-")
    report = os.path.join(folder, "report.json")
    args = [windows_path(report) if a == "REPORT" else a for a in args]
    env = dict(os.environ)
    env.setdefault("WINEPREFIX", os.path.join(BUILD, "wineprefix"))
    env.setdefault("WINEDEBUG", "-all")
    env.setdefault("WINEDLLOVERRIDES", "mscoree,mshtml=")
    if prefix:
        env["KESTA_WINEPREFIX"] = prefix
    started = time.monotonic()
    # The run's working folder is the report's folder, so whatever else it
    # writes there is seen. Its output goes to a file, not a pipe: a Wine
    # service started by the run would hold a pipe open long after it ended.
    with tempfile.TemporaryFile() as output:
        completed = subprocess.run([WINE_RUN, exe] + args, input=stdin, stdout=output, stderr=subprocess.STDOUT,
                                   timeout=timeout, env=env, cwd=folder)
        output.seek(0)
        printed = output.read()
    elapsed = time.monotonic() - started
    raw = None
    parsed = None
    if os.path.exists(report):
        with open(report, "rb") as f:
            raw = f.read()
        parsed = json.loads(raw.decode("ascii"))
        os.remove(report)
    left = sorted(os.listdir(folder))
    shutil.rmtree(folder)
    return Run(completed.returncode, parsed, elapsed, raw, printed, left)


REPORT_KEYS = ["result", "nativeUi", "messageRoundTrip", "messageModeration", "messageActions",
               "historyPagination", "historySearch", "latestReturn", "historyPages", "maxHistoryCharacters",
               "networkOffUiThread", "elapsedMs"]
SCENARIO_KEYS = ["messageRoundTrip", "messageModeration", "messageActions", "historyPagination",
                 "historySearch", "latestReturn"]


def stdin_json(**members):
    return json.dumps(members, ensure_ascii=False).encode("utf-8")
