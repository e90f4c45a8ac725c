"""Runs the native benchmarks and the measurements of the real program under Wine, prints one
`name: value` line per figure and writes the table into docs/performance.md.

    measure.py --bench BENCH_BINARY --helper EXE --fixtures DIR --standins DIR --work DIR
               --doc FILE
"""

import argparse
import json
import os
import statistics
import subprocess
import sys
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests", "wine"))
import harness  # noqa: E402  (Xvfb, the Wine prefix, processes with deadlines, clean-up)
import capture_cost  # noqa: E402  (the capture's figures, from the stand-in engine)
from report import GOALS, formatted, machine, write_doc  # noqa: E402

IDLE_SECONDS = 20
STARTS = 7  # start-up samples of each program, alternating; the medians are compared

def native_figures(bench):
    out = subprocess.run([bench, "--benchmark_format=json", "--benchmark_repetitions=5",
                          "--benchmark_enable_random_interleaving=true",
                          "--benchmark_report_aggregates_only=true",
                          "--benchmark_min_time=0.1"],
                         check=True, stdout=subprocess.PIPE, stdin=subprocess.DEVNULL).stdout
    medians = {}
    for row in json.loads(out)["benchmarks"]:
        if row.get("aggregate_name") == "median":
            medians[row["run_name"]] = row
    for row in json.loads(out)["benchmarks"]:
        if row.get("error_occurred"):
            raise SystemExit(f"benchmark failed: {row['name']}: {row.get('error_message')}")

    def rate(name):
        return medians[name]["bytes_per_second"]

    def cpu_ns(name):
        row = medians[name]
        scale = {"ns": 1, "us": 1e3, "ms": 1e6, "s": 1e9}[row["time_unit"]]
        return row["cpu_time"] * scale

    pump = medians["BM_PumpDrains/manual_time"]
    return {
        "fold_vs_memcpy": rate("BM_Fold/960") / rate("BM_Memcpy/960"),
        "fold_vs_memcpy_4800": rate("BM_Fold/4800") / rate("BM_Memcpy/4800"),
        "fold_vs_memcpy_in_cache": rate("BM_FoldInCache/960") / rate("BM_MemcpyInCache/960"),
        "fold_vs_memcpy_4800_in_cache":
            rate("BM_FoldInCache/4800") / rate("BM_MemcpyInCache/4800"),
        "pump_ns_per_packet": pump["ns_per_packet"],
        "pump_allocs_per_1000_packets": pump["allocs_per_1000_packets"],
        "pump_flushes_per_drain": pump["flushes_per_drain"],
        "report_ns_unchanged": cpu_ns("BM_ReportUnchanged"),
        "report_allocs_unchanged": medians["BM_ReportUnchanged"]["allocs_per_report"],
        "framehost_scale": cpu_ns("BM_ReportFrameHost/1000") / cpu_ns("BM_ReportFrameHost/10"),
        "family_scale":
            cpu_ns("BM_ResolveCaptureRoot/10000") / cpu_ns("BM_ResolveCaptureRoot/100"),
    }


def cpu_ticks(root_pid):
    """utime + stime of root_pid and its descendants still alive, in clock ticks."""
    stats = {}
    for entry in os.listdir("/proc"):
        if not entry.isdigit():
            continue
        try:
            with open(f"/proc/{entry}/stat") as f:
                fields = f.read().rsplit(")", 1)[1].split()
        except OSError:
            continue
        stats[int(entry)] = (int(fields[1]), int(fields[11]) + int(fields[12]))  # ppid, ticks
    family, total, grew = {root_pid}, 0, True
    while grew:
        grew = False
        for pid, (ppid, _) in stats.items():
            if ppid in family and pid not in family:
                family.add(pid)
                grew = True
    for pid in family:
        total += stats.get(pid, (0, 0))[1]
    return total


def first_line_ms(helper):
    """Median time to the helper's first report minus the median run of the trivial fixture."""
    trivial, first = [], []
    for _ in range(STARTS):
        started = time.monotonic()
        proc = harness.start(harness.fixture("fixture-trivial.exe"), stdin=subprocess.DEVNULL)
        if proc.wait(30) != 0:
            raise SystemExit("fixture-trivial.exe did not end cleanly")
        trivial.append(time.monotonic() - started)
        started = time.monotonic()
        proc = harness.start(helper, "foreground")
        if proc.out.readline(30) is None:
            raise SystemExit("no foreground line within 30 s")
        first.append(time.monotonic() - started)
        harness.cleanup()
    return (statistics.median(first) - statistics.median(trivial)) * 1000


def idle_cpu_seconds(helper):
    """CPU seconds of the foreground mode over IDLE_SECONDS of a desktop where nothing moves."""
    window = harness.start(harness.fixture("fixture-window.exe"), "120", "90", "420", "300")
    if window.out.readline(20) is None:
        raise SystemExit("fixture window did not start")
    proc = harness.start(helper, "foreground")
    if proc.out.readline(30) is None:
        raise SystemExit("no foreground line within 30 s")
    ticks = cpu_ticks(proc.pid)
    time.sleep(IDLE_SECONDS)  # the measurement window itself
    ticks = cpu_ticks(proc.pid) - ticks
    if proc.poll() is not None:
        raise SystemExit("the foreground mode ended during the idle window")
    harness.cleanup()
    return ticks / os.sysconf("SC_CLK_TCK")


def capture_figures(helper):
    window = harness.start(harness.fixture("fixture-window.exe"), "120", "90", "420", "300")
    line = window.out.readline(20)
    if line is None:
        raise SystemExit("fixture window did not start")
    hwnd, pid = (int(v) for v in line.split()[:2])
    found = capture_cost.figures(helper, harness.fixture("fixture-floor.exe"), hwnd, pid)
    harness.cleanup()
    return found


def wine_figures(args):
    harness.parse_args(["--helper", args.helper, "--fixtures", args.fixtures,
                        "--standins", args.standins, "--work", args.work])
    harness.WINE = harness.Wine(args.work)
    try:
        harness.WINE.start()
        # One unmeasured run of each, so both find Wine's files and DLLs equally warm.
        harness.start(harness.fixture("fixture-trivial.exe"), stdin=subprocess.DEVNULL).wait(60)
        proc = harness.start(args.helper, "foreground")
        proc.out.readline(60)
        harness.cleanup()
        found = {"wine_first_line_ms": first_line_ms(args.helper),
                 "wine_idle_cpu_s_per_20s": idle_cpu_seconds(args.helper)}
        found.update(capture_figures(args.helper))
        return found
    finally:
        harness.cleanup()
        harness.WINE.stop()


def main():
    parser = argparse.ArgumentParser()
    for option in ("--bench", "--helper", "--fixtures", "--standins", "--work", "--doc"):
        parser.add_argument(option, required=True)
    args = parser.parse_args()
    for name in ("bench", "helper", "fixtures", "standins", "work", "doc"):
        setattr(args, name, os.path.abspath(getattr(args, name)))
    figures = native_figures(args.bench)
    figures.update(wine_figures(args))
    figures["exe_bytes"] = os.path.getsize(args.helper)
    for name, value in figures.items():
        print(f"{name}: {formatted(name, value)}")
    write_doc(args.doc, figures, machine())
    missed = [n for n, v in figures.items() if n in GOALS and not GOALS[n][1](v)]
    if missed:
        print(f"goals missed: {' '.join(missed)}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
