"""kesta.exe as released: its version resource and manifest carry the CMake
project version, and a build of the same commit in another folder is byte-identical."""
import os
import re
import subprocess
import sys
import tempfile
import unittest

ROOT = os.environ.get("KESTA_SOURCE_DIR") or os.path.abspath(os.path.join(os.path.dirname(__file__), "..", ".."))
BUILD = os.environ.get("KESTA_BUILD_DIR", os.path.join(ROOT, "build"))
EXE = os.path.join(BUILD, "kesta.exe")
sys.path.insert(0, os.path.join(ROOT, "tools", "release"))

import package  # noqa: E402


def git(*args):
    return subprocess.run(["git"] + list(args), cwd=ROOT, capture_output=True, text=True).stdout.strip()


class ReleaseBuild(unittest.TestCase):
    def test_version_resource_reads_the_cmake_project_version(self):
        with open(os.path.join(ROOT, "CMakeLists.txt")) as f:
            version = re.search(r"project\(kesta VERSION (\d+\.\d+\.\d+)", f.read()).group(1)
        numeric, text = package.read_version(EXE)
        self.assertEqual(numeric, version)
        rc = subprocess.run([package.WINDRES, "-i", EXE, "-O", "rc"], capture_output=True, text=True).stdout
        four = ", ".join(version.split(".") + ["0"])
        self.assertRegex(rc, r"FILEVERSION %s\n" % four)
        self.assertIn('VALUE "FileVersion", "%s"' % text, rc)
        self.assertIn('name=""Kesta.Support.Client"" version=""%s.0""' % version, rc)
        # Anything but the release tag names its commit.
        commit = git("rev-parse", "HEAD")[:7]
        if "v" + version not in git("tag", "--points-at", "HEAD").split():
            self.assertRegex(text, r"^%s-dev\+%s(\.dirty)?$" % (re.escape(version), commit))
        else:
            self.assertRegex(text, r"^%s(-dev\+%s\.dirty)?$" % (re.escape(version), commit))

    def test_a_build_in_another_folder_is_byte_identical(self):
        with open(os.path.join(BUILD, "CMakeCache.txt")) as f:
            cache = dict(re.findall(r"^(CMAKE_BUILD_TYPE|KESTA_DEFAULT_SERVER):\w+=(.*)$", f.read(), re.M))
        with tempfile.TemporaryDirectory(prefix="kesta-second-build-") as other:
            subprocess.run(["cmake", "-S", ROOT, "-B", other, "-G", "Ninja",
                            "-DCMAKE_TOOLCHAIN_FILE=" + os.path.join(ROOT, "cmake", "mingw-w64.cmake")]
                           + ["-D%s=%s" % item for item in sorted(cache.items())],
                           check=True, capture_output=True)
            # The program alone: the tests' programs play no part in a release.
            subprocess.run(["cmake", "--build", other, "--target", "kesta", "--", "-j2"], check=True,
                           capture_output=True)
            with open(EXE, "rb") as first, open(os.path.join(other, "kesta.exe"), "rb") as second:
                self.assertTrue(first.read() == second.read(), "kesta.exe differs between two build folders")


if __name__ == "__main__":
    unittest.main()
