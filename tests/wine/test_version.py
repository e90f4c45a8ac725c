"""The version resource of tessik-helper.exe, read back from the built file: with the toolchain's
windres, and under Wine through the version API that a file's properties show. The version is
the CMake project's (--version); the command line has no version flag.

Extra arguments before the harness's own: --version X.Y.Z --windres <path of windres>.
"""

import argparse
import re
import subprocess
import sys
import unittest

import harness
from harness import fixture, start, windows_path

USAGE = b"usage: tessik-helper foreground | capture <hwnd> [<exclude pid>]\r\n"
EXPECTED = argparse.Namespace()


def expected_strings():
    return {"FileVersion": EXPECTED.version, "ProductVersion": EXPECTED.version,
            "ProductName": "tessik-helper", "OriginalFilename": "tessik-helper.exe",
            "InternalName": "tessik-helper"}


class VersionResource(unittest.TestCase):
    def setUp(self):
        self.addCleanup(harness.cleanup)
        self.numbers = ", ".join(EXPECTED.version.split(".") + ["0"])

    def test_windres_reads_version_and_names(self):
        rc = subprocess.run([EXPECTED.windres, "-i", harness.CONFIG.helper, "-O", "rc"],
                            capture_output=True, text=True, check=True).stdout
        self.assertRegex(rc, rf"\bFILEVERSION {self.numbers}\n")
        self.assertRegex(rc, rf"\bPRODUCTVERSION {self.numbers}\n")
        values = dict(re.findall(r'VALUE "(\w+)", "([^"]*)"', rc))
        for name, value in expected_strings().items():
            self.assertEqual(values.get(name), value, name)
        self.assertTrue(values.get("FileDescription"), "no FileDescription")

    def test_windows_version_api_reads_the_same(self):
        proc = start(fixture("fixture-version.exe"), windows_path(harness.CONFIG.helper))
        lines = [proc.out.readline(15)]
        while lines[-1] is not None and lines[-1] != b"end\n" and \
                not lines[-1].startswith(b"failed "):
            lines.append(proc.out.readline(15))
        self.assertEqual(lines[-1], b"end\n", lines)
        dotted = EXPECTED.version + ".0"
        self.assertEqual(lines[0], f"fixed {dotted} {dotted}\n".encode())
        values = dict(line.decode("utf-8").rstrip("\n").split("=", 1) for line in lines[1:-1])
        for name, value in expected_strings().items():
            self.assertEqual(values.get(name), value, name)
        self.assertTrue(values.get("FileDescription"), "no FileDescription")

    def test_there_is_no_version_flag(self):
        for flag in ("--version", "-v", "/?", "version"):
            with self.subTest(flag=flag):
                proc = start(harness.CONFIG.helper, flag)
                self.assertEqual(proc.wait(15), 1)
                proc.err.wait_eof(5)
                self.assertEqual(proc.err.all(), USAGE)
                self.assertEqual(proc.out.all(), b"")


if __name__ == "__main__":
    parser = argparse.ArgumentParser(add_help=False)
    parser.add_argument("--version", required=True)
    parser.add_argument("--windres", required=True)
    _, rest = parser.parse_known_args(namespace=EXPECTED)
    sys.exit(harness.main(sys.modules[__name__], rest))
