// Before packing: puts the program built by the CMake tree into bin/, where the client looks
// for it by default. The package ships it; the repository never holds it.
import { copyFileSync, existsSync, mkdirSync } from "node:fs";
import { fileURLToPath } from "node:url";

const from = process.env.TESSIK_HELPER_EXE ?? fileURLToPath(new URL("../../../build/win/src/tessik-helper.exe", import.meta.url));
const to = fileURLToPath(new URL("../bin/tessik-helper.exe", import.meta.url));
if (!existsSync(from)) {
  console.error(`copy-exe: ${from} is missing: build it first (scripts/test, or cmake as in the README), or name it in TESSIK_HELPER_EXE`);
  process.exit(1);
}
mkdirSync(fileURLToPath(new URL("../bin/", import.meta.url)), { recursive: true });
copyFileSync(from, to);
