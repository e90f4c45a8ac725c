import { PassThrough, type Readable } from "node:stream";

import { CaptureError, HelperError, UsageError } from "./errors.js";
import { handleText, pidText, type WindowHandle } from "./hwnd.js";
import { startProgram, type HelperOptions } from "./program.js";
import { readStatus } from "./stderr.js";

export interface CaptureOptions extends HelperOptions {
  /**
   * A process that must not be captured (usually `process.pid`): when it is the captured
   * application or one of its descendants the capture fails with the word `self`. 0 is none.
   */
  excludePid?: number;
}

/** A running capture: the application it captures and its sound. */
export interface Capture {
  /** The captured application's root process (the topmost ancestor running the same exe). */
  readonly rootPid: number;
  /** Its executable's file name, possibly "". */
  readonly rootExe: string;
  /**
   * Signed 16-bit little-endian mono PCM at 48000 samples per second. It ends when the
   * program exits with 0 and errors with a `HelperError` when it ends otherwise.
   */
  readonly audio: Readable;
  /** The process id of the program. */
  readonly pid: number | undefined;
  /**
   * Ends the capture by closing the program's standard input. Resolves with the exit code, 0,
   * once the program has exited; rejects with the `HelperError` of an unexpected end. The
   * program exits only after its pending write, so keep reading `audio` (or destroy it).
   */
  stop(): Promise<number>;
  /** Settles as `stop()` does, when the program ends for whatever reason. */
  readonly ended: Promise<number>;
}

/**
 * The program's standard output as the parent reads it. An unexpected end is raised as the
 * stream's error only once every byte received before it has been read: destroying a stream
 * at once would drop what it still holds.
 */
class ProgramAudio extends PassThrough {
  private failure: Error | undefined;

  constructor(private readonly output: Readable) {
    super();
    output.pipe(this, { end: false });
  }

  failAfterBufferedBytes(error: Error): void {
    this.failure = error;
    this.failIfDrained();
  }

  override read(size?: number): any {
    const chunk: unknown = super.read(size);
    this.failIfDrained();
    return chunk;
  }

  override _destroy(error: Error | null, callback: (error?: Error | null) => void): void {
    // The parent no longer wants the audio: closing the program's output ends the program.
    this.output.destroy();
    callback(error);
  }

  private failIfDrained(): void {
    const failure = this.failure;
    if (failure === undefined || this.readableLength > 0 || this.writableLength > 0) return;
    this.failure = undefined;
    process.nextTick(() => this.destroy(failure));
  }
}

/**
 * Starts the `capture` mode for the application behind a window. Resolves on the program's
 * `ok` line; rejects with a `CaptureError` on `error <word>`, or a `HelperError`.
 */
export async function captureWindow(hwnd: WindowHandle, options: CaptureOptions = {}): Promise<Capture> {
  const args = ["capture", handleText(hwnd)];
  if (options.excludePid !== undefined && options.excludePid !== 0) args.push(pidText(options.excludePid));
  const program = startProgram(args, options);
  const { child, command } = program;
  // Sample bytes can arrive before the status line (two pipes, read in any order): the audio
  // stream holds them from the start.
  const audio = new ProgramAudio(child.stdout);
  const stdoutClosed = new Promise((resolve) => child.stdout.once("close", resolve));
  const stderr = readStatus(child.stderr);

  const status = await stderr.status;
  if (status?.kind !== "ok") {
    const end = await program.exited;
    audio.destroy();
    if (status?.kind === "error") throw new CaptureError(status.word, command, end);
    if (status?.kind === "usage")
      throw new UsageError("tessik-helper did not accept the command line", command, end);
    const others = stderr.others.length > 0 ? `; its standard error: ${stderr.others.join(" / ")}` : "";
    throw program.failure(`tessik-helper ended before its status line${others}`, end);
  }

  const ended = Promise.all([program.exited, stdoutClosed]).then(([end]) => {
    if (end.exitCode === 0) {
      if (!audio.destroyed) audio.end();
      return 0;
    }
    const error: HelperError = program.failure("tessik-helper ended during the capture", end);
    audio.failAfterBufferedBytes(error);
    throw error;
  });
  ended.catch(() => {}); // the audio stream carries the error to whoever reads it
  return {
    rootPid: status.rootPid,
    rootExe: status.rootExe,
    audio,
    pid: child.pid,
    ended,
    stop: () => {
      program.closeInput();
      return ended;
    },
  };
}
