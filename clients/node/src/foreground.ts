import { EventEmitter } from "node:events";

import { HelperError, UsageError } from "./errors.js";
import { LineSplitter } from "./lines.js";
import { startProgram, type HelperOptions, type Program } from "./program.js";
import { parseReport, type ForegroundReport } from "./report.js";
import { readStatus } from "./stderr.js";

interface Subscriber {
  push(report: ForegroundReport): void;
  finish(error?: Error): void;
}

/**
 * The running `foreground` mode. Iterate it for the reports (a new iterator starts with the
 * latest one), or listen for `report`, `end` (exit code) and `error` events.
 */
export class ForegroundWatcher extends EventEmitter implements AsyncIterable<ForegroundReport> {
  private latestReport: ForegroundReport | undefined;
  private readonly program: Program;
  private readonly subscribers = new Set<Subscriber>();
  private readonly ended: Promise<number>;
  private outcome: { error?: Error } | undefined;
  private stopCalled = false;
  private badLine: string | undefined;

  constructor(options: HelperOptions = {}) {
    super();
    this.program = startProgram(["foreground"], options);
    const { child } = this.program;
    const splitter = new LineSplitter();
    child.stdout.on("data", (chunk: Buffer) => splitter.push(chunk).forEach((line) => this.take(line)));
    const stderr = readStatus(child.stderr);
    const closed = (stream: NodeJS.EventEmitter) => new Promise((resolve) => stream.once("close", resolve));
    this.ended = Promise.all([this.program.exited, closed(child.stdout), stderr.status]).then(
      ([end, , status]) => {
        const { command } = this.program;
        if (this.badLine !== undefined) {
          throw new HelperError(
            `tessik-helper wrote a line that is not a report: ${JSON.stringify(this.badLine)}`,
            command,
            end,
          );
        }
        if (status?.kind === "usage")
          throw new UsageError("tessik-helper did not accept the command line", command, end);
        if (end.exitCode !== 0) throw this.program.failure("tessik-helper ended unexpectedly", end);
        return 0;
      },
    );
    this.ended.then(
      (code) => this.finish(code),
      (error: Error) => this.finish(undefined, error),
    );
  }

  /** The latest report, undefined before the first. */
  get latest(): ForegroundReport | undefined {
    return this.latestReport;
  }

  /** The process id of the program (undefined if it could not be started). */
  get pid(): number | undefined {
    return this.program.child.pid;
  }

  /**
   * Ends the program by closing its standard input. Resolves with its exit code, 0, once it has
   * exited and every report has been delivered; rejects if it had failed.
   */
  stop(): Promise<number> {
    this.stopCalled = true;
    this.program.closeInput();
    return this.ended;
  }

  [Symbol.asyncIterator](): AsyncIterator<ForegroundReport> {
    const waiting: ForegroundReport[] = this.latestReport === undefined ? [] : [this.latestReport];
    let wake: (() => void) | undefined;
    let done: { error?: Error } | undefined = this.outcome;
    const subscriber: Subscriber = {
      push: (report) => {
        waiting.push(report);
        wake?.();
      },
      finish: (error) => {
        done = { error };
        wake?.();
      },
    };
    if (!done) this.subscribers.add(subscriber);
    const leave = async (): Promise<IteratorResult<ForegroundReport>> => {
      // Leaving the loop early ends the program, as it ends a stream.
      this.subscribers.delete(subscriber);
      if (!this.outcome) await this.stop().catch(() => {});
      return { done: true, value: undefined };
    };
    return {
      next: async () => {
        while (waiting.length === 0 && !done) await new Promise<void>((resolve) => (wake = resolve));
        if (waiting.length > 0) return { done: false, value: waiting.shift()! };
        if (done?.error) throw done.error;
        return { done: true, value: undefined };
      },
      return: leave,
    };
  }

  private take(line: Buffer): void {
    if (this.badLine !== undefined) return;
    const text = line.toString("utf8");
    const report = parseReport(text);
    if (report === undefined) {
      this.badLine = text;
      this.program.closeInput();
      return;
    }
    this.latestReport = report;
    this.emit("report", report);
    for (const subscriber of this.subscribers) subscriber.push(report);
  }

  private finish(code: number | undefined, error?: Error): void {
    this.outcome = { error };
    const reached = this.subscribers.size > 0 || this.stopCalled;
    for (const subscriber of this.subscribers) subscriber.finish(error);
    this.subscribers.clear();
    if (!error) this.emit("end", code);
    // An error that no iterator, stop() or listener takes is thrown, as by any emitter.
    else if (this.listenerCount("error") > 0 || !reached) this.emit("error", error);
  }
}

export interface ForegroundWatcher {
  on(event: "report", listener: (report: ForegroundReport) => void): this;
  on(event: "end", listener: (exitCode: number) => void): this;
  on(event: "error", listener: (error: HelperError) => void): this;
  once(event: "report", listener: (report: ForegroundReport) => void): this;
  once(event: "end", listener: (exitCode: number) => void): this;
  once(event: "error", listener: (error: HelperError) => void): this;
}

/** Starts the `foreground` mode: reports of the user's foreground window, one per change. */
export function watchForeground(options: HelperOptions = {}): ForegroundWatcher {
  return new ForegroundWatcher(options);
}
