// The client against a stand-in for the program (fake-program.ts), one behaviour a scenario:
// how it starts the program, reads its streams, and reports its ends.
import assert from "node:assert/strict";
import { once } from "node:events";
import { fileURLToPath } from "node:url";
import { test } from "node:test";

import {
  captureWindow,
  CaptureError,
  HelperError,
  UsageError,
  watchForeground,
  type CaptureErrorWord,
  type ForegroundReport,
} from "tessik-helper";

const fake = fileURLToPath(new URL("./fake-program.js", import.meta.url));
// The command is launcher + exe + arguments: the fake takes the exe's place as its scenario.
const as = (scenario: string) => ({ launcher: [process.execPath, fake], exe: scenario });

async function collect(reports: AsyncIterable<ForegroundReport>, count: number): Promise<ForegroundReport[]> {
  const got: ForegroundReport[] = [];
  for await (const report of reports) {
    got.push(report);
    if (got.length === count) break;
  }
  return got;
}

async function readAll(audio: NodeJS.ReadableStream): Promise<Buffer> {
  const chunks: Buffer[] = [];
  for await (const chunk of audio) chunks.push(chunk as Buffer);
  return Buffer.concat(chunks);
}

function samples(count: number, first = 0): Buffer {
  const out = Buffer.alloc(count * 2);
  for (let i = 0; i < count; i++) out.writeInt16LE(((first + i) % 65536) - 32768, i * 2);
  return out;
}

test("foreground: lines cut anywhere, in the middle of a character too, arrive whole", async () => {
  const watcher = watchForeground(as("reports-in-pieces"));
  const heard: ForegroundReport[] = [];
  watcher.on("report", (report) => heard.push(report));
  const window = {
    pid: 7,
    x: -5,
    y: 0,
    w: 10,
    h: 20,
    fullScreen: true,
    exe: 'a"b\\c\u0001 \u00e9\u65e5\ud83c\udfb5.exe',
  };
  const reports: ForegroundReport[] = [];
  for await (const report of watcher) {
    reports.push(report);
    if (reports.length === 3) assert.equal(await watcher.stop(), 0);
  }
  assert.deepEqual(reports, [null, window, null]);
  assert.deepEqual(heard, reports);
});

test("foreground: leaving the loop ends the program", async () => {
  const watcher = watchForeground(as("reports-in-pieces"));
  const ended = once(watcher, "end");
  assert.equal((await collect(watcher, 1)).length, 1);
  assert.deepEqual(await ended, [0]);
});

test("foreground: the program ending on its own with 0 ends the iteration", async () => {
  const watcher = watchForeground(as("one-report-then-exit-0"));
  assert.deepEqual(await collect(watcher, 99), [null]);
  assert.equal(await watcher.stop(), 0);
});

test("foreground: an unexpected end is thrown with its exit code and command", async () => {
  const watcher = watchForeground(as("crash"));
  await assert.rejects(collect(watcher, 1), (error: HelperError) => {
    assert.ok(error instanceof HelperError);
    assert.equal(error.exitCode, 3);
    assert.deepEqual(error.command, [process.execPath, fake, "crash", "foreground"]);
    return true;
  });
});

test("foreground: with neither iterator nor stop(), the end is an error event", async () => {
  const watcher = watchForeground(as("crash"));
  const [error] = (await once(watcher, "error")) as [HelperError];
  assert.equal(error.exitCode, 3);
});

test("foreground: a line that is not a report is an error, not a guess", async () => {
  const watcher = watchForeground(as("not-a-report"));
  await assert.rejects(collect(watcher, 1), /not a report: "\{\\"pid\\":1,\\"x\\":0\}"/);
});

test("a usage line and exit 1 are a UsageError", async () => {
  const watcher = watchForeground(as("usage"));
  await assert.rejects(watcher.stop(), (error) => error instanceof UsageError && error.exitCode === 1);
  await assert.rejects(
    captureWindow(1n, as("usage")),
    (error) => error instanceof UsageError && error.exitCode === 1,
  );
});

test("a program that cannot be started is a HelperError with its cause", async () => {
  const missing = { exe: fileURLToPath(new URL("./no-such-program.exe", import.meta.url)) };
  await assert.rejects(captureWindow(1, missing), (error: HelperError) => {
    assert.ok(error instanceof HelperError && error.cause instanceof Error);
    assert.equal(error.exitCode, null);
    return true;
  });
  await assert.rejects(watchForeground(missing).stop(), HelperError);
});

test("capture: each word is a CaptureError with the word, what it means and exit code 2", async () => {
  const words: CaptureErrorWord[] = [
    "no-window",
    "no-process",
    "self",
    "com",
    "activate",
    "activate-timeout",
    "unsupported",
    "client",
    "initialize",
    "service",
    "start",
  ];
  for (const word of words) {
    await assert.rejects(captureWindow(5, as(`error:${word}`)), (error: CaptureError) => {
      assert.ok(error instanceof CaptureError, word);
      assert.equal(error.word, word);
      assert.equal(error.exitCode, 2);
      assert.match(error.message, new RegExp(`\\(${word}\\): \\w+`));
      assert.deepEqual(error.command, [process.execPath, fake, `error:${word}`, "capture", "5"]);
      return true;
    });
  }
  // A word the contract does not have is no CaptureError.
  await assert.rejects(
    captureWindow(5, as("error:melted")),
    (error) =>
      !(error instanceof CaptureError) && error instanceof HelperError && /error melted/.test(error.message),
  );
});

test("capture: the handle's forms keep all 64 bits; bad ones are refused before starting", async () => {
  const bytes = Buffer.alloc(8);
  bytes.writeBigUInt64LE(0x0102030405060708n);
  const forms: [string, Parameters<typeof captureWindow>[0], number | undefined, string[]][] = [
    ["bigint, largest", 18446744073709551615n, undefined, ["capture", "18446744073709551615"]],
    ["number", 65538, 0, ["capture", "65538"]],
    ["decimal string", "18446744073709551615", 77, ["capture", "18446744073709551615", "77"]],
    ["Electron's 8 handle bytes", bytes, 4294967295, ["capture", "72623859790382856", "4294967295"]],
    ["4 handle bytes", Uint8Array.of(1, 0, 1, 0), undefined, ["capture", "65537"]],
  ];
  for (const [what, hwnd, excludePid, args] of forms) {
    const capture = await captureWindow(hwnd, { ...as("arguments"), excludePid });
    assert.deepEqual(JSON.parse(capture.rootExe), args, what);
    capture.audio.resume();
    assert.equal(await capture.stop(), 0);
  }
  const refused: [Parameters<typeof captureWindow>[0], number | undefined][] = [
    [-1n, undefined],
    [1n << 64n, undefined],
    ["0x10", undefined],
    [" 1", undefined],
    ["", undefined],
    [1.5, undefined],
    [Number.NaN, undefined],
    [2 ** 53, undefined],
    [Uint8Array.of(1, 2, 3), undefined],
    [1, -1],
    [1, 2 ** 32],
    [1, 0.5],
  ];
  for (const [hwnd, excludePid] of refused) {
    await assert.rejects(captureWindow(hwnd, { ...as("arguments"), excludePid }), RangeError, String(hwnd));
  }
});

test("capture: the status line after a launcher's own line; samples before it are kept", async () => {
  const capture = await captureWindow(1, as("launcher-line-then-ok"));
  assert.equal(capture.rootPid, 4242);
  assert.equal(capture.rootExe, "My App.exe");
  const audio = readAll(capture.audio);
  assert.equal(await capture.stop(), 0);
  assert.deepEqual(await audio, samples(150));
});

test("capture: an empty exe name", async () => {
  const capture = await captureWindow(1, as("empty-exe"));
  assert.deepEqual([capture.rootPid, capture.rootExe], [9, ""]);
  capture.audio.resume();
  assert.equal(await capture.stop(), 0);
});

test("capture: the program ending on its own with 0 ends the audio", async () => {
  const capture = await captureWindow(1, as("ends-on-its-own"));
  assert.deepEqual(await readAll(capture.audio), samples(1000));
  assert.equal(await capture.ended, 0);
});

test("capture: the program dying mid-stream: every byte that arrived, then its error", async () => {
  const capture = await captureWindow(1, as("dies-mid-stream"));
  // Read only once the program is gone: what the stream held by then must still come out.
  await assert.rejects(capture.ended, (error: HelperError) => error.exitCode === 5);
  const chunks: Buffer[] = [];
  await assert.rejects(
    async () => {
      for await (const chunk of capture.audio) chunks.push(chunk as Buffer);
    },
    (error: HelperError) => error instanceof HelperError && error.exitCode === 5,
  );
  assert.deepEqual(Buffer.concat(chunks), samples(3000));
});

test("capture: a parent that does not read ends the capture by destroying the audio", async () => {
  const capture = await captureWindow(1, as("streams-until-stopped"));
  // Unread, the audio fills up and the program waits in its write: closing its input alone
  // would not end it, closing its output does.
  await once(capture.audio, "readable");
  const stopped = capture.stop();
  capture.audio.destroy();
  assert.equal(await stopped, 0);
});
