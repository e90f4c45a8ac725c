import type { Readable } from "node:stream";

import { isCaptureErrorWord, type CaptureErrorWord } from "./errors.js";
import { LineSplitter, textLine } from "./lines.js";

export const USAGE_LINE = "usage: tessik-helper foreground | capture <hwnd> [<exclude pid>]";

/** A line of the program's standard error, as the contract defines them. */
export type StatusLine =
  | { kind: "ok"; rootPid: number; rootExe: string }
  | { kind: "error"; word: CaptureErrorWord }
  | { kind: "usage" };

/** The line as one of the program's own, or undefined (a launcher's line, say). */
export function parseStatusLine(line: string): StatusLine | undefined {
  if (line === USAGE_LINE) return { kind: "usage" };
  // The exe name is the rest of the line: it may hold spaces, or be empty.
  const ok = /^ok (\d{1,10}) (.*)$/s.exec(line);
  if (ok && Number(ok[1]) <= 0xffffffff) return { kind: "ok", rootPid: Number(ok[1]), rootExe: ok[2]! };
  const error = /^error (\S+)$/.exec(line);
  if (error && isCaptureErrorWord(error[1]!)) return { kind: "error", word: error[1] };
  return undefined;
}

/**
 * Reads standard error to its end. `status` resolves with the first of the program's own lines,
 * or undefined if the stream ends without one; any other lines (a launcher's) are kept in
 * `others` for error messages.
 */
export function readStatus(stderr: Readable): { status: Promise<StatusLine | undefined>; others: string[] } {
  const others: string[] = [];
  const splitter = new LineSplitter();
  const status = new Promise<StatusLine | undefined>((resolve) => {
    const take = (line: string) => {
      const parsed = parseStatusLine(line);
      if (parsed) resolve(parsed);
      else if (line !== "") others.push(line);
    };
    stderr.on("data", (chunk: Buffer) => splitter.push(chunk).forEach((line) => take(textLine(line))));
    stderr.once("close", () => {
      const rest = splitter.rest();
      if (rest.length > 0) take(textLine(rest));
      resolve(undefined);
    });
  });
  return { status, others };
}
