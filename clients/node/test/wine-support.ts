// What the tests against the real program under Wine share: the set-up that
// tests/wine/run_node_tests.py hands over in the environment, the fixture window, and our
// stand-in audio engine's script and log (the samples it handed out, recomputed here).
import { spawn, type ChildProcessWithoutNullStreams } from "node:child_process";
import { existsSync, readFileSync, writeFileSync } from "node:fs";
import { join } from "node:path";
import { createInterface } from "node:readline";
import { test } from "node:test";

import { HelperError, type HelperOptions } from "tessik-helper";

function setting(name: string): string {
  const value = process.env[name];
  if (value === undefined)
    throw new Error(`${name} is not set: run these tests through tests/wine/run_node_tests.py`);
  return value;
}

export const helper = setting("TESSIK_TEST_HELPER");
const fixtures = setting("TESSIK_TEST_FIXTURES");
export const temp = setting("TESSIK_TEST_TEMP");
const tempAsWindowsNamesIt = setting("TESSIK_TEST_TEMP_WINDOWS");
const engineOverrides = setting("TESSIK_TEST_ENGINE_OVERRIDES");
export const launcher = setting("TESSIK_TEST_LAUNCHER")
  .split(" ")
  .filter((word) => word !== "");
/** Node itself runs under Wine, as Windows' Node. */
export const windowsNode = process.platform === "win32";

/** The client's options for the real program (Wine's own audio engine). */
export const real: HelperOptions = { exe: helper, launcher };

/**
 * Wine 8's server now and then sends SIGKILL to a process that is already ending, when its Unix
 * side is slow to go once its last thread has ended (seen rarely on a busy machine, for the
 * program and fixtures alike). The program's exit code is then lost: a test that needs it can
 * tell nothing, so it is skipped, saying so, rather than failed or passed.
 */
export class KilledByWine extends Error {}

/** Throws KilledByWine when a program's end is a SIGKILL (that no test sent). */
export function notKilledByWine(end: { signal?: NodeJS.Signals | string | null }): void {
  if (end.signal === "SIGKILL")
    throw new KilledByWine("Wine killed the program with SIGKILL while it ended: its exit code is lost");
}

/** A test of the real program under Wine, skipped when Wine killed the program (KilledByWine). */
export function wineTest(name: string, body: () => Promise<void>): void {
  test(name, async (t) => {
    try {
      await body();
    } catch (error) {
      if (error instanceof HelperError && error.signal === "SIGKILL") {
        t.skip(`Wine killed the program with SIGKILL while it ended: ${error.message}`);
        return;
      }
      if (error instanceof KilledByWine) {
        t.skip(error.message);
        return;
      }
      throw error;
    }
  });
}

export async function waitFor<T>(
  what: string,
  condition: () => T | undefined | false,
  timeoutMs: number,
): Promise<T> {
  const deadline = Date.now() + timeoutMs;
  for (;;) {
    const value = condition();
    if (value) return value;
    if (Date.now() > deadline) throw new Error(`timed out after ${timeoutMs} ms waiting for ${what}`);
    await new Promise((resolve) => setTimeout(resolve, 20));
  }
}

/** fixture-window: a window of its own process, moved and minimized on command. */
export class FixtureWindow {
  readonly hwnd: bigint;
  readonly pid: number;
  bounds: { x: number; y: number; w: number; h: number };
  private readonly child: ChildProcessWithoutNullStreams;
  private readonly lines: AsyncIterator<string>;

  private constructor(child: ChildProcessWithoutNullStreams, lines: AsyncIterator<string>, first: string) {
    this.child = child;
    this.lines = lines;
    const [hwnd, pid, x, y, w, h] = first.trim().split(" ");
    this.hwnd = BigInt(hwnd!);
    this.pid = Number(pid);
    this.bounds = { x: Number(x), y: Number(y), w: Number(w), h: Number(h) };
  }

  static async open(x = 120, y = 90, w = 420, h = 300): Promise<FixtureWindow> {
    const command = [
      ...launcher,
      join(fixtures, "fixture-window.exe"),
      String(x),
      String(y),
      String(w),
      String(h),
    ];
    const child = spawn(command[0]!, command.slice(1), { stdio: ["pipe", "pipe", "pipe"] });
    child.stderr.resume();
    const lines = createInterface({ input: child.stdout })[Symbol.asyncIterator]();
    const first = await withDeadline("the fixture window", lines.next(), 20_000);
    if (first.done) throw new Error("fixture-window ended before showing its window");
    return new FixtureWindow(child, lines, first.value);
  }

  /** Runs a command; move and restore answer with the window rectangle. */
  async command(text: string): Promise<void> {
    this.child.stdin.write(`${text}\n`);
    const answer = await withDeadline(`the fixture's answer to ${text}`, this.lines.next(), 10_000);
    const words = answer.done ? [] : answer.value.trim().split(" ");
    if (words[0] !== "ok") throw new Error(`fixture-window refused ${text}: ${answer.value}`);
    if (words.length === 5) {
      const [x, y, w, h] = words.slice(1).map(Number) as [number, number, number, number];
      this.bounds = { x, y, w, h };
    }
  }

  close(): Promise<unknown> {
    this.child.stdin.end();
    return this.child.exitCode === null
      ? new Promise((resolve) => this.child.once("exit", resolve))
      : Promise.resolve();
  }
}

export async function withDeadline<T>(what: string, promise: Promise<T>, timeoutMs: number): Promise<T> {
  let timer: NodeJS.Timeout | undefined;
  const timeout = new Promise<never>((_, reject) => {
    timer = setTimeout(() => reject(new Error(`no ${what} within ${timeoutMs} ms`)), timeoutMs);
  });
  try {
    return await Promise.race([promise, timeout]);
  } finally {
    clearTimeout(timer);
  }
}

let runs = 0;

/** One capture run's script for our stand-in engine, and its log. */
export class EngineRun {
  readonly logPath: string;
  /** The client's options for a run that loads our engine instead of Wine's. */
  readonly options: HelperOptions;

  constructor(...directives: string[]) {
    const name = `node-engine-${process.pid}-${runs++}`;
    this.logPath = join(temp, `${name}.log`);
    const script = join(temp, `${name}.script`);
    const logAsWindowsNamesIt = `${tempAsWindowsNamesIt}\\${name}.log`;
    writeFileSync(script, [`log ${logAsWindowsNamesIt}`, ...directives].map((line) => `${line}\n`).join(""));
    // Empty overrides: every run loads the engine already (under Windows' Node, see
    // run_node_tests.py); Wine would not take them from this process's environment anyway.
    const env: NodeJS.ProcessEnv = {
      ...process.env,
      TESSIK_ENGINE_SCRIPT: `${tempAsWindowsNamesIt}\\${name}.script`,
    };
    if (engineOverrides !== "") env.WINEDLLOVERRIDES = engineOverrides;
    this.options = { ...real, env };
  }

  /** The log as it stands (the engine writes it as it goes). */
  logSoFar(): EngineLog {
    return new EngineLog(this.logPath);
  }

  /** The log once the engine wrote its last line, at the program's exit. */
  async log(): Promise<EngineLog> {
    await waitFor(
      "the engine's log to be complete",
      () => existsSync(this.logPath) && new EngineLog(this.logPath).has("exit"),
      10_000,
    );
    return new EngineLog(this.logPath);
  }
}

export interface HandedOut {
  firstFrame: number;
  frames: number;
  zeros: boolean;
}

const SILENT = 0x2;

export class EngineLog {
  readonly lines: string[];

  constructor(path: string) {
    this.lines = readFileSync(path, "utf8")
      .split("\n")
      .filter((line) => line.trim() !== "");
  }

  has(line: string): boolean {
    return this.lines.includes(line);
  }

  fields(line: string): Record<string, string> {
    return Object.fromEntries([...line.matchAll(/(\S+)=(\S+)/g)].map((m) => [m[1]!, m[2]!]));
  }

  /** The packets GetBuffer handed out, in order. */
  handedOut(): HandedOut[] {
    return this.lines
      .filter(
        (line) =>
          line.startsWith("get-buffer ") && line.includes(" frame=") && line.endsWith("status=0x00000000"),
      )
      .map((line) => this.fields(line))
      .map((f) => ({
        firstFrame: Number(f.frame),
        frames: Number(f.frames),
        zeros: (parseInt(f.flags!, 16) & SILENT) !== 0 || f.data === "null",
      }));
  }

  /** What the contract says the program writes for those packets: the mono fold of each frame. */
  expectedPcm(): Buffer {
    const parts = this.handedOut().map(({ firstFrame, frames, zeros }) => {
      const out = Buffer.alloc(frames * 2);
      if (!zeros)
        for (let i = 0; i < frames; i++) out.writeInt16LE(fold(...patternFrame(firstFrame + i)), i * 2);
      return out;
    });
    return Buffer.concat(parts);
  }

  toString(): string {
    return this.lines.join("\n");
  }
}

// The engine's test pattern: extremes and odd sums, then a multiplicative hash of the index.
function patternFrame(index: number): [number, number] {
  const edges: [number, number][] = [
    [-32768, -32768],
    [32767, 32767],
    [-3, 0],
    [3, 0],
    [-1, 0],
    [1, 0],
    [32767, -32768],
    [-32768, -1],
  ];
  if (index % 16 < 8) return edges[index % 16]!;
  const hash = Number((BigInt(index) * 2654435761n) & 0xffffffffn);
  return [toInt16(hash & 0xffff), toInt16(hash >>> 16)];
}

function toInt16(value: number): number {
  return value >= 0x8000 ? value - 0x10000 : value;
}

/** (left + right) / 2, truncated toward zero. */
function fold(left: number, right: number): number {
  return Math.trunc((left + right) / 2);
}
