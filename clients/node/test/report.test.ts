// The report parser over the cases of the foreground line's format.
import assert from "node:assert/strict";
import { test } from "node:test";

import { parseReport, type ForegroundReport } from "tessik-helper";

const window = (pid: number, x: number, y: number, w: number, h: number, fs: 0 | 1, exe: string) =>
  `{"pid":${pid},"x":${x},"y":${y},"w":${w},"h":${h},"fs":${fs},"exe":${exe}}`;

test("reports as the program writes them", () => {
  const cases: [string, string, ForegroundReport][] = [
    ["no foreground window", '{"pid":0}', null],
    [
      "a plain window",
      window(4242, 120, 90, 420, 300, 0, '"notepad.exe"'),
      { pid: 4242, x: 120, y: 90, w: 420, h: 300, fullScreen: false, exe: "notepad.exe" },
    ],
    [
      "negative position",
      window(1, -1920, -8, 1936, 1056, 0, '"a.exe"'),
      { pid: 1, x: -1920, y: -8, w: 1936, h: 1056, fullScreen: false, exe: "a.exe" },
    ],
    [
      "minimized: all bounds 0",
      window(1, 0, 0, 0, 0, 0, '"a.exe"'),
      { pid: 1, x: 0, y: 0, w: 0, h: 0, fullScreen: false, exe: "a.exe" },
    ],
    [
      "full-screen application running",
      window(1, 0, 0, 1920, 1080, 1, '"game.exe"'),
      { pid: 1, x: 0, y: 0, w: 1920, h: 1080, fullScreen: true, exe: "game.exe" },
    ],
    [
      "owner not found",
      window(0, 1, 2, 3, 4, 0, '""'),
      { pid: 0, x: 1, y: 2, w: 3, h: 4, fullScreen: false, exe: "" },
    ],
    [
      "quote and backslash escaped",
      window(1, 0, 0, 1, 1, 0, '"a\\"b\\\\c.exe"'),
      { pid: 1, x: 0, y: 0, w: 1, h: 1, fullScreen: false, exe: 'a"b\\c.exe' },
    ],
    [
      "bytes below 0x20 as \\u00xx",
      window(1, 0, 0, 1, 1, 0, '"a\\u0001\\u001f.exe"'),
      { pid: 1, x: 0, y: 0, w: 1, h: 1, fullScreen: false, exe: "a\u0001\u001f.exe" },
    ],
    [
      "raw UTF-8, beyond the BMP too",
      window(1, 0, 0, 1, 1, 0, '"caf\u00e9 \u65e5\u672c \ud83c\udfb5.exe"'),
      { pid: 1, x: 0, y: 0, w: 1, h: 1, fullScreen: false, exe: "caf\u00e9 \u65e5\u672c \ud83c\udfb5.exe" },
    ],
    [
      "extremes of the number types",
      window(4294967295, -2147483648, 2147483647, 0, 0, 0, '"a"'),
      { pid: 4294967295, x: -2147483648, y: 2147483647, w: 0, h: 0, fullScreen: false, exe: "a" },
    ],
  ];
  for (const [what, line, expected] of cases) assert.deepEqual(parseReport(line), expected, what);
});

test("lines that are not reports", () => {
  const cases: [string, string][] = [
    ["keys in another order", '{"x":0,"pid":1,"y":0,"w":0,"h":0,"fs":0,"exe":""}'],
    ["white space", '{"pid": 0}'],
    ["a CR left over", '{"pid":0}\r'],
    ["the short form with a pid", '{"pid":5}'],
    ["a missing key", '{"pid":1,"x":0,"y":0,"w":0,"h":0,"exe":""}'],
    ["fs other than 0 or 1", window(1, 0, 0, 0, 0, 0, '""').replace('"fs":0', '"fs":2')],
    ["a raw control byte in the name", window(1, 0, 0, 0, 0, 0, '"a\u0001"')],
    ["an escape the program does not write", window(1, 0, 0, 0, 0, 0, '"a\\n"')],
    ["pid beyond 32 bits", window(4294967296, 0, 0, 0, 0, 0, '""')],
    ["x beyond 32 bits", window(1, 2147483648, 0, 0, 0, 0, '""')],
    ["empty", ""],
  ];
  for (const [what, line] of cases) assert.equal(parseReport(line), undefined, what);
});
