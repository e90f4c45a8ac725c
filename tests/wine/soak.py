"""Soaks of tessik-helper.exe under Wine (run by scripts/soak, not by scripts/test).

foreground: 60 s of foreground mode while fixture windows are created, moved, minimized and
  destroyed every 100 ms. Rounds alternate a churn of the foreground window with a hold in which
  only background windows change: the state held must be the latest report once a tick has
  passed (Wine 8 reports on the 2000 ms tick only). No crash, no duplicate consecutive lines,
  resident memory at the end within 10% of its value after 5 s.
capture: 200 back-to-back capture runs against destroyed and live windows, each ending in
  exactly one status line and the exit code of that line.
Figures go to standard output as "figure: name value" lines.
"""

import os
import random
import re
import sys
import time
import unittest

import harness
from harness import finish, fixture, start, wait_until

REPORT = re.compile(rb'\{"pid":(\d+),"x":(-?\d+),"y":(-?\d+),"w":(-?\d+),"h":(-?\d+),'
                    rb'"fs":([01]),"exe":"((?:[^"\\\x00-\x1f]|\\["\\]|\\u00[0-9a-f]{2})*)"\}\n')
DURATION = float(os.environ.get("TESSIK_SOAK_SECONDS", "60"))
CAPTURE_RUNS = int(os.environ.get("TESSIK_SOAK_CAPTURES", "200"))
STEP = 0.1
NEXT_TICK = 3.5
FIGURES = {}
LATENCY = {}  # slowest fixture answer per command


def figure(name, value):
    FIGURES[name] = value
    print(f"figure: {name} {value}", flush=True)


class Host:
    """A fixture-window process; its further top-level windows come and go in milliseconds."""

    def __init__(self):
        self.proc = start(fixture("fixture-window.exe"), "40", "40", "200", "150", "background")
        line = self.proc.out.readline(20)
        if line is None:
            raise AssertionError("fixture window did not start")
        self.pid = int(line.split()[1])

    def send(self, text):
        began = time.monotonic()
        try:
            return self._send(text)
        finally:
            kind = text.split()[2] if text.startswith("at ") else text.split()[0]
            LATENCY[kind] = max(LATENCY.get(kind, 0), time.monotonic() - began)

    def _send(self, text):
        answer = harness.send(self.proc, text).split()
        if answer[:1] != ["ok"]:
            raise AssertionError(f"fixture refused {text!r}: {answer}")
        return answer[1:]


class Window:
    """One top-level window of the host."""

    def __init__(self, host, x, y, w, h, background=False):
        self.host = host
        answer = host.send(f"create {x} {y} {w} {h}" + (" background" if background else ""))
        self.hwnd = int(answer[0])
        self.bounds = tuple(int(v) for v in host.send(f"at {self.hwnd} move {x} {y} {w} {h}"))
        self.minimized = False

    def command(self, text):
        answer = self.host.send(f"at {self.hwnd} {text}")
        if len(answer) == 4:
            self.bounds = tuple(int(v) for v in answer)
        self.minimized = text.startswith("minimize")

    def destroy(self):
        self.host.send(f"destroy {self.hwnd}")

    def state(self):
        """The report this window gives as the foreground window (minimized: no bounds)."""
        bounds = (0, 0, 0, 0) if self.minimized else self.bounds
        return (self.host.pid,) + bounds + (0, b"fixture-window.exe")


def parse(line):
    if line == b'{"pid":0}\n':
        return (0,)  # no foreground window
    match = REPORT.fullmatch(line)
    if not match:
        raise AssertionError(f"not a report line: {line!r}")
    return tuple(int(v) for v in match.groups()[:6]) + (match.group(7),)


class Lines:
    """The helper's report lines as they arrive."""

    def __init__(self, proc):
        self.proc, self.lines = proc, []

    def poll(self):
        while (line := self.proc.out.readline(0)) is not None:
            self.lines.append(parse(line))
        return self.lines[-1] if self.lines else None


class Soak(unittest.TestCase):
    def tearDown(self):
        harness.cleanup()

    def test_foreground_soak(self):
        rng = random.Random(5)
        helper = start(harness.CONFIG.helper, "foreground")
        lines = Lines(helper)
        self.assertTrue(wait_until(lines.poll, 20), "no first report")
        started = time.monotonic()
        rss_at_5 = None
        rss_samples = []
        operations = {"create": 0, "move": 0, "minimize": 0, "restore": 0, "destroy": 0}
        holds = held = 0
        host = Host()
        front = Window(host, 200, 150, 500, 360)
        background = []
        next_step = time.monotonic()

        def tick_step():
            """Waits for the next 100 ms step; samples the helper's memory on the way."""
            nonlocal next_step, rss_at_5
            self.assertIsNone(helper.poll(), "the helper ended")
            lines.poll()
            elapsed = time.monotonic() - started
            rss = harness.resident_kib(helper.pid)
            if rss is not None:
                rss_samples.append(rss)
                if rss_at_5 is None and elapsed >= 5:
                    rss_at_5 = rss
            next_step += STEP
            time.sleep(max(0.0, next_step - time.monotonic()))
            next_step = max(next_step, time.monotonic() - STEP)

        def background_operation():
            """One change that leaves the foreground window and its report alone."""
            kind = rng.choice(["create", "move", "minimize", "destroy"])
            if kind == "create" or not background:
                background.append(Window(host, rng.randrange(0, 700), rng.randrange(0, 500),
                                         rng.randrange(150, 500), rng.randrange(120, 400),
                                         background=True))
                kind = "create"
            elif kind == "move":
                window = rng.choice(background)
                window.command(f"move {rng.randrange(0, 700)} {rng.randrange(0, 500)} "
                               f"{rng.randrange(150, 500)} {rng.randrange(120, 400)}")
            elif kind == "minimize":
                rng.choice(background).command("minimize-background")
            else:
                background.pop(rng.randrange(len(background))).destroy()
            operations[kind] += 1

        while time.monotonic() - started < DURATION:
            # Churn: the foreground window itself changes every step.
            for _ in range(10):
                kind = rng.choice(["create", "move", "minimize", "restore", "destroy"])
                if kind == "create":
                    background.append(front)
                    front = Window(host, rng.randrange(0, 600), rng.randrange(0, 400),
                                   rng.randrange(200, 600), rng.randrange(150, 450))
                elif kind == "move":
                    front.command(f"move {rng.randrange(0, 600)} {rng.randrange(0, 400)} "
                                  f"{rng.randrange(200, 600)} {rng.randrange(150, 450)}")
                elif kind == "minimize":
                    front.command("minimize")
                elif kind == "restore":
                    front.command("restore")
                else:  # a new window takes the foreground, the old one goes
                    old = front
                    front = Window(host, rng.randrange(0, 600), rng.randrange(0, 400),
                                   rng.randrange(200, 600), rng.randrange(150, 450))
                    old.destroy()
                operations[kind] += 1
                tick_step()
            # Hold: the foreground state stays while background windows keep changing; once a
            # tick has passed it must be the latest report.
            expected = front.state()
            hold_deadline = time.monotonic() + NEXT_TICK
            holds += 1
            while time.monotonic() < hold_deadline and lines.poll() != expected:
                background_operation()
                tick_step()
            if lines.poll() == expected:
                held += 1
            else:
                self.fail(f"held state {expected} not reported; last {lines.poll()}")

        self.assertIsNone(helper.poll(), "the helper ended")
        rss_end = harness.resident_kib(helper.pid)
        code = finish(helper, 10)
        lines.poll()
        self.assertEqual(code, 0)
        self.assertEqual(helper.err.all(), b"")
        duplicates = sum(1 for a, b in zip(lines.lines, lines.lines[1:]) if a == b)
        figure("foreground.seconds", round(time.monotonic() - started, 1))
        figure("foreground.operations", sum(operations.values()))
        for kind, count in operations.items():
            figure(f"foreground.operations.{kind}", count)
        figure("foreground.slowest_fixture_answer_s",
               {k: round(v, 2) for k, v in sorted(LATENCY.items())})
        figure("foreground.report_lines", len(lines.lines))
        figure("foreground.duplicate_consecutive_lines", duplicates)
        figure("foreground.holds_reported", f"{held}/{holds}")
        figure("foreground.rss_kb_after_5s", rss_at_5)
        figure("foreground.rss_kb_end", rss_end)
        figure("foreground.rss_kb_max", max(rss_samples) if rss_samples else None)
        self.assertEqual(duplicates, 0)
        self.assertIsNotNone(rss_at_5)
        self.assertIsNotNone(rss_end)
        change = (rss_end - rss_at_5) / rss_at_5
        figure("foreground.rss_change_percent", round(100 * change, 1))
        self.assertLessEqual(abs(change), 0.10)
        finish(host.proc, 10)

    def test_capture_soak(self):
        host = Host()
        live = Window(host, 300, 200, 400, 300)
        gone_hwnd = Window(host, 100, 100, 300, 200).hwnd
        host.send(f"destroy {gone_hwnd}")
        outcomes = {}
        started = time.monotonic()
        for run in range(CAPTURE_RUNS):
            target = live.hwnd if run % 2 == 0 else gone_hwnd
            label = "live" if run % 2 == 0 else "destroyed"
            helper = start(harness.CONFIG.helper, "capture", str(target))
            code = finish(helper, 20)
            self.assertIsNotNone(code, f"run {run} did not end")
            self.assertTrue(helper.err.wait_eof(10) and helper.out.wait_eof(10))
            err, out = helper.err.all(), helper.out.all()
            harness.RUNNING.remove(helper)
            helper.stdout.close()
            helper.stderr.close()
            # Wine's own loader may add a line as the process ends under load; it is counted, not
            # the program's output.
            wine_lines = re.findall(rb"wine client error:[^\n]*\n", err)
            if wine_lines:
                outcomes["wine_client_error_lines"] = outcomes.get("wine_client_error_lines", 0) + 1
                err = re.sub(rb"wine client error:[^\n]*\n", b"", err)
            status = re.fullmatch(rb"(ok \d+ [^\r\n]*|error [a-z-]+)\r\n", err)
            self.assertIsNotNone(status, f"run {run}: stderr {err!r}")
            word = err.split()[0 if err.startswith(b"ok") else 1].decode()
            self.assertEqual(code, 0 if word == "ok" else 2, f"run {run}: {err!r}")
            if word != "ok":
                self.assertEqual(out, b"", f"run {run}: stdout after {err!r}")
            if target == gone_hwnd:
                self.assertEqual(err, b"error no-window\r\n")
            if run % 20 == 19:  # a fresh window now and then, its predecessor destroyed
                host.send(f"destroy {live.hwnd}")
                gone_hwnd = live.hwnd
                live = Window(host, 300 + run, 200, 400, 300)
            key = f"{label}:{word}:exit{code}"
            outcomes[key] = outcomes.get(key, 0) + 1
        figure("capture.runs", CAPTURE_RUNS)
        figure("capture.seconds", round(time.monotonic() - started, 1))
        for key, count in sorted(outcomes.items()):
            figure(f"capture.{key}", count)
        finish(host.proc, 10)


if __name__ == "__main__":
    sys.exit(harness.main(sys.modules[__name__]))
