"""HTTPS end to end: the transport against the local server with --tls,
directly and through a forwarding proxy.

A throw-away authority and a "localhost" certificate are made with openssl;
the authority is trusted only inside the build's Wine prefix (its registry
root store) for the middle of the test and removed again at the end, so
nothing outside the prefix changes. The C++ side is the "TLS step" case of
test_net.exe, run once per step because Wine reads the trusted roots once
per process. Through the proxy the server is named "support.kesta.invalid",
which only the proxy can reach: a request that went around it would fail.
"""
import os
import shutil
import subprocess
import sys
import tempfile
import unittest

SOURCE = os.environ.get("KESTA_SOURCE_DIR") or os.path.dirname(os.path.dirname(os.path.dirname(
    os.path.abspath(__file__))))
BUILD = os.environ.get("KESTA_BUILD_DIR") or os.path.join(SOURCE, "build")
EXE = os.path.join(BUILD, "tests", "test_net.exe")
sys.path.insert(0, os.path.join(SOURCE, "tools", "testing"))
sys.path.insert(0, os.path.join(SOURCE, "tests", "e2e"))
from kesta_run import run_kesta, stdin_json  # noqa: E402
from relay import Relay  # noqa: E402

PROXIED_NAME = "support.kesta.invalid"


def windows_path(path):
    return "Z:" + path.replace("/", "\\")


class HttpsTransport(unittest.TestCase):
    def setUp(self):
        if shutil.which("openssl") is None:
            self.skipTest("openssl is not installed: HTTPS test skipped")
        if not os.path.exists(EXE):
            self.skipTest("%s is not built" % EXE)
        self.folder = tempfile.mkdtemp(prefix="kesta-tls-")
        self.addCleanup(shutil.rmtree, self.folder, True)
        subprocess.run(["bash", os.path.join(SOURCE, "tools", "server", "make_cert.sh"), self.folder],
                       check=True, stdout=subprocess.DEVNULL)
        self.server = subprocess.Popen(
            [sys.executable, os.path.join(SOURCE, "tools", "server", "server.py"), "--port", "0",
             "--data", "selftest", "--tls", os.path.join(self.folder, "localhost.crt"),
             os.path.join(self.folder, "localhost.key")],
            stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True)
        self.addCleanup(self.stop_server)
        line = self.server.stdout.readline().strip()
        self.assertTrue(line.startswith("PORT "), "the server did not start: %r" % line)
        self.port = line.split()[1]
        self.address = "https://localhost:" + self.port
        self.proxied_address = "https://%s:%s" % (PROXIED_NAME, self.port)
        self.proxy = Relay(int(self.port), proxy=True)
        self.addCleanup(self.proxy.close)

    def stop_server(self):
        self.server.stdout.close()
        self.server.terminate()
        try:
            self.server.wait(timeout=10)
        except subprocess.TimeoutExpired:
            self.server.kill()
            self.server.wait()

    def step(self, name, server=None):
        env = dict(os.environ, KESTA_TLS_STEP=name, KESTA_TLS_SERVER=server or self.address,
                   KESTA_TLS_CA=windows_path(os.path.join(self.folder, "ca.crt")), KESTA_TLS_PROXY=self.proxy.url)
        run = subprocess.run([os.path.join(SOURCE, "tools", "wine-run.sh"), EXE, "--test-case=TLS step", "--no-skip"],
                             env=env, stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True, timeout=120)
        self.assertEqual(run.returncode, 0, "step %s failed:\n%s" % (name, run.stdout))
        self.assertIn("1 passed", run.stdout, "step %s ran no test:\n%s" % (name, run.stdout))

    def self_test(self, *options):
        run = run_kesta(list(options) + ["--self-test", "REPORT"],
                        stdin_json(login="selftest-admin", password="kesta"))
        self.assertEqual(run.code, 0, run.output.decode("utf-8", "replace")[-2000:])
        self.assertEqual(run.report["result"], "passed")

    def test_certificate_accepted_only_while_its_authority_is_trusted(self):
        self.step("untrust")
        self.step("untrusted")
        try:
            self.step("trust")
            self.step("trusted")
            # Wine's own settings name no proxy: the client goes direct.
            self.self_test("--server", self.address)
            self.assertEqual(self.proxy.tunnels, [])
            # Wine fails the revocation check of a certificate that names no
            # revocation server, with no reason given, and knows no option to
            # let that pass: each new connection is tried once with the check
            # and once without it.
            self.step("proxied", self.proxied_address)
            self.assertEqual(self.proxy.tunnels, ["%s:%s" % (PROXIED_NAME, self.port)] * 2)
            # The whole self-test through the proxy, on the one kept tunnel.
            self.self_test("--server", self.proxied_address, "--proxy", self.proxy.url)
            self.assertEqual(len(self.proxy.tunnels), 4)
        finally:
            self.step("untrust")
        self.step("untrusted")


if __name__ == "__main__":
    unittest.main()
