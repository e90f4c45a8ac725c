// The client driving the real tessik-helper.exe under Wine, with Linux's Node (through `wine`)
// and with Windows' Node (which starts it through Windows pipes). Run through
// tests/wine/run_node_tests.py, which prepares the display, the prefix and our stand-in engine.
//
// Under Wine 8 only the 2000 ms tick drives foreground reports (its foreground hook delivers no
// events from other processes), so a change shows up within one tick.
import assert from "node:assert/strict";
import { execFileSync, spawn } from "node:child_process";
import { statSync } from "node:fs";
import { join } from "node:path";
import { after, test } from "node:test";

import {
  captureWindow,
  CaptureError,
  HelperError,
  watchForeground,
  writeWav,
  type CaptureErrorWord,
  type ForegroundReport,
} from "tessik-helper";

import {
  EngineRun,
  FixtureWindow,
  helper,
  launcher,
  notKilledByWine,
  real,
  temp,
  waitFor,
  windowsNode,
  wineTest,
  withDeadline,
} from "./wine-support.js";

const TICK_MS = 3500; // one 2000 ms period and slack for Wine's scheduling
const PACKET_BYTES = 480 * 2;

const opened: FixtureWindow[] = [];
async function openWindow(...bounds: number[]): Promise<FixtureWindow> {
  const window = await FixtureWindow.open(...bounds);
  opened.push(window);
  return window;
}
after(() => Promise.all(opened.map((window) => window.close())));

/** Standard error of the program started straight from this Node, no client in between. */
function rawStderr(
  ...args: string[]
): Promise<{ code: number | null; signal: NodeJS.Signals | null; stderr: Buffer }> {
  const command = [...launcher, helper, ...args];
  const child = spawn(command[0]!, command.slice(1), { stdio: ["pipe", "pipe", "pipe"] });
  const chunks: Buffer[] = [];
  child.stderr.on("data", (chunk: Buffer) => chunks.push(chunk));
  child.stdout.resume();
  child.stdin.end();
  return new Promise((resolve) =>
    child.on("close", (code, signal) => resolve({ code, signal, stderr: Buffer.concat(chunks) })),
  );
}

wineTest("standard error lines end in CR LF with this Node as the parent", async () => {
  const usage = await rawStderr();
  notKilledByWine(usage);
  assert.equal(usage.code, 1);
  assert.equal(
    usage.stderr.toString("latin1"),
    "usage: tessik-helper foreground | capture <hwnd> [<exclude pid>]\r\n",
  );
  const noWindow = await rawStderr("capture", "0");
  notKilledByWine(noWindow);
  assert.equal(noWindow.code, 2);
  assert.equal(noWindow.stderr.toString("latin1"), "error no-window\r\n");
});

wineTest("foreground: reports of a window that moves and minimizes, then stop() and exit 0", async () => {
  const window = await openWindow(120, 90, 420, 300);
  const report = (bounds = window.bounds): ForegroundReport => ({
    pid: window.pid,
    ...bounds,
    fullScreen: false,
    exe: "fixture-window.exe",
  });
  const watcher = watchForeground(real);
  const reports = watcher[Symbol.asyncIterator]();
  const next = async (what: string, timeoutMs = TICK_MS) =>
    (await withDeadline(what, reports.next(), timeoutMs)).value;

  assert.deepEqual(await next("the first report", 15_000), report());
  await window.command("move -40 60 500 320");
  assert.equal(window.bounds.x, -40);
  assert.deepEqual(await next("the moved window's report"), report());
  await window.command("minimize");
  assert.deepEqual(await next("the minimized window's report"), report({ x: 0, y: 0, w: 0, h: 0 }));

  assert.equal(await watcher.stop(), 0);
  assert.deepEqual(await reports.next(), { done: true, value: undefined });
});

// Where Wine's own engine would refuse, these runs load our stand-in (tests/standins/audio_engine).
wineTest("capture: the ok line's fields, the exact PCM, and a WAV that a reader accepts", async () => {
  const window = await openWindow();
  const run = new EngineRun("packets 60", "silent 3,17", "null-data 5,41", "buffer-packets 1000");
  const capture = await captureWindow(window.hwnd, run.options);
  assert.equal(capture.rootPid, window.pid);
  assert.equal(capture.rootExe, "fixture-window.exe");
  const wav = join(temp, "capture.wav");
  const written = writeWav(capture.audio, wav);
  await waitFor(
    "60 packets in the file",
    () => statSync(wav, { throwIfNoEntry: false })?.size === 44 + 60 * PACKET_BYTES,
    15_000,
  );
  assert.equal(await capture.stop(), 0);
  const { dataBytes } = await written;

  const log = await run.log();
  assert.equal(log.handedOut().length, 60);
  const expected = log.expectedPcm();
  assert.equal(dataBytes, expected.length);
  if (!windowsNode) {
    // Python's wave module as the reader: it checks the header and gives back the frames.
    const read = execFileSync(
      "python3",
      [
        "-c",
        [
          "import sys, wave",
          "w = wave.open(sys.argv[1])",
          "sys.stderr.write('%d %d %d %d' % (w.getnchannels(), w.getsampwidth(), w.getframerate(), w.getnframes()))",
          "sys.stdout.buffer.write(w.readframes(w.getnframes()))",
        ].join("\n"),
        wav,
      ],
      { stdio: ["ignore", "pipe", "pipe"], maxBuffer: 1 << 24 },
    );
    assert.ok(
      read.equals(expected),
      "the frames the reader gives back are the PCM the engine's packets fold to",
    );
  }
});

wineTest("capture: every error word that the stand-in engine or Wine can cause is a CaptureError", async () => {
  const window = await openWindow();
  const expectWord = async (word: CaptureErrorWord, capturing: Promise<unknown>) => {
    await assert.rejects(capturing, (error: CaptureError) => {
      assert.ok(error instanceof CaptureError, `${word}: ${String(error)}`);
      assert.equal(error.word, word);
      notKilledByWine(error);
      assert.equal(error.exitCode, 2);
      return true;
    });
  };
  // The one that takes 5 s runs beside the others.
  const timeout = expectWord(
    "activate-timeout",
    captureWindow(window.hwnd, new EngineRun("fail never").options),
  );
  const failures: [string, CaptureErrorWord][] = [
    ["request", "activate"],
    ["status", "unsupported"],
    ["no-interface", "unsupported"],
    ["result", "unsupported"],
    ["no-client", "client"],
    ["initialize", "initialize"],
    ["set-event", "service"],
    ["get-service", "service"],
    ["start", "start"],
  ];
  for (const [point, word] of failures) {
    await expectWord(word, captureWindow(window.hwnd, new EngineRun(`fail ${point}`).options));
  }
  await expectWord("no-window", captureWindow(0, real));
  await expectWord("self", captureWindow(window.hwnd, { ...real, excludePid: window.pid }));
  // Wine's own engine refuses. Under Windows' Node every run loads ours (see run_node_tests.py).
  if (!windowsNode) await expectWord("unsupported", captureWindow(window.hwnd, real));
  await timeout;
});

test("capture: the program dying mid-stream errors the audio after the bytes it delivered", async () => {
  const window = await openWindow();
  const run = new EngineRun();
  const capture = await captureWindow(window.hwnd, run.options);
  const chunks: Buffer[] = [];
  const reading = (async () => {
    for await (const chunk of capture.audio) chunks.push(chunk as Buffer);
  })();
  await waitFor("audio", () => chunks.reduce((n, c) => n + c.length, 0) >= 20 * PACKET_BYTES, 15_000);
  process.kill(capture.pid!, "SIGKILL");
  await assert.rejects(reading, (error: HelperError) => {
    assert.ok(error instanceof HelperError);
    assert.ok(error.exitCode !== 0, `exit code ${error.exitCode}, signal ${error.signal}`);
    return true;
  });
  await assert.rejects(capture.ended, HelperError);
  const received = Buffer.concat(chunks);
  const expected = run.logSoFar().expectedPcm();
  assert.ok(
    received.length <= expected.length && received.equals(expected.subarray(0, received.length)),
    `${received.length} bytes received are not the start of the ${expected.length} the engine handed out`,
  );
});
