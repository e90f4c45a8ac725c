/** The foreground window as the program reports it. */
export interface WindowReport {
  /** Owning process id; 0 when the owner could not be found (then `exe` is ""). */
  pid: number;
  /** Bounds in physical screen pixels; all four are 0 while the window is minimized. */
  x: number;
  y: number;
  w: number;
  h: number;
  /** A full-screen Direct3D application is running (about the desktop, not this window). */
  fullScreen: boolean;
  /** The executable's file name; "" when the process could not be queried. */
  exe: string;
}

/** A report: the foreground window, or null when there is no foreground window. */
export type ForegroundReport = WindowReport | null;

// The exact line: keys in this order, no white space, integers only, the exe name escaped as
// the program escapes it (\" \\ and \u00xx for bytes below 0x20, everything else raw UTF-8).
const WINDOW_LINE =
  /^\{"pid":(\d{1,10}),"x":(-?\d{1,10}),"y":(-?\d{1,10}),"w":(-?\d{1,10}),"h":(-?\d{1,10}),"fs":([01]),"exe":("(?:[^"\\\u0000-\u001f]|\\["\\]|\\u00[0-9a-fA-F]{2})*")\}$/;
const NO_WINDOW_LINE = '{"pid":0}';

const U32_MAX = 0xffffffff;
const I32_MIN = -0x80000000;
const I32_MAX = 0x7fffffff;

/**
 * Parses one line of the foreground mode's output (without its LF). Returns undefined for a
 * line that is not a report.
 */
export function parseReport(line: string): ForegroundReport | undefined {
  if (line === NO_WINDOW_LINE) return null;
  const match = WINDOW_LINE.exec(line);
  if (!match) return undefined;
  const [pid, x, y, w, h] = match.slice(1, 6).map(Number) as [number, number, number, number, number];
  if (pid > U32_MAX || [x, y, w, h].some((v) => v < I32_MIN || v > I32_MAX)) return undefined;
  return { pid, x, y, w, h, fullScreen: match[6] === "1", exe: JSON.parse(match[7]!) as string };
}
