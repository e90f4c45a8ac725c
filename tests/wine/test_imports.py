"""The program runs on a bare Windows: it imports system DLLs only, never the mingw runtimes.
Our stand-ins of system DLLs export everything the program imports from them."""

import os
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


def imported_names(exe):
    """DLL name (lower case) to the function names the executable imports from it."""
    listing = subprocess.run([harness.CONFIG.objdump, "-p", exe], capture_output=True, text=True,
                             check=True).stdout
    names, dll = {}, None
    for line in listing.splitlines():
        found = re.match(r"^\s*DLL Name:\s*(\S+)", line)
        if found:
            dll = names.setdefault(found.group(1).lower(), set())
        elif dll is not None and re.match(r"^\s*[0-9a-f]+\s+\d+\s+\S+\s*$", line):
            dll.add(line.split()[-1])
        elif not line.strip():
            dll = None
    return names


def exported_names(dll):
    listing = subprocess.run([harness.CONFIG.objdump, "-p", dll], capture_output=True, text=True,
                             check=True).stdout
    table = listing.split("[Ordinal/Name Pointer] Table", 1)[-1]
    return set(re.findall(r"^\s*\[\s*\d+\]\s+(\S+)\s*$", table, re.MULTILINE))


class Imports(unittest.TestCase):
    def test_helper_imports_no_compiler_runtime_dll(self):
        dlls = imported_dlls(harness.CONFIG.helper)
        self.assertIn("kernel32.dll", [d.lower() for d in dlls])
        self.assertEqual([d for d in dlls if RUNTIME_DLL.match(d)], [])

    def test_standins_export_all_the_helper_imports_from_them(self):
        """A run with a stand-in gets no other copy of that DLL: an import missing from the
        stand-in would stop the program from loading."""
        if not harness.CONFIG.standins or not os.path.isdir(harness.CONFIG.standins):
            self.skipTest("no stand-ins built")
        imports = imported_names(harness.CONFIG.helper)
        checked = []
        for name in sorted(os.listdir(harness.CONFIG.standins)):
            if name.lower() in imports:
                with self.subTest(dll=name):
                    exports = exported_names(os.path.join(harness.CONFIG.standins, name))
                    self.assertEqual(imports[name.lower()] - exports, set())
                    checked.append(name.lower())
        self.assertLessEqual({"dwmapi.dll", "shell32.dll"}, set(checked))


if __name__ == "__main__":
    sys.exit(harness.main(sys.modules[__name__], wine=False))
