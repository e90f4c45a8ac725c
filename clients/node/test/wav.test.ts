// The WAV writer: the header of a canonical PCM WAV file, sizes set once the stream ended.
import assert from "node:assert/strict";
import { mkdtemp, readFile, rm } from "node:fs/promises";
import { tmpdir } from "node:os";
import { join } from "node:path";
import { Readable } from "node:stream";
import { after, test } from "node:test";

import { writeWav } from "tessik-helper";

const folder = await mkdtemp(join(tmpdir(), "tessik-wav-"));
after(() => rm(folder, { recursive: true, force: true }));

// RIFF header of 16-bit mono PCM at 48000 Hz, field by field.
function expectedHeader(dataBytes: number, riffBytes: number): Buffer {
  const fields: [string, number | string][] = [
    ["ascii", "RIFF"],
    ["u32", riffBytes],
    ["ascii", "WAVE"],
    ["ascii", "fmt "],
    ["u32", 16],
    ["u16", 1],
    ["u16", 1],
    ["u32", 48000],
    ["u32", 96000],
    ["u16", 2],
    ["u16", 16],
    ["ascii", "data"],
    ["u32", dataBytes],
  ];
  return Buffer.concat(
    fields.map(([kind, value]) => {
      if (kind === "ascii") return Buffer.from(value as string, "ascii");
      const b = Buffer.alloc(kind === "u32" ? 4 : 2);
      if (kind === "u32") b.writeUInt32LE(value as number);
      else b.writeUInt16LE(value as number);
      return b;
    }),
  );
}

test("a stream of unknown length gets its sizes once it ended", async () => {
  const chunks = [
    Buffer.from([1, 0, 2]),
    Buffer.from([0, 0xff, 0x7f]),
    Buffer.alloc(0),
    Buffer.from([0, 0x80]),
  ];
  const path = join(folder, "ended.wav");
  const result = await writeWav(Readable.from(chunks), path);
  const file = await readFile(path);
  assert.deepEqual(file.subarray(0, 44), expectedHeader(8, 44));
  assert.deepEqual(file.subarray(44), Buffer.concat(chunks));
  assert.deepEqual(result, { dataBytes: 8, seconds: 8 / 96000 });
});

test("a stream that errors still leaves a complete file of what arrived, and the error", async () => {
  const failure = new Error("ended during the capture");
  async function* dying() {
    yield Buffer.from([1, 2, 3]);
    throw failure;
  }
  const path = join(folder, "died.wav");
  await assert.rejects(writeWav(Readable.from(dying()), path), failure);
  const file = await readFile(path);
  // Three bytes of data: the odd size is followed by a pad byte that only the RIFF size counts.
  assert.deepEqual(file.subarray(0, 44), expectedHeader(3, 40));
  assert.deepEqual(file.subarray(44), Buffer.from([1, 2, 3, 0]));
});
