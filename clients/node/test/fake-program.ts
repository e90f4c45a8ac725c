// A stand-in for tessik-helper in the client's own tests: it writes what the program's contract
// allows (and what a broken one might), chosen by its first argument, so each test can show
// one way the program behaves. Started as `node fake-program.js <scenario> <mode> [args...]`.
import { setTimeout as sleep } from "node:timers/promises";

const [scenario = "", ...args] = process.argv.slice(2);
// Like the program, a parent that closed its end of the output ends it with 0.
process.stdout.on("error", () => process.exit(0));

const USAGE = "usage: tessik-helper foreground | capture <hwnd> [<exclude pid>]\r\n";
const inputEnded = new Promise<void>((resolve) => {
  process.stdin.on("end", resolve).resume();
});

async function writeInPieces(text: string | Buffer, size: number): Promise<void> {
  const bytes = Buffer.from(text);
  for (let at = 0; at < bytes.length; at += size) {
    process.stdout.write(bytes.subarray(at, at + size));
    await sleep(2);
  }
}

/** Samples 0, 1, 2, ... as s16le. */
function samples(count: number, first = 0): Buffer {
  const out = Buffer.alloc(count * 2);
  for (let i = 0; i < count; i++) out.writeInt16LE(((first + i) % 65536) - 32768, i * 2);
  return out;
}

async function run(): Promise<number> {
  switch (scenario) {
    case "usage":
      process.stderr.write(USAGE);
      return 1;
    case "arguments":
      // Tells the test the command line it was given, in the exe name's place.
      process.stderr.write(`ok 1 ${JSON.stringify(args)}\r\n`);
      await inputEnded;
      return 0;
    case "reports-in-pieces":
      await writeInPieces(
        '{"pid":0}\n{"pid":7,"x":-5,"y":0,"w":10,"h":20,"fs":1,"exe":"a\\"b\\\\c\\u0001 \u00e9\u65e5\ud83c\udfb5.exe"}\n{"pid":0}\n',
        3,
      );
      await inputEnded;
      return 0;
    case "one-report-then-exit-0":
      process.stdout.write('{"pid":0}\n');
      await sleep(50);
      return 0;
    case "not-a-report":
      process.stdout.write('{"pid":1,"x":0}\n');
      await inputEnded;
      return 0;
    case "crash":
      await sleep(50);
      return 3;
    case "launcher-line-then-ok":
      // A launcher's own line first (Wine says things on standard error), then the program's.
      process.stderr.write("launcher: something of its own\n");
      process.stdout.write(samples(100));
      await sleep(20);
      process.stderr.write("ok 4242 My App.exe\r\n");
      await inputEnded;
      process.stdout.write(samples(50, 100));
      return 0;
    case "empty-exe":
      process.stderr.write("ok 9 \r\n");
      await inputEnded;
      return 0;
    case "dies-mid-stream":
      process.stderr.write("ok 9 app.exe\r\n");
      await writeInPieces(samples(3000), 1001);
      return 5;
    case "ends-on-its-own":
      process.stderr.write("ok 9 app.exe\r\n");
      await writeInPieces(samples(1000), 700);
      return 0;
    case "streams-until-stopped": {
      process.stderr.write("ok 9 app.exe\r\n");
      let first = 0;
      let ended = false;
      void inputEnded.then(() => (ended = true));
      while (!ended) {
        // Waits in its write while the parent does not read, as the program does.
        if (!process.stdout.write(samples(480, first)))
          await new Promise((r) => process.stdout.once("drain", r));
        first += 480;
        await sleep(5);
      }
      return 0;
    }
    default:
      if (scenario.startsWith("error:")) {
        process.stderr.write(`error ${scenario.slice("error:".length)}\r\n`);
        return 2;
      }
      process.stderr.write(`fake-program: no scenario ${scenario}\n`);
      return 99;
  }
}

run().then((code) => {
  process.exitCode = code;
  process.stdin.destroy();
});
