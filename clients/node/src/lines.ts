/**
 * Splits a byte stream into lines at LF. A line may arrive in pieces (a pipe delivers chunks of
 * any size, and a multi-byte UTF-8 character may be cut between two), so the bytes after the
 * last LF wait for the next chunk; lines are decoded only once whole.
 */
export class LineSplitter {
  private pending: Buffer[] = [];

  /** The lines completed by this chunk, without their LF. */
  push(chunk: Buffer): Buffer[] {
    const lines: Buffer[] = [];
    let start = 0;
    for (let end = chunk.indexOf(0x0a); end >= 0; end = chunk.indexOf(0x0a, start)) {
      this.pending.push(chunk.subarray(start, end));
      lines.push(Buffer.concat(this.pending));
      this.pending = [];
      start = end + 1;
    }
    if (start < chunk.length) this.pending.push(chunk.subarray(start));
    return lines;
  }

  /** Bytes after the last LF, once the stream has ended: a line that was never finished. */
  rest(): Buffer {
    return Buffer.concat(this.pending);
  }
}

/** A line of standard error as text: UTF-8, its CR (text mode) dropped. */
export function textLine(line: Buffer): string {
  const text = line.toString("utf8");
  return text.endsWith("\r") ? text.slice(0, -1) : text;
}
