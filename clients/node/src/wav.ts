import { open } from "node:fs/promises";
import type { Readable } from "node:stream";

/** The program's PCM: signed 16-bit little-endian mono at 48000 samples per second. */
export const PCM_FORMAT = { sampleRate: 48000, channels: 1, bitsPerSample: 16 } as const;

export interface PcmFormat {
  sampleRate: number;
  channels: number;
  bitsPerSample: number;
}

const HEADER_BYTES = 44;

/**
 * The 44-byte header of a PCM WAV file whose data chunk holds dataBytes bytes. For a stream
 * whose length is not known yet, write it with 0 and rewrite it at the end (as `writeWav`
 * does), since a RIFF file states its sizes up front.
 */
export function wavHeader(dataBytes: number, format: PcmFormat = PCM_FORMAT): Buffer {
  const blockAlign = format.channels * (format.bitsPerSample / 8);
  const padded = dataBytes + (dataBytes % 2);
  const header = Buffer.alloc(HEADER_BYTES);
  header.write("RIFF", 0, "ascii");
  header.writeUInt32LE(Math.min(0xffffffff, 36 + padded), 4);
  header.write("WAVEfmt ", 8, "ascii");
  header.writeUInt32LE(16, 16);
  header.writeUInt16LE(1, 20); // PCM
  header.writeUInt16LE(format.channels, 22);
  header.writeUInt32LE(format.sampleRate, 24);
  header.writeUInt32LE(format.sampleRate * blockAlign, 28);
  header.writeUInt16LE(blockAlign, 32);
  header.writeUInt16LE(format.bitsPerSample, 34);
  header.write("data", 36, "ascii");
  header.writeUInt32LE(Math.min(0xffffffff, dataBytes), 40);
  return header;
}

export interface WavResult {
  /** Bytes of sample data written. */
  dataBytes: number;
  /** Their duration. */
  seconds: number;
}

/**
 * Writes the PCM of a stream (the `audio` of a capture) to a WAV file until the stream ends,
 * then sets the sizes in its header. If the stream errors, the file is still completed with
 * what arrived, and the promise rejects with the stream's error.
 */
export async function writeWav(
  pcm: Readable,
  path: string,
  format: PcmFormat = PCM_FORMAT,
): Promise<WavResult> {
  const file = await open(path, "w");
  let dataBytes = 0;
  let failure: unknown;
  try {
    await file.write(wavHeader(0, format), 0, HEADER_BYTES, 0);
    try {
      for await (const chunk of pcm) {
        const bytes = chunk as Buffer;
        await file.write(bytes, 0, bytes.length, HEADER_BYTES + dataBytes);
        dataBytes += bytes.length;
      }
    } catch (error) {
      failure = error;
    }
    // A chunk of odd size is followed by a pad byte that its size does not count.
    if (dataBytes % 2 === 1) await file.write(Buffer.alloc(1), 0, 1, HEADER_BYTES + dataBytes);
    await file.write(wavHeader(dataBytes, format), 0, HEADER_BYTES, 0);
  } finally {
    await file.close();
  }
  if (failure !== undefined) throw failure;
  const bytesPerSecond = format.sampleRate * format.channels * (format.bitsPerSample / 8);
  return { dataBytes, seconds: dataBytes / bytesPerSecond };
}
