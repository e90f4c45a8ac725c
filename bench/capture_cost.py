"""What a capture costs the parent, measured on the real program under Wine, capturing from the
stand-in engine (tests/standins/audio_engine: 480-frame packets every 10 ms, a steady stream,
no per-call log) beside fixture-floor.exe, the least a program can do with the same packets.

Each run lasts RUN_PACKETS packets; the program and the floor take turns, PAIRS times each.
On a shared virtual machine both are at the mercy of the host's scheduling (a plain sleep loop
here oversleeps by up to 200 ms a few times a minute), so the floor's latencies are printed
beside the program's as the reference for what the machine allowed during the same runs.
"""

import os
import re
import statistics
import subprocess
import threading
import time

import engine
import harness

RUN_PACKETS = 3000  # 30 s at one packet every 10 ms
PAIRS = 5
STRACE_PACKETS = 1000
PACKET_BYTES = 960
RSS_EARLY_SECONDS = 5
# The steady state, for the CPU a run spends per packet once started: between these packets.
STEADY_FROM, STEADY_TO = 500, RUN_PACKETS - 100


class TimedReader:
    """Reads a pipe to its end on a thread, noting when each chunk arrived (wall clock, the
    engine's own clock under Wine) and how many bytes had come by then."""

    def __init__(self, pipe, keep=True):
        self.arrivals = []  # (seconds since 1970, bytes so far)
        self.data = bytearray() if keep else None
        self.total = 0
        self._fd = pipe.fileno()
        self._thread = threading.Thread(target=self._run, daemon=True)
        self._thread.start()

    def _run(self):
        while True:
            try:
                chunk = os.read(self._fd, 1 << 16)
            except OSError:
                chunk = b""
            now = time.time()
            if not chunk:
                return
            self.total += len(chunk)
            self.arrivals.append((now, self.total))
            if self.data is not None:
                self.data += chunk

    def join(self, timeout):
        self._thread.join(timeout)


def reap(proc, timeout):
    """wait4 on the process: its exit code and its own CPU seconds (user + system)."""
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        pid, status, usage = os.wait4(proc.pid, os.WNOHANG)
        if pid == proc.pid:
            proc.returncode = os.waitstatus_to_exitcode(status)
            return proc.returncode, usage.ru_utime + usage.ru_stime
        time.sleep(0.01)
    raise SystemExit(f"{proc.args[1]} did not end within {timeout} s")


def on_cpu_seconds(pid):
    """CPU time of every thread of the process so far (the scheduler's nanosecond count)."""
    total = 0
    try:
        for task in os.listdir(f"/proc/{pid}/task"):
            with open(f"/proc/{pid}/task/{task}/schedstat") as stat:
                total += int(stat.read().split()[0])
    except OSError:
        pass
    return total / 1e9


def steady_cpu(proc, reader):
    """CPU seconds the process spends while the parent reads packets STEADY_FROM to STEADY_TO
    (start-up and tear-down left out)."""
    marks = []
    for packet in (STEADY_FROM, STEADY_TO):
        while reader.total < packet * PACKET_BYTES:
            if proc.poll() is not None:
                raise SystemExit(f"{proc.args[1]} ended before packet {packet}")
            time.sleep(0.005)
        marks.append(on_cpu_seconds(proc.pid))
    return marks[1] - marks[0]


def start(args, run, stderr=subprocess.PIPE):
    return subprocess.Popen(args, stdin=subprocess.PIPE, stdout=subprocess.PIPE, stderr=stderr,
                            env=run.env, cwd=harness.WINE.temp)


def capture_run(helper, hwnd):
    """One capture of RUN_PACKETS packets by the program; what the parent saw and paid."""
    run = engine.Run("calls off")
    proc = start(["wine", helper, "capture", str(hwnd)], run)
    status = harness.Stream(proc.stderr).readline(30)
    if not status or not status.startswith(b"ok "):
        raise SystemExit(f"capture did not start: {status!r}")
    reader = TimedReader(proc.stdout)
    started = time.monotonic()
    early_rss = None
    steady = steady_cpu(proc, reader)
    while reader.total < RUN_PACKETS * PACKET_BYTES:
        if early_rss is None and time.monotonic() - started >= RSS_EARLY_SECONDS:
            early_rss = harness.resident_kib(proc.pid)
        if time.monotonic() - started > RUN_PACKETS / 100 * 2 + 30:
            raise SystemExit("the capture fell far behind the engine")
        time.sleep(0.05)  # the measurement window itself
    late_rss = harness.resident_kib(proc.pid)
    wall = time.monotonic() - started
    proc.stdin.close()
    code, cpu = reap(proc, 30)
    reader.join(10)
    if code != 0:
        raise SystemExit(f"capture ended with {code}")
    return dict(cpu=cpu, steady=steady, wall=wall, early_rss=early_rss, late_rss=late_rss,
                reader=reader, log=run.log(timeout=30))


def floor_run(fixture, pid):
    """One run of the floor fixture over the same number of packets: its CPU and the parent's
    view of its output (one packet's 960 bytes per packet)."""
    run = engine.Run("calls off")
    proc = start(["wine", fixture, str(pid), str(RUN_PACKETS)], run, stderr=subprocess.DEVNULL)
    reader = TimedReader(proc.stdout, keep=False)
    steady = steady_cpu(proc, reader)
    code, cpu = reap(proc, RUN_PACKETS / 100 * 2 + 60)
    reader.join(10)
    if code != 0 or reader.total != RUN_PACKETS * PACKET_BYTES:
        raise SystemExit(f"the floor ended with {code} after {reader.total} bytes")
    return dict(cpu=cpu, steady=steady, reader=reader, log=run.log(timeout=30))


def startup_cpu_ms(helper, hwnd, floor, pid, times=5):
    """CPU of a whole run that moves a single packet at most, the program (input at its end:
    set-up, "ok", tear-down) against the floor (one packet): the medians, in ms."""
    program, base = [], []
    for _ in range(times):
        run = engine.Run("calls off")
        proc = subprocess.Popen(["wine", helper, "capture", str(hwnd)], stdin=subprocess.DEVNULL,
                                stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, env=run.env,
                                cwd=harness.WINE.temp)
        program.append(reap(proc, 30)[1] * 1000)
        proc = subprocess.Popen(["wine", floor, str(pid), "1"], stdin=subprocess.DEVNULL,
                                stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, env=run.env,
                                cwd=harness.WINE.temp)
        base.append(reap(proc, 30)[1] * 1000)
    return statistics.median(program), statistics.median(base)


def handed_out_packets(log):
    """Packet numbers in the order the engine handed them out (made, less those it dropped)."""
    dropped = {int(f["packet"]) for _, _, f in log.events("overflow")}
    fetched = log.summary()["fetched"]
    handed = []
    number = 0
    while len(handed) < fetched:
        if number not in dropped:
            handed.append(number)
        number += 1
    return handed


def latencies_ms(result):
    """From each packet's moment of readiness (the engine's clock) to the moment the parent
    had read its last byte."""
    log = result["log"]
    ready = {int(f["packet"]): int(f["at"]) / 1e6 for _, _, f in log.events("ready")}
    arrivals = result["reader"].arrivals
    found, index = [], 0
    for position, number in enumerate(handed_out_packets(log)):
        end = (position + 1) * PACKET_BYTES
        while index < len(arrivals) and arrivals[index][1] < end:
            index += 1
        if index == len(arrivals):
            break
        found.append((arrivals[index][0] - ready[number]) * 1000)
    return found


def bytes_exact(result):
    expected = b"".join(engine.packet_pcm(number * 480, 480)
                        for number in handed_out_packets(result["log"]))
    return bytes(result["reader"].data) == expected


def writes_per_drain(helper, hwnd):
    """Writes that reach the stdout pipe, counted by strace on the Wine process, per drain (the
    engine counts a drain's end: the size query that finds nothing)."""
    run = engine.Run("calls off")
    trace = os.path.join(harness.WINE.temp, "capture.strace")
    proc = start(["strace", "-f", "-y", "-e", "trace=write,writev,pwrite64", "-o", trace,
                  "wine", helper, "capture", str(hwnd)], run)
    pipe = os.fstat(proc.stdout.fileno()).st_ino
    harness.Stream(proc.stderr).readline(60)
    reader = TimedReader(proc.stdout, keep=False)
    deadline = time.monotonic() + STRACE_PACKETS / 100 * 4 + 30
    while reader.total < STRACE_PACKETS * PACKET_BYTES and time.monotonic() < deadline:
        time.sleep(0.05)
    proc.stdin.close()
    proc.wait(60)
    reader.join(10)
    pattern = re.compile(r"\bwrite(?:v|64)?\(\d+<pipe:\[%d\]>" % pipe)
    with open(trace) as lines:
        writes = sum(1 for line in lines if pattern.search(line))
    drains = run.log(timeout=30).summary()["empty-size-queries"]
    return writes / drains


def figures(helper, floor, window_hwnd, window_pid):
    """The capture figures, in the order they are printed."""
    ratios, steady, percents, latencies, floor_latencies, growths, exact = \
        [], [], [], [], [], [], True
    for _ in range(PAIRS):
        program = capture_run(helper, window_hwnd)
        base = floor_run(floor, window_pid)
        ratios.append(program["cpu"] / base["cpu"])
        steady.append(program["steady"] / base["steady"])
        percents.append(program["cpu"] / program["wall"] * 100)
        latencies += latencies_ms(program)
        floor_latencies += latencies_ms(base)
        growths.append((program["late_rss"] - program["early_rss"]) / program["early_rss"] * 100)
        exact = exact and bytes_exact(program)
    startup, floor_startup = startup_cpu_ms(helper, window_hwnd, floor, window_pid)
    return {
        "wine_capture_cpu_vs_floor": statistics.median(ratios),
        "wine_capture_steady_cpu_vs_floor": statistics.median(steady),
        "wine_capture_startup_cpu_ms": startup,
        "wine_capture_floor_startup_cpu_ms": floor_startup,
        "wine_capture_cpu_percent": statistics.median(percents),
        "wine_capture_latency_p50_ms": percentile(latencies, 0.50),
        "wine_capture_latency_p99_ms": percentile(latencies, 0.99),
        "wine_capture_floor_latency_p50_ms": percentile(floor_latencies, 0.50),
        "wine_capture_floor_latency_p99_ms": percentile(floor_latencies, 0.99),
        "wine_capture_writes_per_drain": writes_per_drain(helper, window_hwnd),
        "wine_capture_rss_growth_percent": max(growths),
        "wine_capture_bytes_exact": exact,
    }


def percentile(values, fraction):
    ordered = sorted(values)
    return ordered[min(len(ordered) - 1, int(len(ordered) * fraction))]
