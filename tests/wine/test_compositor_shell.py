"""tessik-helper.exe under Wine with our compositor (dwmapi.dll) and shell (shell32.dll).

Wine 8's own compositor has no extended frame bounds (E_NOTIMPL) and its shell always reports
notification state 5, so without stand-ins the real program only ever shows the window
rectangle and "fs":0. Here a run that asks for them loads our DLLs from the prefix's system
directory (tests/standins/compositor, tests/standins/shell); each reads a script and logs every
call, and the tests compare the program's lines with what the stand-ins logged. Runs that do
not ask still get Wine's own libraries, which the last test proves.

DPI awareness cannot be shown under Wine 8 (per-monitor awareness is refused and nothing is
scaled at 144 DPI); the simulation covers it.
"""

import os
import sys

import harness
from test_helper import NEXT_TICK, QUIET, HelperTest, Window, helper, parse_report

E_FAIL = 0x80004005
E_NOTIMPL = 0x80004001
QUNS_RUNNING_D3D_FULL_SCREEN = 3


class StandIns:
    """The scripts and logs of our compositor and shell for one test."""

    def __init__(self, name):
        self.folder = os.path.join(harness.WINE.temp, name)
        os.makedirs(self.folder)
        self.compositor_log = os.path.join(self.folder, "compositor.log")
        self.shell_log = os.path.join(self.folder, "shell.log")
        self.compositor()
        self.shell()

    def _script(self, name, log, values):
        """Writes a script whole and in one step: the stand-ins read it on every call."""
        text = f"log {harness.windows_path(log)}\n"
        text += "".join(f"{key} {value}\n" for key, value in values.items())
        path = os.path.join(self.folder, name)
        with open(path + ".new", "w") as script:
            script.write(text)
        os.replace(path + ".new", path)
        return path

    def compositor(self, **values):
        self.compositor_script = self._script("compositor.txt", self.compositor_log, values)

    def shell(self, **values):
        self.shell_script = self._script("shell.txt", self.shell_log, values)

    def variables(self):
        return dict(TESSIK_COMPOSITOR_SCRIPT=harness.windows_path(self.compositor_script),
                    TESSIK_SHELL_SCRIPT=harness.windows_path(self.shell_script))

    def env(self, *dlls, **more):
        """A run that loads our stand-ins of the named DLLs (Wine's own for the others)."""
        return harness.WINE.standin_env(*dlls, **self.variables(), **more)

    @staticmethod
    def _calls(path):
        """The logged calls, each as a dict of its key=value fields."""
        if not os.path.exists(path):
            return []
        with open(path) as log:
            return [dict(field.split("=", 1) for field in line.split()[1:]) for line in log]

    def compositor_calls(self, hwnd=None):
        calls = self._calls(self.compositor_log)
        return [call for call in calls if hwnd is None or int(call["hwnd"]) == hwnd]

    def shell_calls(self):
        return self._calls(self.shell_log)


def numbers(text):
    return [int(v) for v in text.split(",")]


def edges(bounds):
    return [bounds["x"], bounds["y"], bounds["x"] + bounds["w"], bounds["y"] + bounds["h"]]


def as_bounds(left, top, right, bottom):
    return dict(x=left, y=top, w=right - left, h=bottom - top)


class StandInTest(HelperTest):
    def setUp(self):
        self.standins = StandIns(self.id().rsplit(".", 1)[-1])

    def assert_line(self, line, window, bounds, fs):
        self.assertEqual(parse_report(line),
                         dict(pid=window.pid, exe=b"fixture-window.exe", fs=fs, **bounds))

    def frame_bounds(self, window):
        """What the compositor answered last for the window, after checking that the program
        asked as it must and that the answer follows the stand-in's rule: the window's
        rectangle (as the fixture measured it) less the invisible border on the left, right and
        bottom."""
        calls = self.standins.compositor_calls(window.hwnd)
        self.assertTrue(calls, "the compositor was not asked about the foreground window")
        call = calls[-1]
        self.assertEqual((call["attribute"], call["size"], int(call["status"], 16)),
                         ("9", "16", 0))
        self.assertEqual(numbers(call["rect"]), edges(window.bounds))
        side, bottom = numbers(call["border"])
        self.assertGreater(min(side, bottom), 0, "a sizable window has invisible borders")
        left, top, right, lower = edges(window.bounds)
        expected = [left + side, top, right - side, lower - bottom]
        self.assertEqual(numbers(call["bounds"]), expected)
        return as_bounds(*expected)


class CompositorBounds(StandInTest):
    def test_line_carries_compositor_bounds_and_zeros_while_minimized(self):
        window = Window(x=150, y=110, w=433, h=277)
        proc = helper("foreground", env=self.standins.env("dwmapi"))
        line = proc.out.readline(10)
        bounds = self.frame_bounds(window)
        self.assertNotEqual(bounds, window.bounds)
        self.assert_line(line, window, bounds, fs=0)
        steps = ["move 200 150 500 350",
                 "move -50 40 300 200",  # partly off the left edge: negative x
                 "minimize",
                 "restore"]
        for command in steps:
            with self.subTest(command=command):
                window.command(command)
                line = proc.out.readline(NEXT_TICK)
                if command == "minimize":
                    # The compositor still answers with bounds, the line has zeros.
                    answer = self.standins.compositor_calls(window.hwnd)[-1]
                    self.assertEqual(int(answer["status"], 16), 0)
                    self.assertNotEqual(numbers(answer["bounds"]), [0, 0, 0, 0])
                    self.assert_line(line, window, dict(x=0, y=0, w=0, h=0), fs=0)
                else:
                    self.assert_line(line, window, self.frame_bounds(window), fs=0)
        self.assertIsNone(proc.out.readline(QUIET), "a line while nothing changed")
        self.assert_ends(proc, 5)

    def test_failing_compositor_gives_window_rectangle(self):
        window = Window(x=140, y=100, w=410, h=290)
        for status in [E_FAIL, E_NOTIMPL]:
            with self.subTest(status=hex(status)):
                self.standins.compositor(status=hex(status))
                proc = helper("foreground", env=self.standins.env("dwmapi"))
                self.assert_line(proc.out.readline(10), window, window.bounds, fs=0)
                answer = self.standins.compositor_calls(window.hwnd)[-1]
                self.assertEqual(int(answer["status"], 16), status)
                self.assert_ends(proc, 5)


class FullScreenState(StandInTest):
    def test_fs_is_1_exactly_when_query_succeeds_with_state_3(self):
        window = Window()
        # (status, state written): a failing query still writes a state, even 3.
        cases = [(0, state) for state in range(1, 8)] + [(E_FAIL, 3), (E_FAIL, 5)]
        for status, state in cases:
            with self.subTest(status=hex(status), state=state):
                self.standins.shell(status=hex(status), state=state)
                proc = helper("foreground", env=self.standins.env("shell32"))
                line = proc.out.readline(10)
                answer = self.standins.shell_calls()[-1]
                self.assertEqual((int(answer["status"], 16), answer["state"]),
                                 (status, str(state)))
                expected = 1 if status == 0 and state == QUNS_RUNNING_D3D_FULL_SCREEN else 0
                self.assert_line(line, window, window.bounds, fs=expected)
                self.assert_ends(proc, 5)

    def test_state_change_alone_gives_one_line_at_next_tick(self):
        window = Window()
        self.standins.shell(state=5)
        proc = helper("foreground", env=self.standins.env("dwmapi", "shell32"))
        line = proc.out.readline(10)
        bounds = self.frame_bounds(window)
        self.assert_line(line, window, bounds, fs=0)
        # (state, fs of the new line, or None: the line stays as it was)
        steps = [(3, 1), (5, 0), (6, None), (3, 1)]
        for state, fs in steps:
            with self.subTest(state=state):
                self.standins.shell(state=state)
                line = proc.out.readline(NEXT_TICK)
                if fs is None:
                    self.assertIsNone(line, "a line though fs stayed the same")
                else:
                    self.assertIsNotNone(line, f"no line within {NEXT_TICK} s")
                    self.assert_line(line, window, bounds, fs=fs)
                # While it rests the program goes on asking (tick by tick) and writes nothing.
                seen = len(self.standins.shell_calls())
                self.assertIsNone(proc.out.readline(QUIET), "a line while nothing changed")
                later = self.standins.shell_calls()[seen:]
                self.assertGreaterEqual(len(later), 1, "the program stopped sampling")
                self.assertEqual({call["state"] for call in later}, {str(state)})
        self.assert_ends(proc, 5)


class WineOwnLibraries(StandInTest):
    def test_runs_without_override_load_wines_own_dwmapi_and_shell32(self):
        """Our DLLs sit in the prefix's system directory for every run; only a run that names
        them loads them. Wine's loader says which it loaded (builtin: its own)."""
        window = Window()
        self.standins.shell(state=QUNS_RUNNING_D3D_FULL_SCREEN)
        base = dict(harness.WINE.env, **self.standins.variables())
        cases = [("without override", base, "builtin"),
                 ("with override", self.standins.env("dwmapi", "shell32"), "native")]
        for name, env, kind in cases:
            with self.subTest(name):
                compositor_seen = len(self.standins.compositor_calls())
                shell_seen = len(self.standins.shell_calls())
                proc = helper("foreground", env=dict(env, WINEDEBUG="+loaddll"))
                line = proc.out.readline(10)
                self.assert_ends(proc, 5)
                self.assertTrue(proc.err.wait_eof(5))
                loaded = loaded_dlls(proc.err.all())
                self.assertEqual((loaded.get("dwmapi.dll"), loaded.get("shell32.dll")),
                                 (kind, kind))
                asked = (len(self.standins.compositor_calls()) > compositor_seen,
                         len(self.standins.shell_calls()) > shell_seen)
                if kind == "builtin":
                    self.assertEqual(asked, (False, False))
                    # Wine's own: no frame bounds, notification state 5
                    self.assert_line(line, window, window.bounds, fs=0)
                else:
                    self.assertEqual(asked, (True, True))
                    self.assert_line(line, window, self.frame_bounds(window), fs=1)


def loaded_dlls(trace):
    """File name (lower case) to "builtin" or "native", from Wine's +loaddll trace."""
    loaded = {}
    for line in trace.decode(errors="replace").splitlines():
        if "Loaded L\"" in line and line.rstrip().endswith(("builtin", "native")):
            path = line.split("Loaded L\"", 1)[1].split("\"", 1)[0]
            loaded[path.replace("\\\\", "\\").rsplit("\\", 1)[-1].lower()] = line.split()[-1]
    return loaded


if __name__ == "__main__":
    sys.exit(harness.main(sys.modules[__name__]))
