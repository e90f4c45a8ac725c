"""The stand-in audio engine (tests/standins/audio_engine) from the tests' side: its script,
its log, and the samples it hands out, recomputed here from the frame index."""

import os
import re

import harness

SILENT = 0x2
FRAME_BYTES = 2  # one mono sample of the program's output


def pattern_frame(index):
    """The engine's test pattern: extremes and odd sums, then a multiplicative hash."""
    edges = [(-32768, -32768), (32767, 32767), (-3, 0), (3, 0), (-1, 0), (1, 0),
             (32767, -32768), (-32768, -1)]
    if index % 16 < 8:
        return edges[index % 16]
    value = (index * 2654435761) & 0xFFFFFFFF
    return to_int16(value & 0xFFFF), to_int16(value >> 16)


def to_int16(value):
    return value - 0x10000 if value >= 0x8000 else value


def fold(left, right):
    """What the contract says a frame becomes: (left + right) / 2, truncated toward zero."""
    total = left + right
    return -((-total) // 2) if total < 0 else total // 2


def packet_pcm(first_frame, frames, zeros=False):
    if zeros:
        return bytes(frames * FRAME_BYTES)
    out = bytearray()
    for index in range(first_frame, first_frame + frames):
        out += fold(*pattern_frame(index)).to_bytes(2, "little", signed=True)
    return bytes(out)


class Log:
    """The engine's log: one event a line, a word and then words or key=value pairs."""

    def __init__(self, path):
        self.lines = []
        if os.path.exists(path):
            with open(path, encoding="utf-8") as log:
                self.lines = [line.rstrip("\n") for line in log if line.strip()]

    def events(self, word=None):
        """(word, rest, fields) for every line, or only those starting with word."""
        found = []
        for line in self.lines:
            first, _, rest = line.partition(" ")
            if word is None or first == word:
                found.append((first, rest, dict(re.findall(r"(\S+)=(\S+)", rest))))
        return found

    def fields(self, word):
        """The key=value fields of the only line starting with word."""
        matching = self.events(word)
        if len(matching) != 1:
            raise AssertionError(f"{len(matching)} '{word}' lines in the engine log:\n"
                                 + "\n".join(self.lines))
        return matching[0][2]

    def summary(self):
        """The engine's totals at exit (made, dropped, fetched)."""
        totals = {}
        for _, _, fields in self.events("summary"):
            totals.update((key, int(value)) for key, value in fields.items())
        return totals

    def left_by_program(self):
        """Objects alive at exit with the references the program still held on them."""
        left = {}
        for _, rest, fields in self.events("exit"):
            if rest.startswith("alive "):
                held = int(fields["refs"]) - int(fields["engine"])
                if held:
                    left[rest.split()[1]] = held
        return left

    def has(self, line):
        return line in self.lines

    def handed_out(self):
        """The packets handed out by GetBuffer, in order: (first frame, frames, flags, data)."""
        return [(int(f["frame"]), int(f["frames"]), int(f["flags"], 16), f["data"])
                for _, _, f in self.events("get-buffer") if f.get("status") == "0x00000000"
                and "frame" in f]

    def expected_pcm(self):
        """The mono fold of every frame handed out, silent and data-less packets as zeros."""
        return b"".join(packet_pcm(first, frames, zeros=bool(flags & SILENT) or data == "null")
                        for first, frames, flags, data in self.handed_out())

    def __str__(self):
        return "\n".join(self.lines)


class Run:
    """One capture run's script and log files, and the environment that loads the engine."""

    def __init__(self, *directives):
        folder = harness.WINE.temp
        number = len([name for name in os.listdir(folder) if name.startswith("engine-")])
        self.script = os.path.join(folder, f"engine-{number}.script")
        self.log_path = os.path.join(folder, f"engine-{number}.log")
        with open(self.script, "w", encoding="utf-8") as script:
            script.write(f"log {harness.windows_path(self.log_path)}\n")
            script.write("".join(line + "\n" for line in directives))
        self.env = harness.WINE.standin_env(
            "mmdevapi", TESSIK_ENGINE_SCRIPT=harness.windows_path(self.script))

    def log(self, complete=True, timeout=10):
        """The log, once the engine wrote its last line at process exit (complete)."""
        if complete:
            harness.wait_until(lambda: Log(self.log_path).has("exit"), timeout)
        return Log(self.log_path)
