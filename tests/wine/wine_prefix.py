"""A private Xvfb display and Wine prefix, with our stand-ins of system DLLs in its system
directory, each loaded only by the runs that ask for it."""

import os
import shutil
import socket
import subprocess
import tempfile
import time


def wait_until(condition, timeout, interval=0.02):
    """Polls condition until it gives a true value or the deadline passes; returns its last value."""
    deadline = time.monotonic() + timeout
    while True:
        value = condition()
        if value or time.monotonic() >= deadline:
            return value
        time.sleep(interval)


# System DLLs that we have stand-ins for. Our copies sit in the prefix's system directory, but
# every process loads Wine's own unless its run names ours (see Wine.standin_env): Wine would
# otherwise prefer a native dwmapi.dll found there for every process.
STANDIN_DLLS = ("mmdevapi", "dwmapi", "shell32")
BASE_OVERRIDES = "mscoree,mshtml=;" + ",".join(STANDIN_DLLS) + "=b"


class Wine:
    """A private Xvfb display and Wine prefix for one run of the tests."""

    def __init__(self, work, prefix_name="wineprefix-test", standins=None):
        work = os.path.abspath(work)
        self.standins = standins  # folder of our stand-in DLLs, or None
        self.prefix = os.path.join(work, prefix_name)
        self.temp = tempfile.mkdtemp(prefix="wine-tests-", dir=work)
        self.xvfb = None
        self.env = dict(os.environ)
        self.env.update(WINEPREFIX=self.prefix, WINEDLLOVERRIDES=BASE_OVERRIDES,
                        WINEDEBUG="-all")
        self.env.pop("WAYLAND_DISPLAY", None)
        for name in list(self.env):
            if name.startswith("TESSIK_"):
                del self.env[name]  # a stand-in's script is given per run, never inherited

    def standin_env(self, *dlls, **variables):
        """The environment of a run that loads our stand-ins of the named DLLs (from
        STANDIN_DLLS) instead of Wine's, with further variables (a stand-in's script path)."""
        unknown = set(dlls) - set(STANDIN_DLLS)
        if unknown:
            raise ValueError(f"no stand-in for {sorted(unknown)}")
        pinned = [name for name in STANDIN_DLLS if name not in dlls]
        overrides = "mscoree,mshtml="
        if dlls:
            overrides += ";" + ",".join(dlls) + "=n"
        if pinned:
            overrides += ";" + ",".join(pinned) + "=b"
        env = dict(self.env, WINEDLLOVERRIDES=overrides)
        env.update(variables)
        return env

    def system_directory(self):
        return os.path.join(self.prefix, "drive_c", "windows", "system32")

    def install_standins(self):
        """Copies our stand-in DLLs over the placeholders of Wine's own in the prefix."""
        if not self.standins:
            return
        for name in STANDIN_DLLS:
            source = os.path.join(self.standins, name + ".dll")
            if os.path.exists(source):
                shutil.copy(source, os.path.join(self.system_directory(), name + ".dll"))

    def start(self):
        self._start_xvfb()
        fresh = not os.path.exists(os.path.join(self.prefix, "system.reg"))
        os.makedirs(self.prefix, exist_ok=True)
        quiet = dict(env=self.env, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                     stderr=subprocess.DEVNULL)
        subprocess.run(["wineserver", "-p"], check=True, **quiet)
        # Booting here starts Wine's desktop and services with none of a test's pipes: started
        # later by a tested program, they would inherit its streams and hold them open.
        subprocess.run(["wineboot", "-i"] if fresh else ["wineboot"], timeout=600, check=True,
                       **quiet)
        self.install_standins()

    def _start_xvfb(self):
        for number in range(90, 190):
            if (os.path.exists(f"/tmp/.X11-unix/X{number}")
                    or os.path.exists(f"/tmp/.X{number}-lock")):
                continue
            xvfb = subprocess.Popen(["Xvfb", f":{number}", "-nolisten", "tcp", "-screen", "0",
                                     "1280x1024x24"], stdin=subprocess.DEVNULL,
                                    stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
            if wait_until(lambda: xvfb.poll() is not None or self._accepts(number), 15) \
                    and xvfb.poll() is None:
                self.xvfb = xvfb
                self.env["DISPLAY"] = f":{number}"
                return
            xvfb.kill()
            xvfb.wait()
        raise RuntimeError("no free X display for Xvfb")

    @staticmethod
    def _accepts(number):
        with socket.socket(socket.AF_UNIX) as probe:
            try:
                probe.connect(f"/tmp/.X11-unix/X{number}")
                return True
            except OSError:
                return False

    def stop(self):
        subprocess.run(["wineserver", "-k"], env=self.env, stdout=subprocess.DEVNULL,
                       stderr=subprocess.DEVNULL)
        if self.xvfb:
            self.xvfb.terminate()
            try:
                self.xvfb.wait(10)
            except subprocess.TimeoutExpired:
                self.xvfb.kill()
                self.xvfb.wait()
        shutil.rmtree(self.temp, ignore_errors=True)
