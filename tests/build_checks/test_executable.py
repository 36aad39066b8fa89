"""The built program is one self-contained executable."""
import os
import re
import subprocess
import unittest

BUILD = os.environ.get("KESTA_BUILD_DIR", os.path.join(os.path.dirname(__file__), "..", "..", "build"))
EXE = os.path.join(BUILD, "kesta.exe")

# Libraries every Windows installation has; nothing of the compiler's runtime.
SYSTEM_DLLS = {
    "kernel32.dll", "user32.dll", "gdi32.dll", "comctl32.dll", "comdlg32.dll", "shell32.dll", "ole32.dll",
    "winhttp.dll", "msvcrt.dll", "advapi32.dll", "api-ms-win-crt-runtime-l1-1-0.dll",
}


class ExecutableTest(unittest.TestCase):
    def objdump(self):
        return subprocess.run(["x86_64-w64-mingw32-objdump", "-p", EXE], check=True,
                              capture_output=True, text=True).stdout

    def test_imports_only_system_libraries(self):
        dlls = {d.lower() for d in re.findall(r"DLL Name: (\S+)", self.objdump())}
        self.assertTrue(dlls)
        self.assertLessEqual(dlls, SYSTEM_DLLS, "unexpected imports: %s" % (dlls - SYSTEM_DLLS))
        for name in dlls:
            self.assertNotIn("libstdc++", name)
            self.assertNotIn("winpthread", name)
            self.assertNotIn("libgcc", name)

    def test_gui_subsystem_with_manifest_and_version(self):
        dump = self.objdump()
        self.assertRegex(dump, r"Subsystem\s+00000002")
        data = open(EXE, "rb").read()
        self.assertIn(b"Microsoft.Windows.Common-Controls", data)
        # Told the display scale of each monitor, never enlarged by the system.
        self.assertIn(b"<dpiAwareness xmlns=\"http://schemas.microsoft.com/SMI/2016/WindowsSettings\">PerMonitorV2, PerMonitor</dpiAwareness>", data)
        self.assertIn(b">true/pm</dpiAware>", data)
        self.assertIn("Kesta support client".encode("utf-16-le"), data)


if __name__ == "__main__":
    unittest.main()
