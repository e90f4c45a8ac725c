/** The words of `error <word>`, the capture's failed status line (exit code 2). */
export type CaptureErrorWord =
  | "no-window"
  | "no-process"
  | "self"
  | "com"
  | "activate"
  | "activate-timeout"
  | "unsupported"
  | "client"
  | "initialize"
  | "service"
  | "start";

/** What each word means, in the words of the program's contract. */
export const captureErrorMeanings: Readonly<Record<CaptureErrorWord, string>> = {
  "no-window": "the handle does not name an existing window",
  "no-process": "the window has no owner process",
  self: "the excluded process is the captured application or one of its descendants",
  com: "the component runtime could not be initialised",
  activate: "the loopback activation request was refused",
  "activate-timeout": "the activation did not complete within 5000 ms",
  unsupported: "the activation failed or gave no interface (the system offers no process loopback)",
  client: "the activated object has no audio client",
  initialize: "the audio client refused the format, flags or buffer duration",
  service: "the buffer event could not be attached, or there is no capture interface",
  start: "the stream did not start",
};

export function isCaptureErrorWord(word: string): word is CaptureErrorWord {
  return Object.prototype.hasOwnProperty.call(captureErrorMeanings, word);
}

/** How the program ended, or null fields while it runs (or when it never started). */
export interface ProgramEnd {
  /** The exit code; null when the program was ended by a signal or never started. */
  exitCode: number | null;
  /** The signal that ended it (only where the OS reports one). */
  signal: NodeJS.Signals | null;
}

/** The program could not be started, ended unexpectedly, or wrote what the contract rules out. */
export class HelperError extends Error {
  override name = "HelperError";
  /** The command line that started the program: launcher, executable and arguments. */
  readonly command: readonly string[];
  readonly exitCode: number | null;
  readonly signal: NodeJS.Signals | null;

  constructor(message: string, command: readonly string[], end: ProgramEnd, cause?: unknown) {
    super(message, cause === undefined ? undefined : { cause });
    this.command = command;
    this.exitCode = end.exitCode;
    this.signal = end.signal;
  }
}

/** The program printed its usage line and exited with 1: it did not accept the command line. */
export class UsageError extends HelperError {
  override name = "UsageError";
}

/** The capture could not be set up: the program printed `error <word>` and exited with 2. */
export class CaptureError extends HelperError {
  override name = "CaptureError";
  readonly word: CaptureErrorWord;

  constructor(word: CaptureErrorWord, command: readonly string[], end: ProgramEnd) {
    super(`capture failed (${word}): ${captureErrorMeanings[word]}`, command, end);
    this.word = word;
  }
}
