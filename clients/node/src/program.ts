import { spawn, type ChildProcessWithoutNullStreams } from "node:child_process";
import { fileURLToPath } from "node:url";

import { HelperError, type ProgramEnd } from "./errors.js";

/** How to start the program; every field is optional. */
export interface HelperOptions {
  /** Path of tessik-helper.exe. Default: the one in this package's `bin/`. */
  exe?: string;
  /** A program to start the executable with, and its first arguments: `["wine"]` on Linux. */
  launcher?: readonly string[];
  /** The environment to start it in (default: the parent's). The program itself reads none. */
  env?: NodeJS.ProcessEnv;
}

/** The executable shipped in this package. */
export function defaultExe(): string {
  const path = fileURLToPath(new URL("../bin/tessik-helper.exe", import.meta.url));
  // A program cannot run from inside an Electron asar archive; packagers unpack it beside it.
  return path.replace(/([\\/])app\.asar([\\/])/, "$1app.asar.unpacked$2");
}

/** A started program: its streams, and how and when it ended. */
export interface Program {
  readonly child: ChildProcessWithoutNullStreams;
  readonly command: readonly string[];
  /** Resolves once the process has exited, or could not be started (never rejects). */
  readonly exited: Promise<ProgramEnd>;
  /** Why the process could not be started, once `exited` says so. */
  startError(): Error | undefined;
  /** Ends the program the way the contract asks: its standard input is closed. */
  closeInput(): void;
  /** The error for an end the caller did not expect. */
  failure(message: string, end: ProgramEnd): HelperError;
}

export function startProgram(args: readonly string[], options: HelperOptions = {}): Program {
  const exe = options.exe ?? defaultExe();
  const launcher = options.launcher ?? [];
  const command = [...launcher, exe, ...args];
  const child = spawn(command[0]!, command.slice(1), {
    stdio: ["pipe", "pipe", "pipe"],
    env: options.env,
    windowsHide: true,
  });
  let startError: Error | undefined;
  // Closing input of a program that has already gone fails with EPIPE: nothing to tell.
  child.stdin.on("error", () => {});
  const exited = new Promise<ProgramEnd>((resolve) => {
    child.once("exit", (exitCode, signal) => resolve({ exitCode, signal }));
    child.once("error", (error) => {
      if (child.pid === undefined) {
        startError = error;
        resolve({ exitCode: null, signal: null });
      }
    });
  });
  return {
    child,
    command,
    exited,
    startError: () => startError,
    closeInput: () => child.stdin.end(),
    failure: (message, end) => {
      if (startError)
        return new HelperError(`could not start ${exe}: ${startError.message}`, command, end, startError);
      const how = end.signal ? `signal ${end.signal}` : `exit code ${end.exitCode}`;
      return new HelperError(`${message} (${how})`, command, end);
    },
  };
}
