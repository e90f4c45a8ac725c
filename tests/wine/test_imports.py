"""The program runs on a bare Windows: it imports system DLLs only, never the mingw runtimes."""

import re
import subprocess
import sys
import unittest

import harness

RUNTIME_DLL = re.compile(r"^(libstdc\+\+|libgcc|libwinpthread|libssp|libgomp)", re.IGNORECASE)


def imported_dlls(exe):
    listing = subprocess.run([harness.CONFIG.objdump, "-p", exe], capture_output=True, text=True,
                             check=True).stdout
    return re.findall(r"^\s*DLL Name:\s*(\S+)", listing, re.MULTILINE)


class Imports(unittest.TestCase):
    def test_helper_imports_no_compiler_runtime_dll(self):
        dlls = imported_dlls(harness.CONFIG.helper)
        self.assertIn("kernel32.dll", [d.lower() for d in dlls])
        self.assertEqual([d for d in dlls if RUNTIME_DLL.match(d)], [])


if __name__ == "__main__":
    sys.exit(harness.main(sys.modules[__name__], wine=False))
