#!/usr/bin/env python3
"""Runs the benchmark programs, prints one table and rewrites BENCHMARKS.md.

python3 tools/bench/run_bench.py BUILD_DIR [--quick] [--only=read,window,net]

Expects the programs built in BUILD_DIR (tools/bench.sh does that), Wine's
environment set (WINEPREFIX, DISPLAY), and runs from the repository root.
Every figure is a median of several runs and is set against a reference
measured in the same run; the last line printed is "targets: M met, N missed".
"""
import datetime
import json
import os
import platform
import signal
import socket
import statistics
import subprocess
import sys
import threading
import time

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
sys.path.insert(0, os.path.join(ROOT, "tools", "testing"))
from relay import Relay  # noqa: E402

MIB = 1024 * 1024
UPLOAD_BYTES = 100000000
# The slow link: its round trip, and the ways the transport comes by its
# session, the old ones first.
RTT = 0.050
# The narrow slow link: 2 Mbit/s each way.
NARROW_RATE = 2000000 // 8
SESSION_USES = ("own-session", "own-connection", "shared")


def windows_path(path):
    return "Z:" + os.path.abspath(path).replace("/", "\\")


def wine(args, stdin=None, timeout=900, env=None):
    """Runs a program under Wine; returns its JSON records."""
    proc = subprocess.run(["wine"] + args, input=stdin, capture_output=True, timeout=timeout,
                          env=dict(os.environ, **(env or {})))
    records = []
    for line in proc.stdout.decode("utf-8", "replace").splitlines():
        line = line.strip()
        if not line.startswith("{"):
            continue
        record = json.loads(line)
        if "error" in record:
            raise RuntimeError("%s: %s" % (os.path.basename(args[0]), record["error"]))
        records.append(record)
    if proc.returncode != 0:
        raise RuntimeError("%s exited with %d: %s" % (os.path.basename(args[0]), proc.returncode,
                                                     proc.stderr.decode("utf-8", "replace")[-2000:]))
    return records


class Server:
    """The local support server with demo data and test controls (over TLS
    with tls=(certificate, key))."""

    def __init__(self, tls=None, extra=()):
        self.proc = subprocess.Popen(
            [sys.executable, os.path.join(ROOT, "tools/server/server.py"), "--port", "0", "--data", "demo",
             "--test-controls"] + (["--tls", tls[0], tls[1]] if tls else []) + list(extra),
            stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
        line = self.proc.stdout.readline().decode().split()
        if len(line) != 2 or line[0] != "PORT":
            raise RuntimeError("the local server did not start")
        self.port = int(line[1])
        self.url = "http://127.0.0.1:%d" % self.port

    def stop(self):
        self.proc.send_signal(signal.SIGTERM)
        try:
            self.proc.wait(timeout=20)
        except subprocess.TimeoutExpired:
            self.proc.kill()


def by_case(records):
    return {r["case"]: r for r in records}


# --- the parts --------------------------------------------------------------

def part_read(bench, rounds):
    return by_case(wine([os.path.join(bench, "bench_read.exe"), str(rounds)]))


def part_window(bench, rounds):
    return by_case(wine([os.path.join(bench, "bench_window.exe"), "refresh", str(rounds)]))


def curl_time(args):
    out = subprocess.run(["curl", "-s", "-S", "-o", "/dev/null", "-w", "%{time_total} %{http_code}"] + args,
                         capture_output=True, timeout=300, check=True).stdout.decode().split()
    if not out[1].startswith("2"):
        raise RuntimeError("curl got status %s" % out[1])
    return float(out[0])


def part_transfer(bench, server, rounds, data_dir):
    path = os.path.join(data_dir, "upload.bin")
    if not os.path.exists(path) or os.path.getsize(path) != UPLOAD_BYTES:
        with open(path, "wb") as f:
            for _ in range(UPLOAD_BYTES // 1000000):
                f.write(os.urandom(1000000))
    client = {"upload": [], "download": []}
    memory = {"upload": [], "download": []}
    bare = {"upload": [], "download": []}
    curl = {"upload": [], "download": []}
    client_args = [os.path.join(bench, "bench_transfer.exe"), server.url, windows_path(path), "1"]
    # A first run gives the session and a file for the references and warms
    # the server and the page cache; its figures are not kept.
    records = wine(client_args)
    session = next(r for r in records if r["case"] == "session")
    file_id = next(r for r in records if r["case"] == "file")["id"]
    headers = ["-H", "X-Kesta-Client: 1", "-H", "Authorization: Bearer " + session["token"]]

    def run_client():
        for r in wine(client_args):
            if r["case"] in client:
                client[r["case"]].append(r["seconds"])
                memory[r["case"]].append(r["peakGrowth"])

    def run_bare():
        for r in wine([os.path.join(bench, "bare_transfer.exe"), server.url, session["token"], session["org"],
                       session["room"], windows_path(path), "1"]):
            bare[r["case"]].append(r["seconds"])

    def run_curl():
        curl["upload"].append(curl_time(
            ["-X", "POST", "-T", path, "-H", "Expect:"] + headers +
            ["%s/api/files?roomId=%s&orgId=%s&name=curl-upload.bin" % (server.url, session["room"], session["org"])]))
        curl["download"].append(curl_time(headers + ["%s/api/files/%s" % (server.url, file_id)]))

    # Each way goes first, second and third equally often: a transfer right
    # after another's upload shares the disk with that upload's write-back.
    ways = [run_client, run_bare, run_curl]
    for i in range(rounds):
        k = i % len(ways)
        for way in ways[k:] + ways[:k]:
            way()
    result = {}
    for kind in ("upload", "download"):
        result[kind] = {
            "client": statistics.median(client[kind]),
            "bare": statistics.median(bare[kind]),
            "curl": statistics.median(curl[kind]),
            "memory": max(memory[kind]),
        }
    return result


def part_start(bench, build, rounds):
    return wine([os.path.join(bench, "bench_start.exe"), str(rounds), windows_path(os.path.join(build, "kesta.exe")),
                 "KestaSupportMain", windows_path(os.path.join(bench, "bare_window.exe")), "KestaSupportMain",
                 windows_path(os.path.join(bench, "minimal_window.exe")), "KestaBenchMinimal",
                 "--server", "http://127.0.0.1:9"])[0]


def part_day(bench, server, count):
    return wine([os.path.join(bench, "bench_window.exe"), "day", server.url, str(count)], timeout=1800)[0]


class TrustedAuthority:
    """A throw-away authority for the local server's certificate, trusted in
    the benchmark's own Wine prefix while the part runs."""

    def __init__(self, build, data_dir):
        self.folder = os.path.join(data_dir, "tls")
        subprocess.run(["bash", os.path.join(ROOT, "tools/server/make_cert.sh"), self.folder], check=True,
                       stdout=subprocess.DEVNULL)
        self.trust = os.path.join(build, "tests", "test_net.exe")
        self.tls = (os.path.join(self.folder, "localhost.crt"), os.path.join(self.folder, "localhost.key"))

    def step(self, name):
        wine([self.trust, "--test-case=TLS step", "--no-skip"],
             env={"KESTA_TLS_STEP": name, "KESTA_TLS_CA": windows_path(os.path.join(self.folder, "ca.crt"))})

    def __enter__(self):
        self.step("untrust")
        self.step("trust")
        return self

    def __exit__(self, *exc):
        self.step("untrust")


def part_slow_page(build, bench, rounds, data_dir):
    """A 200-message page's refresh over a narrow slow link, with the server's
    compression and without it: the relay's bytes to the client during the
    timed rounds, and their times."""
    results = {}
    with TrustedAuthority(build, data_dir) as authority:
        for coding, extra in (("gzip", ()), ("none", ("--no-compression",))):
            server = Server(tls=authority.tls, extra=extra)
            relay = Relay(server.port, delay=RTT / 2, first_delay=RTT, rate=NARROW_RATE)
            try:
                proc = subprocess.Popen(
                    ["wine", os.path.join(bench, "bench_window.exe"), "slowpage", "https://localhost:%d" % relay.port,
                     "https://localhost:%d" % server.port, str(rounds)],
                    stdout=subprocess.PIPE, stderr=subprocess.PIPE)
                record, ready = None, None
                for line in proc.stdout:
                    line = line.decode("utf-8", "replace").strip()
                    if not line.startswith("{"):
                        continue
                    item = json.loads(line)
                    if "error" in item:
                        raise RuntimeError("bench_window.exe: %s" % item["error"])
                    if item.get("case") == "ready":
                        ready = relay.down()
                    else:
                        record = item
                        after = relay.down()
                if proc.wait(timeout=900) != 0 or record is None or ready is None:
                    raise RuntimeError("bench_window.exe slowpage failed: %s" % proc.stderr.read()[-2000:])
                record["bytes"] = (after - ready) / rounds
                results[coding] = record
            finally:
                relay.close()
                server.stop()
    return results


def part_slow_link(build, bench, rounds, data_dir):
    """The window's refresh and send over a slow link: the local server with
    TLS behind a relay holding each piece half a round trip each way, its
    throw-away authority trusted in the benchmark's own Wine prefix while the
    part runs. One process per way of coming by the session, the old ones
    first, so Wine's process-wide pool of connections carries nothing over."""
    with TrustedAuthority(build, data_dir) as authority:
        server = Server(tls=authority.tls)
        relay = Relay(server.port, delay=RTT / 2, first_delay=RTT)
        try:
            results = {}
            for use in SESSION_USES:
                results[use] = by_case(wine([os.path.join(bench, "bench_window.exe"), "slowlink",
                                             "https://localhost:%d" % relay.port, str(rounds), use]))
            return results
        finally:
            relay.close()
            server.stop()


def process_cpu_seconds(pid):
    with open("/proc/%d/stat" % pid) as f:
        fields = f.read().rsplit(")", 1)[1].split()
    return (int(fields[11]) + int(fields[12])) / os.sysconf("SC_CLK_TCK")


def find_client_pid(started_after):
    """The Linux process that runs kesta.exe under Wine (the newest one)."""
    best = None
    for name in os.listdir("/proc"):
        if not name.isdigit():
            continue
        try:
            with open("/proc/%s/cmdline" % name, "rb") as f:
                cmd = f.read().replace(b"\0", b" ").decode("utf-8", "replace")
            start = os.stat("/proc/" + name).st_mtime
        except OSError:
            continue
        if "build-bench" in cmd and "kesta.exe" in cmd and "start.exe" not in cmd and start >= started_after - 1:
            if best is None or int(name) > best:
                best = int(name)
    return best


def part_idle(build, seconds, extra=()):
    server = Server(extra=extra)
    try:
        return idle_minute(build, server, seconds)
    finally:
        server.stop()


def idle_minute(build, server, seconds):
    proxy = Relay(server.port)
    started = time.time()
    proc = subprocess.Popen(["wine", os.path.join(build, "kesta.exe"), "--server",
                             "http://127.0.0.1:%d" % proxy.port, "--login-stdin"],
                            stdin=subprocess.PIPE, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    try:
        proc.stdin.write(b'{"login":"operator","password":"kesta"}')
        proc.stdin.close()
        # Sign-in, the list, the first room's page, then steady periodic refreshes.
        time.sleep(10)
        pid = find_client_pid(started)
        if pid is None:
            raise RuntimeError("the client's process was not found")
        bytes0, cpu0, t0 = proxy.count(), process_cpu_seconds(pid), time.time()
        if bytes0 == 0:
            raise RuntimeError("the client never reached the server")
        time.sleep(seconds)
        bytes1, cpu1, t1 = proxy.count(), process_cpu_seconds(pid), time.time()
        minutes = (t1 - t0) / 60
        return {"bytes": (bytes1 - bytes0) / minutes, "cpu": (cpu1 - cpu0) / minutes, "seconds": t1 - t0}
    finally:
        proc.terminate()
        try:
            proc.wait(timeout=10)
        except subprocess.TimeoutExpired:
            proc.kill()
        # The client's own process, which the wine launcher may have left running.
        pid = find_client_pid(started)
        if pid:
            try:
                os.kill(pid, signal.SIGTERM)
            except OSError:
                pass
        proxy.close()


# --- the table --------------------------------------------------------------

def ms(seconds):
    return "%.3f ms" % (seconds * 1000) if seconds < 0.01 else "%.1f ms" % (seconds * 1000)


def with_handler(record, key):
    """The window thread's time, with the part spent in the result handler
    (the rest is the painting it causes)."""
    return "%s (handler %s)" % (ms(record[key]), ms(record[key + "Handler"]))


def mib(value):
    return "%.2f MiB" % (value / MIB)


class Table:
    def __init__(self):
        self.rows = []
        self.met = 0
        self.missed = 0

    def add(self, measure, case, ours, reference, ratio, target="", met=None):
        verdict = ""
        if met is not None:
            verdict = "met" if met else "MISSED"
            if met:
                self.met += 1
            else:
                self.missed += 1
        self.rows.append((measure, case, ours, reference, ratio, target, verdict))

    def markdown(self):
        head = ("measure", "case", "client", "reference (same run)", "ratio", "target", "")
        lines = ["| " + " | ".join(head) + " |", "|" + "---|" * len(head)]
        for row in self.rows:
            lines.append("| " + " | ".join(row) + " |")
        return "\n".join(lines)


READ_CASES = (("history50", "history page, 50 messages"), ("history200", "history page, 200 messages"),
              ("history500", "history page, 500 messages"), ("rooms1000", "rooms list, 1000 rooms"),
              ("rooms10000", "rooms list, 10000 rooms"), ("cases2000", "cases list, 2000 cases"))


def add_reading(t, read):
    for case, label in READ_CASES:
        r = read[case]
        ratio = r["ours"] / r["jsmn"]
        t.add("reading replies", "%s (%d KB)" % (label, r["bytes"] / 1000), ms(r["ours"]),
              "jsmn alone %s; before, jsmn without parent links %s; parse and kept texts %s (%.2f× jsmn); "
              "DOM %s; plain pass %s" % (
                  ms(r["jsmn"]), ms(r["jsmnOld"]), ms(r["kept"]), r["kept"] / r["jsmn"], ms(r["dom"]),
                  ms(r["floor"])),
              "%.2f× jsmn (%.2f× DOM)" % (ratio, r["ours"] / r["dom"]), "≤ 1.5× jsmn", ratio <= 1.5)
    # parse alone, the same bytes: what the reading costs before any member is read.
    for case, label in READ_CASES:
        r = read[case]
        ratio = r["parse"] / r["jsmn"]
        t.add("parse alone", "%s (%d KB)" % (label, r["bytes"] / 1000), ms(r["parse"]),
              "jsmn alone %s" % ms(r["jsmn"]), "%.2f× jsmn" % ratio, "≤ 1.5× jsmn", ratio <= 1.5)
    r = read["worst32768"]
    t.add("reading replies", "32768 values, [[],[],…] (parse only)", ms(r["ours"]),
          "jsmn alone %s; before, jsmn without parent links %s; DOM %s; plain pass %s" % (
              ms(r["jsmn"]), ms(r["jsmnOld"]), ms(r["dom"]), ms(r["floor"])),
          "%.2f× jsmn (%.0f× DOM)" % (r["ours"] / r["jsmn"], r["ours"] / r["dom"]), "(reported)")
    r = read["nested16384"]
    t.add("reading replies", "16384 nested arrays (parse only)", ms(r["ours"]),
          "jsmn alone %s; before, jsmn without parent links %s; DOM %s; plain pass %s" % (
              ms(r["jsmn"]), ms(r["jsmnOld"]), ms(r["dom"]), ms(r["floor"])),
          "%.2f× jsmn (%.0f× DOM)" % (r["ours"] / r["jsmn"], r["ours"] / r["dom"]), "(reported)")


def add_window(t, window):
    for count in (50, 200, 500):
        w = window["messages%d" % count]
        target = count in (200, 500)
        t.add("window thread per refresh", "%d messages, changed page" % count, with_handler(w, "changed"),
              "bare SetWindowTextW %s (%d chars)" % (ms(w["bare"]), w["chars"]),
              "%.2f×" % (w["changed"] / w["bare"]), "≤ 16 ms" if target else "(reported)",
              w["changed"] <= 0.016 if target else None)
        t.add("window thread per refresh", "%d messages, unchanged page" % count, with_handler(w, "unchanged"),
              "bare SetWindowTextW %s" % ms(w["bare"]), "%.3f×" % (w["unchanged"] / w["bare"]), "≤ 1 ms",
              w["unchanged"] <= 0.001)
    for count in (1000, 10000):
        w = window["rooms%d" % count]
        t.add("window thread per refresh", "%d rooms, changed list (one room retitled)" % count,
              "%s; read before on the worker %s" % (with_handler(w, "changed"), ms(w["changedWorker"])), "bare list box fill %s (%d rows)" % (ms(w["bare"]), w["rows"]),
              "%.2f×" % (w["changed"] / w["bare"]), "≤ 16 ms", w["changed"] <= 0.016)
        t.add("window thread per refresh", "%d rooms, unchanged list" % count, with_handler(w, "unchanged"),
              "bare list box fill %s" % ms(w["bare"]), "%.3f×" % (w["unchanged"] / w["bare"]), "≤ 1 ms",
              w["unchanged"] <= 0.001)
    w = window["rooms10000"]
    t.add("window thread per refresh", "10000 rooms, first fill", with_handler(w, "first"),
          "bare list box fill %s" % ms(w["bare"]), "%.2f×" % (w["first"] / w["bare"]), "(reported)")
    t.add("staying open", "what a list of 10000 rooms keeps: the window's records of it (rows, lines, the "
          "reply compared with the next); working set added by its first two fills",
          "%s; %s" % (mib(w["records"]), mib(w["workingSet"])), "", "", "(reported)")


def add_network(t, results):
    """The rows of the network parts: the idle minute with and without
    compression, the narrow slow link, the slow link."""
    if "idle" in results:
        i, plain = results["idle"], results["idle-plain"]
        t.add("staying open", "idle minute, signed in, refresh every 4 s (measured %.0f s), replies compressed" % i["seconds"],
              "%.1f KB network, %.2f s CPU per minute" % (i["bytes"] / 1000, i["cpu"]),
              "the server not compressing: %.1f KB, %.2f s CPU" % (plain["bytes"] / 1000, plain["cpu"]),
              "%.2f× the bytes" % (i["bytes"] / plain["bytes"]), "(reported)")
    if "slowpage" in results:
        page = results["slowpage"]
        gz, raw = page["gzip"], page["none"]
        requests = int(round(gz["requests"]))
        floor = gz["bytes"] / NARROW_RATE + RTT * requests
        ratio = gz["seconds"] / floor
        t.add("slow link, 2 Mbit/s and 50 ms round trip, HTTPS",
              "refresh of a 200-message page (list, history, read mark): job start to result on the window thread",
              "%s; %.1f KB to the client" % (ms(gz["seconds"]), gz["bytes"] / 1000),
              "floor: those bytes at 2 Mbit/s and %d round trips %s; uncompressed %s (%.1f KB)" % (
                  requests, ms(floor), ms(raw["seconds"]), raw["bytes"] / 1000),
              "%.2f× floor (uncompressed %.2f× the time)" % (ratio, raw["seconds"] / gz["seconds"]),
              "≤ 1.5× floor", ratio <= 1.5)
    if "slow" in results:
        slow = results["slow"]
        for case, label in (("refresh", "periodic refresh (list, history, read mark)"),
                            ("send", "a send and the refresh after it")):
            new, old, pooled = (slow[use][case] for use in ("shared", "own-session", "own-connection"))
            requests = int(round(new["requests"]))
            floor = RTT * requests
            ratio = new["seconds"] / floor
            t.add("slow link, 50 ms round trip, HTTPS", "%s: job start to result on the window thread" % label,
                  "%s; %d connections opened by %d jobs" % (ms(new["seconds"]), new["connections"], new["rounds"]),
                  "floor %d round trips %s; before, the old transport %s (%d connections), the same with Windows' "
                  "per-session pool %s (%d connections)" % (
                      requests, ms(floor), ms(old["seconds"]), old["connections"], ms(pooled["seconds"]),
                      pooled["connections"]),
                  "%.2f× floor (before %.2f×, %.2f×)" % (ratio, old["seconds"] / floor, pooled["seconds"] / floor),
                  "≤ 1.5× floor", ratio <= 1.5)


def build_table(results):
    t = Table()
    if "read" in results:
        add_reading(t, results["read"])
    if "window" in results:
        add_window(t, results["window"])
    if "transfer" not in results:
        add_network(t, results)
        return t
    transfer = results["transfer"]
    for kind in ("upload", "download"):
        x = transfer[kind]
        ratio = x["bare"] / x["client"]
        t.add("transfer, 100000000 bytes", kind + ": throughput",
              "%.0f MB/s" % (UPLOAD_BYTES / x["client"] / 1e6),
              "bare WinHTTP %.0f MB/s; curl %.0f MB/s" % (UPLOAD_BYTES / x["bare"] / 1e6,
                                                          UPLOAD_BYTES / x["curl"] / 1e6),
              "%.2f× bare (%.2f× curl)" % (ratio, x["curl"] / x["client"]), "≥ 0.9× bare", ratio >= 0.9)
        t.add("transfer, 100000000 bytes", kind + ": peak working set growth (largest of the runs)",
              mib(x["memory"]), "", "", "< 2 MiB", x["memory"] < 2 * MIB)

    s = results["start"]
    for key, label in (("", "process start to main window created, laid out, shown"),
                       ("Idle", "… to idle with first painting done")):
        ratio = s["client" + key] / s["bare" + key]
        t.add("start-up", label, ms(s["client" + key]),
              "bare 38 controls %s; minimal window %s" % (ms(s["bare" + key]), ms(s["minimal" + key])),
              "%.2f× bare (%.2f× minimal)" % (ratio, s["client" + key] / s["minimal" + key]), "≤ 1.2× bare",
              ratio <= 1.2)

    d = results["day"]
    n = int(d["refreshes"])
    # Wine reports private bytes as 0; the working set (resident bytes) is
    # the stricter stand-in then, since it also counts touched code pages.
    if d["privateFirst"] > 0:
        key, label = "private", "private bytes"
    else:
        key, label = "workingSet", "working set (Wine reports private bytes as 0)"
    growth = d[key + "Last"] - d[key + "First"]
    t.add("staying open", "%s after first / %d refreshes (200 messages)" % (label, n),
          "%s → %s" % (mib(d[key + "First"]), mib(d[key + "Last"])), "", "%+.2f MiB" % (growth / MIB),
          "< 1 MiB growth", growth < MIB)
    t.add("staying open", "handles after first / %d refreshes" % n, "%d → %d" % (d["handlesFirst"], d["handlesLast"]),
          "", "%+d" % (d["handlesLast"] - d["handlesFirst"]), "no growth", d["handlesLast"] <= d["handlesFirst"])
    t.add("staying open", "threads after first / %d refreshes" % n, "%d → %d" % (d["threadsFirst"], d["threadsLast"]),
          "", "%+d" % (d["threadsLast"] - d["threadsFirst"]), "no growth", d["threadsLast"] <= d["threadsFirst"])
    t.add("staying open", "refreshes through workers and transport, failed: %d" % d["failed"],
          "%.1f refreshes/s" % (n / d["seconds"]), "", "", "(reported)")
    add_network(t, results)
    return t


def machine():
    model = ""
    try:
        with open("/proc/cpuinfo") as f:
            for line in f:
                if line.startswith("model name"):
                    model = line.split(":", 1)[1].strip()
                    break
    except OSError:
        pass
    wine_version = subprocess.run(["wine", "--version"], capture_output=True).stdout.decode().strip()
    return "%s, %d cores, %s, %s" % (model or platform.processor(), os.cpu_count() or 0, platform.platform(),
                                     wine_version)


def write_report(table, results, command, load):
    now = datetime.datetime.now(datetime.timezone.utc).strftime("%Y-%m-%d %H:%M UTC")
    text = """# Benchmarks

Latest run: {date}
Machine: {machine}
Load: {load}
Command: `{command}` (from the repository root)

{table}

targets: {met} met, {missed} missed

How to read it. Every client figure is a median of several runs, set against
references measured in the same run on the same machine, since these
machines are shared and noisy. The first reference of each row is the floor
the design allows, the least its fixed parts cost with nothing around them;
the others are context. Reading replies: jsmn alone (`jsmn_init` and
`jsmn_parse` with parent links, as the client uses it, over the same bytes
and a table large enough for them, nothing read), then jsmn as the client
used it before, without parent links (the old floor), then the least any reader keeping the window's records does (parse, and
the id, sender and text of every message, or the id and title of every
room, kept as wide strings, nothing else read), a DOM parser (RapidJSON)
reading the same members into the same records, and one plain pass over
the same bytes; the client's figure is
parse plus every member the window reads, from a copy of the reply made
before the clock starts (parse takes the text over); the parse alone rows
time `parse` by itself on the same copies, the document freed after the
clock stops (as jsmn's table outlives its figure), against the same jsmn
alone. Window thread: a bare
`SetWindowTextW` of the same transcript into a control of the transcript's
class, style and size, and the same lines (1000 or 10000) put into a list box of the
list's class, style and size; the time runs from the arrival of the result
to the end of the painting it causes, the part spent in the result handler
(reading the replies, updating the controls) in brackets; a list reply is
read into rows on the worker before it is posted, as the client's workers
do, and that reading's time is given after the window thread's. Transfers: a bare WinHTTP program
(same chunk size, same request headers, upload streamed from the file,
download written to a file and flushed), then curl, against the same local
server. Start-up: a bare program that loads the same rich edit library,
registers the same classes, creates the same 38 controls from the client's
own table with its font, lays them out with the client's layout and shows
the window; then a minimal one-window program, all under the same Wine.
Memory during transfers is `GetProcessMemoryInfo`'s `PeakWorkingSetSize`
after minus `WorkingSetSize` before the transfer (Wine fills both from the
process's resident set and reports `PrivateUsage` as 0). Handles are counted
in the system handle table (Wine answers `GetProcessHandleCount` with 0),
threads with a tool-help snapshot. The day
of refreshes runs the real workers and transport against the local server,
the room's history served as a 200-message page alternating between two
versions. The idle minute runs `kesta.exe` signed in as the demo operator,
its traffic counted by a forwarding relay, CPU time from the Wine process;
then the same against the server started with `--no-compression`.
The slow link puts a relay (`tools/testing/relay.py`) in front of the local
server with TLS: it holds every piece of traffic half a round trip (25 ms)
in each direction and the first piece of each new connection a round trip
more, for the TCP handshake; the authority of the server's throw-away
certificate is trusted in the benchmark's own Wine prefix while the part
runs. A real window with its real workers and transport, signed in as the
demo operator with the first room open, times each job from its start to
the arrival of its result on the window thread (a send: to its refresh's
result); the floor is one round trip per request the job made. Before: the
same window with the transport as it was, a session of each request's own,
and that with each connection closed after its request, which is what
Windows does when a session is closed (Wine keeps its pool of connections
for the whole process, so the old transport reuses connections here). The
connections are counted in the server's log. The narrow slow link is the
same relay also passing at most 2 Mbit/s in each direction of a connection,
the room's history served as a 200-message page; its floor is the bytes the
relay passed to the client during the timed refreshes at 2 Mbit/s plus one
round trip per request, and the same refresh against the server started with
`--no-compression` is the reference.
""".format(date=now, machine=machine(), command=command, table=table.markdown(), met=table.met,
           missed=table.missed, load=load)
    with open(os.path.join(ROOT, "BENCHMARKS.md"), "w", encoding="utf-8") as f:
        f.write(text)


def main():
    build = os.path.abspath(sys.argv[1] if len(sys.argv) > 1 else os.path.join(ROOT, "build-bench"))
    quick = "--quick" in sys.argv
    # --only read,window: those parts alone, printed, BENCHMARKS.md left alone.
    only = next((a.split("=", 1)[1].split(",") for a in sys.argv if a.startswith("--only=")), None)
    bench = os.path.join(build, "bench")
    data_dir = os.path.join(build, "bench-data")
    os.makedirs(data_dir, exist_ok=True)
    results = {}
    load_before = os.getloadavg()[0]
    server = Server()
    try:
        steps = [
            ("reading replies", lambda: results.__setitem__("read", part_read(bench, 5 if quick else 15))),
            ("window thread per refresh", lambda: results.__setitem__("window", part_window(bench, 3 if quick else 9))),
            ("transfers", lambda: results.__setitem__("transfer", part_transfer(bench, server, 1 if quick else 6,
                                                                                 data_dir))),
            ("start-up", lambda: results.__setitem__("start", part_start(bench, build, 3 if quick else 15))),
            ("staying open: refreshes", lambda: results.__setitem__("day", part_day(bench, server,
                                                                                   100 if quick else 2000))),
            ("staying open: idle minute", lambda: results.__setitem__("idle", part_idle(build, 15 if quick else 60))),
            ("staying open: idle minute, no compression",
             lambda: results.__setitem__("idle-plain", part_idle(build, 15 if quick else 60, ("--no-compression",)))),
            ("slow link, narrow", lambda: results.__setitem__("slowpage", part_slow_page(build, bench, 3 if quick else 9,
                                                                                       data_dir))),
            ("slow link", lambda: results.__setitem__("slow", part_slow_link(build, bench, 3 if quick else 12,
                                                                              data_dir))),
        ]
        keys = {"reading replies": "read", "window thread per refresh": "window", "staying open: idle minute": "net",
                "staying open: idle minute, no compression": "net", "slow link, narrow": "net", "slow link": "net"}
        for name, step in steps:
            if only is not None and keys.get(name) not in only:
                continue
            began = time.time()
            print("bench: %s…" % name, file=sys.stderr, flush=True)
            step()
            print("bench: %s done in %.0f s" % (name, time.time() - began), file=sys.stderr, flush=True)
    finally:
        server.stop()
    table = build_table(results)
    command = "bash tools/bench.sh" + (" --quick" if quick else "")
    # Other work on the machine skews every figure; the load says how much.
    load = "1-minute load average %.1f at the start, %.1f at the end (%d cores)" % (
        load_before, os.getloadavg()[0], os.cpu_count() or 0)
    if not quick and only is None:
        write_report(table, results, command, load)
    print(load)
    print(table.markdown())
    print("targets: %d met, %d missed" % (table.met, table.missed))


if __name__ == "__main__":
    main()
