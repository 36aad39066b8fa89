"""The Windows release of the built kesta.exe (tools/release/package.py): the
portable zip is reproducible, the MSI installs per user into a fresh Wine
prefix, upgrades in place and uninstalls without leftovers, and a signed
release verifies and still runs."""
import glob
import hashlib
import os
import shutil
import subprocess
import sys
import tempfile
import unittest
import zipfile

ROOT = os.environ.get("KESTA_SOURCE_DIR") or os.path.abspath(os.path.join(os.path.dirname(__file__), "..", ".."))
sys.path.insert(0, os.path.join(ROOT, "tools", "release"))
sys.path.insert(0, os.path.join(ROOT, "tests", "e2e"))

import package  # noqa: E402
from kesta_run import EXE, WINE_RUN, Server, run_kesta, stdin_json, windows_path  # noqa: E402

SHORTCUT = package.PRODUCT_NAME + ".lnk"
ADMIN = dict(login="selftest-admin", password="kesta")
UNINSTALL_KEYS = [r"HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall",
                  r"HKCU\Software\Microsoft\Windows\CurrentVersion\Uninstall"]


def unsigned_env():
    return {k: v for k, v in os.environ.items() if not k.startswith("KESTA_SIGN_")}


def release(dist, env):
    """Runs the packaging command as tools/release.sh does; its output."""
    done = subprocess.run([sys.executable, os.path.join(ROOT, "tools", "release", "package.py"), EXE, dist],
                          env=env, capture_output=True, text=True, timeout=120)
    if done.returncode != 0:
        raise AssertionError("package.py failed:\n" + done.stdout + done.stderr)
    return done.stdout + done.stderr


def one(pattern):
    found = glob.glob(pattern)
    assert len(found) == 1, (pattern, found)
    return found[0]


def self_test_passes(case, exe, prefix=None):
    server = Server()
    try:
        run = run_kesta(["--server", server.url, "--self-test", "REPORT"], stdin_json(**ADMIN), exe=exe, prefix=prefix)
    finally:
        server.close()
    case.assertEqual(run.code, 0)
    case.assertEqual(run.report["result"], "passed")
    case.assertIs(run.report["messageRoundTrip"], True)


class Release(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.folder = tempfile.mkdtemp(prefix="kesta-release-test-")
        cls.env = unsigned_env()
        cls.env["SOURCE_DATE_EPOCH"] = "1700000000"
        cls.dist = os.path.join(cls.folder, "dist")
        cls.output = release(cls.dist, cls.env)
        cls.version, cls.text_version = package.read_version(EXE)
        cls.msi = one(os.path.join(cls.dist, "kesta-%s-x64.msi" % cls.text_version))
        cls.zip = one(os.path.join(cls.dist, "kesta-%s-x64.zip" % cls.text_version))

    @classmethod
    def tearDownClass(cls):
        shutil.rmtree(cls.folder, ignore_errors=True)

    def test_zip_is_complete_reproducible_and_summed(self):
        self.assertIn("Unsigned:", self.output)
        with zipfile.ZipFile(self.zip) as archive:
            self.assertEqual(archive.namelist(), ["kesta.exe", "README.txt", "THIRD-PARTY-NOTICES.txt"])
            with open(EXE, "rb") as f:
                self.assertEqual(archive.read("kesta.exe"), f.read())
            readme = archive.read("README.txt").decode("utf-8-sig")
            self.assertIn("--server", readme)
            self.assertIn(self.text_version, readme)
            notices = archive.read("THIRD-PARTY-NOTICES.txt").decode("utf-8-sig")
        for licence in ("libjsmn-dev", "mingw-w64-x86-64-dev", "gcc-mingw-w64-x86-64-posix", "libz-mingw-w64-dev",
                        "GCC RUNTIME LIBRARY EXCEPTION", "Permission is hereby granted"):
            self.assertIn(licence, notices)
        # Another folder, the same bytes.
        again = os.path.join(self.folder, "again")
        release(again, self.env)
        with open(self.zip, "rb") as first, open(os.path.join(again, os.path.basename(self.zip)), "rb") as second:
            self.assertEqual(first.read(), second.read())
        check = subprocess.run(["sha256sum", "-c", "SHA256SUMS"], cwd=self.dist, capture_output=True, text=True)
        self.assertEqual(check.returncode, 0, check.stdout + check.stderr)
        self.assertEqual(check.stdout.count(": OK"), 2)

    def test_msi_installs_per_user_upgrades_in_place_and_uninstalls(self):
        # What asks Windows for no elevation: no ALLUSERS, and the summary's
        # "no elevated privileges needed" bit. Wine itself never asks.
        properties = subprocess.run(["msiinfo", "export", self.msi, "Property"], capture_output=True,
                                    text=True).stdout
        self.assertNotIn("ALLUSERS", properties)
        words = subprocess.run(["msiinfo", "suminfo", self.msi], capture_output=True, text=True).stdout
        self.assertRegex(words, r"Source: (8|10|12|14) ")
        # N+1: the same program, the next patch version.
        newer = os.path.join(self.folder, "newer")
        os.makedirs(newer)
        shutil.copyfile(EXE, os.path.join(newer, "kesta.exe"))
        with open(os.path.join(newer, "THIRD-PARTY-NOTICES.txt"), "w") as f:
            f.write("notices\n")
        major, minor, patch = self.version.split(".")
        next_version = "%s.%s.%d" % (major, minor, int(patch) + 1)
        newer_msi = os.path.join(newer, "kesta-next.msi")
        package.build_msi(newer_msi, next_version, newer)
        # A rebuild of N+1: another product code, the same version.
        rebuilt_msi = os.path.join(newer, "kesta-next-rebuilt.msi")
        package.build_msi(rebuilt_msi, next_version, newer)

        prefix = Prefix(os.path.join(self.folder, "prefix"))
        try:
            prefix.wine("msiexec", "/i", windows_path(self.msi), "/qn")
            installed = prefix.installed_program()
            with open(installed, "rb") as got, open(EXE, "rb") as want:
                self.assertEqual(got.read(), want.read())
            self.assertIn("/AppData/Local/Programs/Kesta/", installed)
            with open(prefix.shortcut(), "rb") as f:
                self.assertIn(rb"\AppData\Local\Programs\Kesta\kesta.exe", f.read())
            self.assertEqual(prefix.products(), [(package.PRODUCT_NAME, self.version, "Kesta")])
            self_test_passes(self, installed, prefix.path)

            for msi in (newer_msi, rebuilt_msi):
                prefix.wine("msiexec", "/i", windows_path(msi), "/qn")
                self.assertEqual(prefix.products(), [(package.PRODUCT_NAME, next_version, "Kesta")])
                self.assertTrue(os.path.exists(prefix.installed_program()))
                self.assertTrue(os.path.exists(prefix.shortcut()))

            prefix.wine("msiexec", "/x", windows_path(rebuilt_msi), "/qn")
            self.assertEqual(prefix.products(), [])
            self.assertEqual(prefix.kesta_files(), [])
            self.assertFalse(os.path.exists(prefix.shortcut()))
        finally:
            prefix.close()

    def test_signed_release_verifies_and_runs(self):
        keys = os.path.join(self.folder, "keys")
        os.makedirs(keys)
        subject = "Kesta Throwaway Signing %d" % os.getpid()
        password = "throwaway-%s" % hashlib.sha256(os.urandom(16)).hexdigest()[:16]
        subprocess.run(["openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-subj", "/CN=" + subject,
                        "-days", "2", "-addext", "extendedKeyUsage=codeSigning", "-keyout", "key.pem",
                        "-out", "cert.pem"], cwd=keys, check=True, capture_output=True)
        subprocess.run(["openssl", "pkcs12", "-export", "-in", "cert.pem", "-inkey", "key.pem", "-out", "id.p12",
                        "-passout", "env:KESTA_TEST_PASSWORD"], cwd=keys, check=True, capture_output=True,
                       env=dict(os.environ, KESTA_TEST_PASSWORD=password))
        cert = os.path.join(keys, "cert.pem")
        setups = {"pem": dict(KESTA_SIGN_CERT=cert, KESTA_SIGN_KEY=os.path.join(keys, "key.pem")),
                  "pkcs12": dict(KESTA_SIGN_PKCS12=os.path.join(keys, "id.p12"), KESTA_SIGN_PASSWORD=password)}
        for name, setup in setups.items():
            with self.subTest(name):
                dist = os.path.join(self.folder, "signed-" + name)
                output = release(dist, dict(self.env, **setup))
                self.assertNotIn("Unsigned", output)
                self.assertNotIn(password, output)
                unpacked = os.path.join(dist, "unpacked")
                with zipfile.ZipFile(one(os.path.join(dist, "*.zip"))) as archive:
                    archive.extract("kesta.exe", unpacked)
                signed_exe = os.path.join(unpacked, "kesta.exe")
                for path in (signed_exe, one(os.path.join(dist, "*.msi"))):
                    verify = subprocess.run(["osslsigncode", "verify", "-CAfile", cert, "-in", path],
                                            capture_output=True, text=True)
                    self.assertEqual(verify.returncode, 0, verify.stdout + verify.stderr)
                    self.assertIn("Subject: /CN=" + subject, verify.stdout)
                for written in glob.glob(os.path.join(dist, "*")):
                    if os.path.isfile(written):
                        with open(written, "rb") as f:
                            self.assertNotIn(password.encode(), f.read())
        self_test_passes(self, signed_exe)


class Prefix:
    """A fresh Wine prefix of its own, as a new user's machine."""

    def __init__(self, path):
        self.path = path
        self.env = dict(os.environ, KESTA_WINEPREFIX=path, WINEPREFIX=path, WINEDEBUG="-all",
                        # No Mono or Gecko prompts, and no menu entries on the host for the shortcut.
                        WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d")
        self.wine("wineboot", "-i")

    def wine(self, *args):
        done = subprocess.run([WINE_RUN] + list(args), env=self.env, capture_output=True, timeout=300)
        if done.returncode != 0:
            raise AssertionError("%s: exit code %d" % (" ".join(args), done.returncode))
        return done.stdout

    def users(self):
        return [u for u in glob.glob(os.path.join(self.path, "drive_c", "users", "*")) if not u.endswith("/Public")]

    def installed_program(self):
        return one(os.path.join(self.path, "drive_c", "users", "*", "AppData", "Local", "Programs", "Kesta",
                                "kesta.exe"))

    def kesta_files(self):
        # AppData only: the other folders of a Wine user lead into the host's home.
        return [p for u in self.users()
                for p in glob.glob(os.path.join(u, "AppData", "**", "*Kesta*"), recursive=True)]

    def shortcut(self):
        user = self.users()[0]
        return os.path.join(user, "AppData", "Roaming", "Microsoft", "Windows", "Start Menu", "Programs", SHORTCUT)

    def products(self):
        """(name, version, publisher) of every installed-programs entry."""
        entries = []
        for key in UNINSTALL_KEYS:
            exported = os.path.join(self.path, "uninstall.reg")
            try:
                self.wine("reg", "export", key, windows_path(exported), "/y")
            except AssertionError:
                continue  # no such key
            with open(exported, "rb") as f:
                text = f.read().decode("utf-16")
            for block in text.split("\r\n\r\n"):
                values = dict(line.split("=", 1) for line in block.splitlines() if line.startswith('"'))
                if '"DisplayName"' in values:
                    entries.append(tuple(values.get(n, "").strip('"')
                                         for n in ('"DisplayName"', '"DisplayVersion"', '"Publisher"')))
        return entries

    def close(self):
        subprocess.run(["wineserver", "-k"], env=self.env, capture_output=True)
        shutil.rmtree(self.path, ignore_errors=True)


if __name__ == "__main__":
    unittest.main()
