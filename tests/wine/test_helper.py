"""tessik-helper.exe under Wine: command line, foreground reports, capture set-up.

Wine 8 differs from Windows in ways these tests take into account:
- its foreground event hook delivers no events from other processes, so only the 2000 ms
  timer drives reports: a change shows up at the next tick;
- its compositor has no extended frame bounds, so bounds are the window rectangle, and its
  shell always reports notification state 5, so "fs" is 0 (test_compositor_shell.py shows
  both through our stand-ins of dwmapi.dll and shell32.dll);
- it refuses per-monitor DPI awareness and scales nothing at 144 DPI, so DPI awareness is
  left to the simulation;
- its process-loopback activation completes with a failure status ("error unsupported").
"""

import os
import re
import select
import shutil
import sys
import time
import unittest

import harness
from harness import finish, fixture, send, start

USAGE = b"usage: tessik-helper foreground | capture <hwnd> [<exclude pid>]\r\n"
REPORT = re.compile(rb'\{"pid":(\d+),"x":(-?\d+),"y":(-?\d+),"w":(-?\d+),"h":(-?\d+),'
                    rb'"fs":([01]),"exe":"((?:[^"\\\x00-\x1f]|\\["\\]|\\u00[0-9a-f]{2})*)"\}\n')
NEXT_TICK = 3.5  # one 2000 ms period plus slack for Wine's scheduling
QUIET = 4.5  # two ticks with nothing changed


def helper(*args, **kwargs):
    return start(harness.CONFIG.helper, *args, **kwargs)


def parse_report(line):
    match = REPORT.fullmatch(line or b"")
    if not match:
        raise AssertionError(f"not a report line: {line!r}")
    pid, x, y, w, h, fs = (int(v) for v in match.groups()[:6])
    return dict(pid=pid, x=x, y=y, w=w, h=h, fs=fs, exe=match.group(7))


def copy_fixture(name, as_name):
    """A copy of a fixture under another file name, in a folder of its own."""
    folder = os.path.join(harness.WINE.temp, f"copy-{len(os.listdir(harness.WINE.temp))}")
    os.makedirs(folder)
    path = os.path.join(folder, as_name)
    shutil.copy(fixture(name), path)
    return path


class Window:
    """A fixture-window process and what it printed about its window."""

    def __init__(self, exe=None, x=120, y=90, w=420, h=300):
        self.proc = start(exe or fixture("fixture-window.exe"), str(x), str(y), str(w), str(h))
        line = self.proc.out.readline(20)
        if line is None:
            raise AssertionError("fixture window did not start")
        hwnd, pid, *bounds = (int(v) for v in line.split())
        self.hwnd, self.pid = hwnd, pid
        self.bounds = dict(zip("xywh", bounds))

    def command(self, text):
        """Runs a command; move and restore answer with the window rectangle, kept in bounds."""
        answer = send(self.proc, text).split()
        if answer[:1] != ["ok"]:
            raise AssertionError(f"fixture refused {text!r}: {answer}")
        if len(answer) == 5:
            self.bounds = dict(zip("xywh", (int(v) for v in answer[1:])))


class HelperTest(unittest.TestCase):
    def tearDown(self):
        harness.cleanup()

    def assert_report(self, line, window, exe=b"fixture-window.exe", zero=False):
        report = parse_report(line)
        bounds = dict(x=0, y=0, w=0, h=0) if zero else window.bounds
        self.assertEqual(report, dict(pid=window.pid, fs=0, exe=exe, **bounds))

    def assert_ends(self, proc, timeout, code=0):
        started = time.monotonic()
        returned = finish(proc, timeout)
        self.assertIsNotNone(returned, f"still running {timeout} s after its input ended")
        self.assertEqual(returned, code)
        return time.monotonic() - started


class CommandLine(HelperTest):
    def test_bad_command_lines_print_usage_and_exit_1(self):
        for args in [(), ("capture",), ("Foreground",), ("bogus",), ("foregroundx",)]:
            with self.subTest(args=args):
                proc = helper(*args)
                self.assertEqual(proc.wait(15), 1)
                proc.err.wait_eof(5)
                self.assertEqual(proc.err.all(), USAGE)
                self.assertEqual(proc.out.all(), b"")

    def test_foreground_ignores_further_words(self):
        Window()
        proc = helper("foreground", "extra", "words")
        parse_report(proc.out.readline(10))
        self.assert_ends(proc, 5)
        self.assertEqual(proc.err.all(), b"")


class Foreground(HelperTest):
    def test_first_line_names_foreground_window(self):
        for name in ["fixture-window.exe", "fenêtre-ü.exe"]:
            with self.subTest(exe=name):
                path = fixture(name) if name == "fixture-window.exe" else \
                    copy_fixture("fixture-window.exe", name)
                window = Window(path, x=150, y=110, w=433, h=277)
                proc = helper("foreground")
                started = time.monotonic()
                line = proc.out.readline(5)
                self.assertLess(time.monotonic() - started, 5)
                self.assert_report(line, window, exe=name.encode("utf-8"))
                self.assert_ends(proc, 5)
                harness.cleanup()

    def test_window_changes_give_one_line_each_at_next_tick(self):
        window = Window()
        proc = helper("foreground")
        self.assert_report(proc.out.readline(10), window)
        steps = [("move 200 150 500 350", False),
                 ("move -50 40 300 200", False),  # partly off the left edge: negative x
                 ("minimize", True),
                 ("restore", False)]
        for command, minimized in steps:
            with self.subTest(command=command):
                window.command(command)
                self.assert_report(proc.out.readline(NEXT_TICK), window, zero=minimized)
        line = proc.out.readline(QUIET)
        self.assertIsNone(line, "a line while nothing changed")
        self.assert_ends(proc, 5)

    def test_input_already_at_end_still_gives_first_line(self):
        window = Window()
        proc = helper("foreground", stdin=harness.subprocess.DEVNULL)
        self.assert_report(proc.out.readline(5), window)
        self.assertEqual(proc.wait(4), 0)

    def test_closing_input_ends_it_promptly(self):
        Window()
        proc = helper("foreground")
        parse_report(proc.out.readline(10))
        self.assertLess(self.assert_ends(proc, 5), 2.0)
        self.assertEqual(proc.out.rest(), b"")

    def test_closed_output_ends_it_after_next_changed_line(self):
        window = Window()
        proc = helper("foreground", read_stdout=False)
        first = readline_direct(proc.stdout, 10)
        self.assert_report(first, window)
        proc.stdout.close()
        window.command("move 260 180 350 250")
        try:
            returned = proc.wait(NEXT_TICK + 3)
        except harness.subprocess.TimeoutExpired:
            self.fail("still running after its output was closed and a line was due")
        self.assertEqual(returned, 0)

    def test_frame_host_window_reports_hosted_process(self):
        host = Window(copy_fixture("fixture-window.exe", "ApplicationFrameHost.exe"))
        child = start(fixture("fixture-child.exe"))
        child_hwnd, child_pid = (int(v) for v in child.out.readline(20).split())
        host.command(f"child {child_hwnd}")
        host.command("foreground")
        proc = helper("foreground")
        report = parse_report(proc.out.readline(10))
        self.assertEqual((report["pid"], report["exe"]), (child_pid, b"fixture-child.exe"))
        self.assertEqual({k: report[k] for k in "xywh"}, host.bounds)
        self.assert_ends(proc, 5)


def readline_direct(pipe, timeout):
    """One line read from a pipe without a reader thread, so the pipe can be closed after."""
    data = b""
    deadline = time.monotonic() + timeout
    while not data.endswith(b"\n"):
        left = deadline - time.monotonic()
        if left <= 0 or not select.select([pipe], [], [], left)[0]:
            return None
        chunk = os.read(pipe.fileno(), 1)
        if not chunk:
            return None
        data += chunk
    return data


class Capture(HelperTest):
    def run_capture(self, *args):
        """Runs a capture and returns its status line and exit code, after checking that
        exactly one status line came and (for an error) nothing on standard output."""
        proc = helper("capture", *args)
        line = proc.err.readline(15)
        self.assertIsNotNone(line, "no status line")
        if line.startswith(b"ok "):
            self.assert_ends(proc, 5)
            code = proc.returncode
        else:
            code = proc.wait(10)
            self.assertEqual(proc.out.all(), b"")
        proc.err.wait_eof(5)
        self.assertEqual(proc.err.rest(), b"", "more than one status line")
        return line, code

    def test_handles_naming_no_window_fail_with_no_window(self):
        gone = Window()
        gone.proc.stdin.write(b"exit\n")
        gone.proc.stdin.flush()
        self.assertEqual(gone.proc.wait(10), 0)
        for hwnd in ["abc", "0", str(gone.hwnd)]:
            with self.subTest(hwnd=hwnd):
                self.assertEqual(self.run_capture(hwnd), (b"error no-window\r\n", 2))

    def test_excluded_process_in_captured_tree_is_self(self):
        chain = start(fixture("fixture-chain.exe"), "3")
        lines = [chain.out.readline(20) for _ in range(4)]
        self.assertTrue(all(lines), f"chain did not start: {lines}")
        root, middle, last = (int(line.split()[1]) for line in lines[:3])
        _, hwnd, window_pid = lines[3].split()
        self.assertEqual(int(window_pid), last)
        unrelated = start(fixture("fixture-chain.exe"), "1")
        unrelated_pid = int(unrelated.out.readline(20).split()[1])
        cases = [(root, True), (middle, True), (last, True), (unrelated_pid, False), (0, False)]
        for excluded, is_self in cases:
            with self.subTest(excluded=excluded, is_self=is_self):
                line, code = self.run_capture(hwnd.decode(), str(excluded))
                if is_self:
                    self.assertEqual((line, code), (b"error self\r\n", 2))
                elif line.startswith(b"ok "):
                    # where process loopback works, the root of the chain is captured
                    self.assertEqual((line, code), (f"ok {root} fixture-chain.exe\r\n".encode(), 0))
                else:
                    self.assertEqual((line, code), (b"error unsupported\r\n", 2))


if __name__ == "__main__":
    sys.exit(harness.main(sys.modules[__name__]))
