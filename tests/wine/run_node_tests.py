"""Runs a Node command (the Node client's tests, or its demo) beside the real program under Wine:
in a private Xvfb display and Wine prefix, with our stand-in DLLs in its system directory.

    run_node_tests.py --helper EXE --fixtures DIR --standins DIR --work DIR
                      [--windows-node NODE.EXE] -- NODE-ARGUMENTS...

With Linux's Node the command is `node NODE-ARGUMENTS...` and the tests start the Windows
programs through `wine`. With --windows-node it is Windows' Node under Wine, which starts them
itself through Windows pipes, as it would on Windows: then every path handed over is a Windows
path, Node's Windows version is set to 10 (it refuses older ones), and its own standard output
and error go to files (it cannot write to Unix pipes), copied to ours when it ends. Wine takes a
process's DLL overrides from the Unix environment it inherits, not from the environment a
Windows parent hands its child, so under Windows' Node every run of the program loads our
engine, through the prefix's registry (and without a script the engine fails nothing).

What the Node side is told, in the environment:
  TESSIK_TEST_HELPER, TESSIK_TEST_FIXTURES  the program and the fixture folder (its own paths)
  TESSIK_TEST_TEMP                          a scratch folder (its own path)
  TESSIK_TEST_TEMP_WINDOWS                  the same folder as a Windows program names it
  TESSIK_TEST_LAUNCHER                      "wine", or "" when Node itself runs under Wine
  TESSIK_TEST_ENGINE_OVERRIDES              WINEDLLOVERRIDES of a run that loads our engine,
                                            empty when every run loads it
The exit code is Node's.
"""

import argparse
import os
import subprocess
import sys

import harness


def set_registry(env, key, name, value):
    subprocess.run(["wine", "reg", "add", key, "/v", name, "/d", value, "/f"], env=env, check=True,
                   stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)


def main():
    split = sys.argv.index("--") if "--" in sys.argv else len(sys.argv)
    node_args = sys.argv[split + 1:]
    parser = argparse.ArgumentParser()
    parser.add_argument("--windows-node", default=None, help="path of Windows' node.exe")
    parser.add_argument("--prefix-name", default="wineprefix-node")
    ours, rest = parser.parse_known_args(sys.argv[1:split])
    harness.parse_args(rest)
    config = harness.CONFIG

    wine = harness.Wine(config.work, prefix_name=ours.prefix_name)
    harness.WINE = wine
    try:
        wine.start()
        windows = bool(ours.windows_node)
        engine_overrides = wine.standin_env("mmdevapi")["WINEDLLOVERRIDES"]
        base = wine.env
        if windows:
            apps = r"HKCU\Software\Wine\AppDefaults"
            # Per program, so that the program under test keeps the prefix's default version.
            set_registry(base, apps + r"\node.exe", "Version", "win10")
            set_registry(base, r"HKCU\Software\Wine\DllOverrides", "mmdevapi", "builtin")
            set_registry(base, apps + r"\tessik-helper.exe\DllOverrides", "mmdevapi", "native")
            # mmdevapi left to the registry: the environment would take precedence over it.
            pinned = [name for name in harness.STANDIN_DLLS if name != "mmdevapi"]
            base = dict(base, WINEDLLOVERRIDES="mscoree,mshtml=;" + ",".join(pinned) + "=b")
            engine_overrides = ""
        own = harness.windows_path if windows else os.path.abspath
        env = dict(base,
                   TESSIK_TEST_HELPER=own(config.helper),
                   TESSIK_TEST_FIXTURES=own(config.fixtures),
                   TESSIK_TEST_TEMP=own(wine.temp),
                   TESSIK_TEST_TEMP_WINDOWS=harness.windows_path(wine.temp),
                   TESSIK_TEST_LAUNCHER="" if windows else "wine",
                   TESSIK_TEST_ENGINE_OVERRIDES=engine_overrides)
        if not windows:
            return subprocess.run(["node"] + node_args, env=env, cwd=os.getcwd()).returncode
        args = [harness.windows_path(a) if os.path.exists(a) else a for a in node_args]
        out_path = os.path.join(wine.temp, "node-stdout.txt")
        err_path = os.path.join(wine.temp, "node-stderr.txt")
        with open(out_path, "wb") as out, open(err_path, "wb") as err:
            code = subprocess.run(["wine", ours.windows_node] + args, env=env, cwd=os.getcwd(),
                                  stdin=subprocess.DEVNULL, stdout=out, stderr=err).returncode
        for path, stream in ((out_path, sys.stdout), (err_path, sys.stderr)):
            with open(path, "rb") as saved:
                stream.buffer.write(saved.read())
            stream.flush()
        return code
    finally:
        wine.stop()


if __name__ == "__main__":
    sys.exit(main())
