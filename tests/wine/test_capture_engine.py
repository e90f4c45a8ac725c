"""tessik-helper.exe capturing under Wine from our stand-in audio engine.

Wine 8's own engine refuses process loopback, so these runs load tests/standins/audio_engine
(mmdevapi.dll) instead; every other Wine run keeps Wine's own. The engine completes the
activation on a thread of its own, reads the activation record late, makes a packet ready
every 10 ms and logs every call, reference count and packet; the tests read that log and
recompute the samples from it. The real system's engine is never in these tests.
"""

import os
import subprocess
import sys
import time
import unittest

import engine
import harness
from harness import start
from test_helper import HelperTest, Window, readline_direct

PACKET_BYTES = 480 * engine.FRAME_BYTES
IAUDIOCLIENT = "{1CB9AD4C-DBFA-4C32-B178-C2F568A703B2}"
IAUDIOCAPTURECLIENT = "{C8ADBD64-E71E-48A0-A4DE-185C395CD317}"
OK = "0x00000000"
# Where a test waits for a number of packets, the engine keeps them all however late the
# program reads under a loaded machine (a real engine drops what overflows its 20 ms buffer).
KEEP_ALL = "buffer-packets 1000"


def capture(run, hwnd, *args, **kwargs):
    return start(harness.CONFIG.helper, "capture", str(hwnd), *args, env=run.env, **kwargs)


def ending_on_its_own(script, hwnd, end, timeout, **kwargs):
    """A capture, with its input left open, that is to end by itself once end(proc) has been
    done: (run, proc, exit code), the code None if it was still running after timeout."""
    run = engine.Run(*script)
    proc = capture(run, hwnd, **kwargs)
    status = proc.err.readline(15)
    if not status or not status.startswith(b"ok "):
        raise AssertionError(f"capture did not start: {status!r}")
    end(proc)
    try:
        return run, proc, proc.wait(timeout)
    except subprocess.TimeoutExpired:
        return run, proc, None


class Chain:
    """fixture-chain: three processes of one image, the last with a window."""

    def __init__(self, depth=3):
        self.proc = start(harness.fixture("fixture-chain.exe"), str(depth))
        lines = [self.proc.out.readline(20) for _ in range(depth + 1)]
        if not all(lines):
            raise AssertionError(f"chain did not start: {lines}")
        self.pids = [int(line.split()[1]) for line in lines[:depth]]
        _, hwnd, _ = lines[depth].split()
        self.hwnd = int(hwnd)


class EngineTest(HelperTest):
    def assert_released(self, log, *names):
        """Each named engine object was made and the program let go of every reference to it
        that it was handed (the engine's own may still be held when the program ends)."""
        for name in names:
            self.assertTrue(log.has(f"create {name} 1"), f"no {name} made:\n{log}")
            self.assertNotIn(name, log.left_by_program(), f"{name} kept:\n{log}")

    def assert_nothing_alive(self, log):
        """No reference the program was handed outlived it (the engine's own may, when the
        program ended while the engine's thread was still finishing the completion)."""
        self.assertEqual(log.left_by_program(), {}, f"references left by the program:\n{log}")


class LoadingTheEngine(EngineTest):
    def test_runs_that_name_the_engine_load_ours_and_others_keep_wines(self):
        window = Window()
        ours = engine.Run("packets 0")
        proc = capture(ours, window.hwnd, stdin=subprocess.DEVNULL)
        self.assertEqual(proc.err.readline(15), f"ok {window.pid} fixture-window.exe\r\n".encode())
        self.assertEqual(proc.wait(10), 0)
        self.assertEqual(ours.log().fields("request")["path"], "VAD\\Process_Loopback")

        # The same script given to a run without the override: Wine's engine, which refuses.
        wines = engine.Run("packets 0")
        env = dict(harness.WINE.env, TESSIK_ENGINE_SCRIPT=wines.env["TESSIK_ENGINE_SCRIPT"])
        proc = start(harness.CONFIG.helper, "capture", str(window.hwnd), env=env)
        self.assertEqual(proc.err.readline(15), b"error unsupported\r\n")
        self.assertEqual(proc.wait(10), 2)
        self.assertFalse(os.path.exists(wines.log_path), "Wine's run loaded our engine")


class Streaming(EngineTest):
    def test_ok_line_then_the_exact_fold_of_every_frame_handed_out(self):
        chain = Chain()
        run = engine.Run("packets 60", "silent 3,17", "null-data 5,41", KEEP_ALL)
        proc = capture(run, chain.hwnd)
        self.assertEqual(proc.err.readline(15),
                         f"ok {chain.pids[0]} fixture-chain.exe\r\n".encode())
        self.assertTrue(harness.wait_until(lambda: len(proc.out.all()) >= 60 * PACKET_BYTES, 15),
                        f"only {len(proc.out.all())} bytes of 60 packets")
        self.assert_ends(proc, 5)
        log = run.log()
        self.assertEqual(len(log.handed_out()), 60)
        self.assertEqual(proc.out.all(), log.expected_pcm())
        self.assertEqual(proc.err.rest(), b"")

        # What the engine read, late, through the pointers the program gave it.
        request = log.fields("request")
        self.assertEqual((request["path"], request["iid"], request["status"]),
                         ("VAD\\Process_Loopback", IAUDIOCLIENT, OK))
        self.assertEqual(log.fields("read-late"),
                         dict(vt="65", size="12", type="1", pid=str(chain.pids[0]), mode="0"))
        self.assertEqual(log.fields("initialize"),
                         dict(share="0", flags="0x88060000", duration="200000", periodicity="0",
                              format="1,2,48000,192000,4,16,0", session="null", status=OK))
        self.assertEqual(log.fields("set-event-handle"),
                         dict(event="given", reset="auto", status=OK))
        self.assertEqual(log.fields("get-service"), dict(iid=IAUDIOCAPTURECLIENT, status=OK))
        for _, _, fields in log.events("get-buffer"):
            self.assertEqual(fields.get("positions"), "null,null")

    def test_ok_line_comes_before_the_first_sample_byte(self):
        window = Window()
        run = engine.Run("packets 20", KEEP_ALL)
        # Standard output and error on one pipe: the order of the bytes is the order of writes.
        proc = start(harness.CONFIG.helper, "capture", str(window.hwnd), env=run.env,
                     stderr=subprocess.STDOUT)
        ok = f"ok {window.pid} fixture-window.exe\r\n".encode()
        self.assertTrue(harness.wait_until(
            lambda: len(proc.out.all()) >= len(ok) + 20 * PACKET_BYTES, 15))
        self.assertEqual(harness.finish(proc, 5), 0)
        self.assertEqual(proc.out.all(), ok + run.log().expected_pcm())

    def test_tear_down_releases_everything_in_order(self):
        window = Window()
        run = engine.Run("packets 10", KEEP_ALL)
        proc = capture(run, window.hwnd)
        self.assertTrue(proc.err.readline(15).startswith(b"ok "))
        self.assertTrue(harness.wait_until(lambda: len(proc.out.all()) >= 10 * PACKET_BYTES, 10))
        self.assert_ends(proc, 5)
        log = run.log()
        tail = [line for line in log.lines
                if line.split(" ")[0] in ("stop", "release", "destroy")][-5:]
        self.assertEqual(tail, ["stop status=0x00000000", "release capture 0", "destroy capture",
                                "release client 0", "destroy client"])
        self.assertTrue(log.has("exit event closed"), str(log))
        self.assertTrue(log.has("destroy operation"), str(log))
        self.assert_nothing_alive(log)
        # The completion: the engine held its own reference, found the handler agile, and let go.
        self.assertEqual(log.fields("handler-addref"), dict(count="2"))
        self.assertEqual(log.fields("handler-query"),
                         dict(iid="IAgileObject", status=OK, distinct="1"))
        self.assertEqual(log.fields("completed"), dict(status=OK))
        self.assertIn(log.fields("handler-release")["count"], ("0", "1"))
        # Every packet handed out went back whole, at once.
        events = [(word, fields) for word, _, fields in log.events()
                  if word in ("get-buffer", "release-buffer")]
        for (word, fields), (next_word, next_fields) in zip(events, events[1:]):
            if word == "get-buffer" and fields.get("status") == OK:
                self.assertEqual((next_word, next_fields),
                                 ("release-buffer", dict(frames=fields["frames"], status=OK)))


class Stopping(EngineTest):
    def test_closing_input_ends_it_promptly_while_audio_flows(self):
        window = Window()
        run = engine.Run()  # no end of packets
        proc = capture(run, window.hwnd)
        self.assertTrue(proc.err.readline(15).startswith(b"ok "))
        self.assertTrue(harness.wait_until(lambda: len(proc.out.all()) >= 30 * PACKET_BYTES, 10))
        self.assertLess(self.assert_ends(proc, 5), 1.0)
        self.assertEqual(proc.out.all(), run.log().expected_pcm())

    def test_parent_closing_its_end_of_output_ends_it(self):
        def close_output(proc):
            self.assertIsNotNone(readline_direct(proc.stdout, 5), "no samples before the close")
            proc.stdout.close()

        run, _, code = ending_on_its_own([], Window().hwnd, close_output, 5, read_stdout=False)
        self.assertEqual(code, 0, "still running 5 s after its output was closed")
        log = run.log()
        self.assert_released(log, "operation", "client", "capture")
        self.assert_nothing_alive(log)

    def test_failing_fetch_ends_it_with_the_samples_before_intact(self):
        run, proc, code = ending_on_its_own(["fail get-buffer 25"], Window().hwnd,
                                            lambda proc: None, 10)
        self.assertEqual(code, 0, "still running after its packet could not be fetched")
        proc.out.wait_eof(5)
        log = run.log()
        self.assertEqual(len(log.handed_out()), 24)
        self.assertEqual(proc.out.all(), log.expected_pcm())
        failed = [fields for _, _, fields in log.events("get-buffer") if fields["status"] != OK]
        self.assertEqual(failed, [dict(status="0x88890004")])
        self.assertEqual(len(log.events("release-buffer")), 24)
        self.assert_released(log, "operation", "client", "capture")
        self.assert_nothing_alive(log)


# point in the engine -> the word, what the program must have released at that step, and
# what it leaves to the process exit.
FAILURES = [
    ("request", "activate", [], []),
    ("status", "unsupported", ["operation"], []),
    ("no-interface", "unsupported", ["operation"], []),
    ("result", "unsupported", ["operation"], []),
    ("no-client", "client", ["operation", "activated"], []),
    ("initialize", "initialize", ["operation", "client"], []),
    ("set-event", "service", ["operation", "client"], ["exit event open"]),
    ("get-service", "service", ["operation", "client"], ["exit event open"]),
    ("start", "start", ["operation", "client", "capture"], ["exit event open"]),
]


class SetUpFailures(EngineTest):
    def test_each_engine_failure_gives_its_word_and_releases_what_its_step_holds(self):
        window = Window()
        for point, word, released, left in FAILURES:
            with self.subTest(point=point):
                run = engine.Run(f"fail {point}")
                proc = capture(run, window.hwnd)
                self.assertEqual(proc.err.readline(15), f"error {word}\r\n".encode())
                self.assertEqual(proc.wait(10), 2)
                proc.err.wait_eof(5)
                self.assertEqual(proc.err.rest(), b"")
                self.assertEqual(proc.out.all(), b"")
                log = run.log()
                self.assert_released(log, *released)
                self.assert_nothing_alive(log)
                for line in left:
                    self.assertTrue(log.has(line), f"{line!r} missing:\n{log}")
                if point == "request":
                    self.assertEqual(log.events("handler-addref"), [])
                else:
                    self.assertEqual(log.fields("handler-query")["status"], OK)

    def test_activation_that_never_completes_times_out_after_five_seconds(self):
        window = Window()
        run = engine.Run("fail never")
        proc = capture(run, window.hwnd)
        line = proc.err.readline(15)
        arrived = time.time()
        self.assertEqual(line, b"error activate-timeout\r\n")
        self.assertEqual(proc.wait(10), 2)
        log = run.log()
        waited = arrived - int(log.fields("request")["at"]) / 1e6
        self.assertGreaterEqual(waited, 4.9)
        self.assertLess(waited, 7.0)
        # The operation and the engine's hold on the handler are left to the process exit.
        self.assertEqual(log.left_by_program(), {"operation": 1}, str(log))
        self.assertEqual(log.events("handler-release"), [])


if __name__ == "__main__":
    sys.exit(harness.main(sys.modules[__name__]))
