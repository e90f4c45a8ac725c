"""Shared machinery of the Wine tests: command line, processes with deadline-bound reads, and
a runner that ends with "N passed, N failed, N skipped"; the display and prefix are in
wine_prefix.py."""

import argparse
import os
import signal
import subprocess
import sys
import threading
import time
import unittest

import wine_prefix
from wine_prefix import STANDIN_DLLS, wait_until  # noqa: F401  (used by the tests through here)

CONFIG = argparse.Namespace()


def parse_args(argv):
    parser = argparse.ArgumentParser()
    parser.add_argument("--helper", required=True, help="path of tessik-helper.exe")
    parser.add_argument("--fixtures", required=True, help="folder of the fixture .exe files")
    parser.add_argument("--work", required=True, help="build folder for the prefix and temp files")
    parser.add_argument("--standins", default=None,
                        help="folder of our stand-in system DLLs, copied into the prefix")
    parser.add_argument("--objdump", default="x86_64-w64-mingw32-objdump")
    parser.add_argument("tests", nargs="*", help="optional test names to run")
    parser.parse_args(argv, namespace=CONFIG)
    for name in ("helper", "fixtures", "work", "standins"):
        if getattr(CONFIG, name) is not None:
            setattr(CONFIG, name, os.path.abspath(getattr(CONFIG, name)))
    return CONFIG


def fixture(name):
    return os.path.join(CONFIG.fixtures, name)


def windows_path(path):
    """The path as a Windows program under Wine names it (Wine maps drive Z: to /)."""
    return "Z:" + os.path.abspath(path).replace("/", "\\")


def resident_kib(pid):
    """VmRSS of a process (for a program under Wine, the loader started for it keeps the pid);
    None once it is gone."""
    try:
        with open(f"/proc/{pid}/status") as status:
            for line in status:
                if line.startswith("VmRSS:"):
                    return int(line.split()[1])
    except OSError:
        pass
    return None


class Stream:
    """Collects everything a pipe delivers on a reader thread; reads wait with deadlines."""

    def __init__(self, pipe):
        self._pipe = pipe
        self._data = bytearray()
        self._taken = 0
        self._eof = False
        self._changed = threading.Condition()
        self._thread = threading.Thread(target=self._pump, daemon=True)
        self._thread.start()

    def _pump(self):
        fd = self._pipe.fileno()
        while True:
            try:
                chunk = os.read(fd, 65536)
            except OSError:
                chunk = b""
            with self._changed:
                if chunk:
                    self._data += chunk
                else:
                    self._eof = True
                self._changed.notify_all()
            if not chunk:
                return

    def readline(self, timeout):
        """The next line with its line feed, or None when none is complete by the deadline
        (or the pipe ended first)."""
        deadline = time.monotonic() + timeout
        with self._changed:
            while True:
                end = self._data.find(b"\n", self._taken)
                if end >= 0:
                    line = bytes(self._data[self._taken:end + 1])
                    self._taken = end + 1
                    return line
                left = deadline - time.monotonic()
                if self._eof or left <= 0:
                    return None
                self._changed.wait(left)

    def wait_eof(self, timeout):
        deadline = time.monotonic() + timeout
        with self._changed:
            while not self._eof:
                left = deadline - time.monotonic()
                if left <= 0:
                    return False
                self._changed.wait(left)
            return True

    def all(self):
        with self._changed:
            return bytes(self._data)

    def rest(self):
        """What arrived and was not yet taken by readline."""
        with self._changed:
            return bytes(self._data[self._taken:])


class Wine(wine_prefix.Wine):
    """The prefix of this run of the tests, with the stand-ins of --standins."""

    def __init__(self, work, prefix_name="wineprefix-test"):
        super().__init__(work, prefix_name, standins=getattr(CONFIG, "standins", None))


WINE = None
RUNNING = []


class KilledByWine(unittest.SkipTest):
    """Wine 8's server now and then sends SIGKILL to a process that is already ending, when its
    Unix side is slow to go once its last thread has ended (seen on this busy virtual machine,
    rarely, for programs of ours and fixtures alike). Its exit code is then lost, so a test that
    needs it cannot tell anything: it is skipped, saying so, rather than failed or passed."""


class WineProcess(subprocess.Popen):
    """A program under Wine. Waiting for it raises KilledByWine when it ended by a SIGKILL that
    no test sent (the programs never kill themselves that way; only Wine's server does)."""

    killed_here = False
    cleaning_up = False

    def kill(self):
        self.killed_here = True
        super().kill()

    def wait(self, timeout=None):
        code = super().wait(timeout)
        if code == -signal.SIGKILL and not self.killed_here and not self.cleaning_up:
            raise KilledByWine(f"Wine killed {os.path.basename(os.fsdecode(self.args[1]))} with "
                               "SIGKILL while it ended: its exit code is lost")
        return code


def start(exe, *args, stdin=subprocess.PIPE, read_stdout=True, env=None, stderr=subprocess.PIPE):
    """Starts a Windows program under Wine with piped standard streams (in the prefix's own
    environment unless env, from Wine.standin_env, is given)."""
    proc = WineProcess(["wine", os.fsencode(exe)] + [os.fsencode(a) for a in args],
                       stdin=stdin, stdout=subprocess.PIPE, stderr=stderr,
                       env=env or WINE.env, cwd=WINE.temp)
    proc.out = Stream(proc.stdout) if read_stdout else None
    proc.err = Stream(proc.stderr) if proc.stderr else None
    RUNNING.append(proc)
    return proc


def finish(proc, timeout=10):
    """Closes the program's standard input and waits for it; None if it did not end in time."""
    if proc.stdin and not proc.stdin.closed:
        try:
            proc.stdin.close()
        except OSError:
            pass
    try:
        return proc.wait(timeout)
    except subprocess.TimeoutExpired:
        return None


def cleanup():
    """Ends every program the tests started and still running."""
    while RUNNING:
        proc = RUNNING.pop()
        proc.cleaning_up = True
        if finish(proc, 5) is None:
            proc.kill()
            proc.wait()
        for stream in (proc.stdout, proc.stderr):
            if stream and not stream.closed:
                try:
                    stream.close()
                except OSError:
                    pass


def send(proc, command, timeout=10):
    """Sends one command line to a fixture and returns its answer (without the line feed)."""
    proc.stdin.write(command.encode() + b"\n")
    proc.stdin.flush()
    line = proc.out.readline(timeout)
    if line is None:
        raise AssertionError(f"fixture gave no answer to {command!r}")
    return line.decode().rstrip("\r\n")


class CountingResult(unittest.TextTestResult):
    def __init__(self, *args, **kwargs):
        super().__init__(*args, **kwargs)
        self.failed_ids = set()

    def _count_failure(self, test):
        self.failed_ids.add(getattr(test, "test_case", test).id())

    def addFailure(self, test, err):
        super().addFailure(test, err)
        self._count_failure(test)

    def addError(self, test, err):
        super().addError(test, err)
        self._count_failure(test)

    def addSubTest(self, test, subtest, err):
        super().addSubTest(test, subtest, err)
        if err is not None:
            self._count_failure(subtest)


def main(module, argv=None, wine=True):
    """Runs the tests of module (optionally only those named on the command line)."""
    global WINE
    parse_args(sys.argv[1:] if argv is None else argv)
    loader = unittest.TestLoader()
    if CONFIG.tests:
        suite = loader.loadTestsFromNames(CONFIG.tests, module)
    else:
        suite = loader.loadTestsFromModule(module)
    started = time.monotonic()
    if wine:
        WINE = Wine(CONFIG.work)
    try:
        if wine:
            WINE.start()
        runner = unittest.TextTestRunner(stream=sys.stdout, verbosity=2, resultclass=CountingResult)
        result = runner.run(suite)
    finally:
        cleanup()
        if wine:
            WINE.stop()
    failed = len(result.failed_ids)
    skipped = len(result.skipped)
    passed = result.testsRun - failed - skipped
    if result.unexpectedSuccesses:
        failed += len(result.unexpectedSuccesses)
        passed -= len(result.unexpectedSuccesses)
    print(f"took {time.monotonic() - started:.1f} s")
    print(f"{passed} passed, {failed} failed, {skipped} skipped")
    return 1 if failed or result.testsRun == 0 else 0
