// Both modes of tessik-helper.exe under Wine, driven through the client: the foreground reports
// of a window that moves and minimizes, then the capture of that window's application from our
// stand-in audio engine playing a tone, written to a WAV file and measured.
// Started by scripts/demo (through tests/wine/run_node_tests.py): demo.js <wav path> [tone Hz]
import { readFile } from "node:fs/promises";
import { statSync } from "node:fs";

import { captureWindow, watchForeground, writeWav, type ForegroundReport } from "tessik-helper";

import { EngineRun, FixtureWindow, real, waitFor, withDeadline } from "../test/wine-support.js";

const wavPath = process.argv[2] ?? "capture.wav";
const toneHz = Number(process.argv[3] ?? 440);
const seconds = 3;
const TICK_MS = 3500; // under Wine only the 2000 ms tick reports a change

function show(report: ForegroundReport): string {
  if (report === null) return "no foreground window";
  const { exe, pid, x, y, w, h, fullScreen } = report;
  return `${exe} (pid ${pid})  x ${x}  y ${y}  w ${w}  h ${h}  full-screen ${fullScreen ? "yes" : "no"}`;
}

async function foreground(window: FixtureWindow): Promise<void> {
  console.log("== foreground: reports of the fixture window");
  const watcher = watchForeground(real);
  const reports = watcher[Symbol.asyncIterator]();
  const next = async (timeoutMs = TICK_MS) =>
    (await withDeadline("a report", reports.next(), timeoutMs)).value as ForegroundReport;
  console.log(`  at start              ${show(await next(15_000))}`);
  for (const step of ["move -60 120 640 360", "minimize", "restore"]) {
    await window.command(step);
    console.log(`  ${step.padEnd(22)}${show(await next())}`);
  }
  console.log(`  stop() gave exit code ${await watcher.stop()}`);
}

async function capture(window: FixtureWindow): Promise<void> {
  console.log(`== capture: the window's application, from the stand-in engine playing ${toneHz} Hz`);
  const packets = seconds * 100; // 480 frames every 10 ms
  const run = new EngineRun(`tone ${toneHz}`, `packets ${packets}`, "buffer-packets 1000");
  const capturing = await captureWindow(window.hwnd, { ...run.options, excludePid: process.pid });
  console.log(`  ok: root pid ${capturing.rootPid}, exe ${capturing.rootExe}`);
  const written = writeWav(capturing.audio, wavPath);
  const dataBytes = packets * 480 * 2;
  await waitFor(
    "the whole tone in the file",
    () => (statSync(wavPath, { throwIfNoEntry: false })?.size ?? 0) >= 44 + dataBytes,
    30_000,
  );
  console.log(`  stop() gave exit code ${await capturing.stop()}`);
  const result = await written;
  console.log(`  wrote ${wavPath}`);

  const file = await readFile(wavPath);
  const samples = Int16Array.from({ length: result.dataBytes / 2 }, (_, i) => file.readInt16LE(44 + 2 * i));
  const peak = samples.reduce((most, s) => Math.max(most, Math.abs(s)), 0);
  const measured = frequency(samples, 48000);
  console.log(
    `  ${result.seconds.toFixed(2)} s, peak ${peak} (${(20 * Math.log10(peak / 32768)).toFixed(1)} dBFS), ${measured.toFixed(2)} Hz measured`,
  );
  if (Math.abs(measured - toneHz) > 0.5)
    throw new Error(`measured ${measured.toFixed(2)} Hz, the engine played ${toneHz} Hz`);
}

/** Frequency from the rising zero crossings, each placed between its two samples. */
function frequency(samples: Int16Array, rate: number): number {
  const crossings: number[] = [];
  for (let i = 1; i < samples.length; i++) {
    const before = samples[i - 1]!;
    const after = samples[i]!;
    if (before < 0 && after >= 0) crossings.push(i - 1 + before / (before - after));
  }
  if (crossings.length < 2) return 0;
  return ((crossings.length - 1) * rate) / (crossings.at(-1)! - crossings[0]!);
}

const window = await FixtureWindow.open(100, 80, 480, 320);
try {
  await foreground(window);
  await capture(window);
} finally {
  await window.close();
}
