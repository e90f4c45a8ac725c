"""tessik-helper.exe under Wine: the process family of a capture when a parent's pid was reused.

A process keeps naming its parent's pid after the parent has ended, and Windows hands that pid
to later processes. fixture-reuse makes it happen for real under Wine: fixture-chain process B
outlives its parent, whose pid then goes to a new fixture-chain process N (same executable,
another tree, started after B). Wine's process-loopback activation fails ("error unsupported"),
so the root shows through the self test: "error self" only when the excluded process is the
root or inside its tree.
"""

import re
import sys
import unittest

import harness
from harness import finish, fixture, start

REUSE_DEADLINE = 120  # until the pid comes back: about 1 s and 900 threads here


def run_capture(hwnd, excluded):
    """The status line and exit code of a capture; for an error, nothing on standard output."""
    proc = start(harness.CONFIG.helper, "capture", str(hwnd), str(excluded))
    line = proc.err.readline(15)
    if line is None:
        raise AssertionError("no status line")
    if line.startswith(b"ok "):
        code = finish(proc, 5)
    else:
        code = proc.wait(10)
        if proc.out.all() != b"":
            raise AssertionError(f"standard output after {line!r}")
    return line, code


class ReusedParentPid(unittest.TestCase):
    def setUp(self):
        self.addCleanup(harness.cleanup)
        self.reuse = start(fixture("fixture-reuse.exe"))
        self.lines = []
        while not any(re.match(rb"orphan |gave-up |failed ", line) for line in self.lines):
            line = self.reuse.out.readline(REUSE_DEADLINE)
            if line is None:
                self.fail(f"fixture-reuse did not finish: {self.lines}")
            self.lines.append(line)
        if self.lines[-1].startswith(b"gave-up "):
            self.skipTest("Wine did not hand the ended parent's pid to the new process: "
                          + self.lines[-1].decode().strip())
        if self.lines[-1].startswith(b"failed "):
            self.fail(self.lines[-1].decode().strip())
        self.newcomer = int(self.find(rb"newcomer (\d+)")[0])
        self.orphan, recorded_parent = (int(v) for v in self.find(rb"orphan (\d+) (\d+)"))
        # The premise: the orphan's snapshot entry names the newcomer as its parent.
        self.assertEqual(recorded_parent, self.newcomer)
        self.windows = {}
        for pid in (self.orphan, self.newcomer):
            self.windows[pid] = int(self.find(rb"window (\d+) " + str(pid).encode() + rb"\n")[0])

    def find(self, pattern):
        """The groups of the first line of fixture-reuse's output (its chain's included) that
        matches pattern, reading further lines until one does."""
        while True:
            for line in self.lines:
                match = re.match(pattern, line)
                if match:
                    return match.groups()
            line = self.reuse.out.readline(10)
            if line is None:
                self.fail(f"no line matching {pattern!r} in {self.lines}")
            self.lines.append(line)

    def assert_not_self(self, hwnd, excluded, root):
        line, code = run_capture(hwnd, excluded)
        if line.startswith(b"ok "):  # where process loopback works
            self.assertEqual((line, code), (f"ok {root} fixture-chain.exe\r\n".encode(), 0))
        else:
            self.assertEqual((line, code), (b"error unsupported\r\n", 2))

    def test_climb_does_not_enter_the_process_that_took_the_parents_pid(self):
        # Followed blindly, the climb from the orphan would reach the newcomer and find it
        # excluded.
        self.assert_not_self(self.windows[self.orphan], self.newcomer, root=self.orphan)

    def test_process_whose_parent_pid_was_taken_is_not_in_the_newcomers_tree(self):
        self.assert_not_self(self.windows[self.newcomer], self.orphan, root=self.newcomer)

    def test_excluding_the_windows_own_process_is_still_self(self):
        self.assertEqual(run_capture(self.windows[self.orphan], self.orphan),
                         (b"error self\r\n", 2))


if __name__ == "__main__":
    sys.exit(harness.main(sys.modules[__name__]))
