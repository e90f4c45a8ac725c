/**
 * A window handle as the program's command line takes it: decimal, all 64 bits. Accepts a
 * bigint, a safe integer, a decimal string, or the bytes of the handle in the machine's order
 * (little-endian, 8 or 4 bytes: what Electron's `BrowserWindow.getNativeWindowHandle()` gives).
 */
export type WindowHandle = bigint | number | string | Uint8Array;

const U64_MAX = (1n << 64n) - 1n;

export function handleText(hwnd: WindowHandle): string {
  let value: bigint;
  if (typeof hwnd === "bigint") {
    value = hwnd;
  } else if (typeof hwnd === "number") {
    if (!Number.isSafeInteger(hwnd)) throw new RangeError(`window handle ${hwnd} is not a safe integer`);
    value = BigInt(hwnd);
  } else if (typeof hwnd === "string") {
    if (!/^\d+$/.test(hwnd)) throw new RangeError(`window handle "${hwnd}" is not a decimal number`);
    value = BigInt(hwnd);
  } else {
    const bytes = Buffer.from(hwnd.buffer, hwnd.byteOffset, hwnd.byteLength);
    if (bytes.length === 8) value = bytes.readBigUInt64LE(0);
    else if (bytes.length === 4) value = BigInt(bytes.readUInt32LE(0));
    else throw new RangeError(`a window handle has 8 or 4 bytes, not ${bytes.length}`);
  }
  if (value < 0n || value > U64_MAX) throw new RangeError(`window handle ${value} is outside 64 bits`);
  return value.toString();
}

/** A process id as the program takes it: 32-bit unsigned, 0 meaning none. */
export function pidText(pid: number): string {
  if (!Number.isInteger(pid) || pid < 0 || pid > 0xffffffff) {
    throw new RangeError(`process id ${pid} is not a 32-bit unsigned integer`);
  }
  return String(pid);
}
