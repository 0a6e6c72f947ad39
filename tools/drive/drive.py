"""Runs korvane-tv.exe under Wine on the testbed's demo city and looks at it from outside.

Shared by scripts/run.sh (the demo), scripts/bench.sh and scripts/soak.sh. The program runs
in a working folder of its own, with a config.ini naming the testbed's USB tuner and decoders
and the city "Démoville", and the testbed's trace file beside it. korvane-probe.exe, started
in the same Wine prefix, answers what only Windows can tell (window handles, GDI objects,
private bytes, thread times) and posts commands with the trace's clock.
"""

import os
import re
import shutil
import subprocess
import time
from pathlib import Path

REPO = Path(__file__).resolve().parents[2]

TUNER = "Korvane Testbed Tuner USB"
VIDEO_DECODER = "Korvane Testbed MPEG-2 Video Decoder"
AUDIO_DECODER = "Korvane Testbed MPEG Audio Decoder"
AC3_DECODER = "Korvane Testbed AC-3 Audio Decoder"
CITY = "Démoville"

# Command identifiers of the main window (src/res/resource.h).
IDM_RECORD_MULTIPLEX = 40012
IDM_STOP_RECORDING = 40017
IDM_GUIDE = 40043
IDM_SIGNAL_QUALITY = 40047
IDM_RECORD_CHANNEL_TS = 40049
IDM_RECORD_CHANNEL_PS = 40050
VK_UP = 0x26
VK_DOWN = 0x28

GUIDE_TITLE = "Guide des programmes"
SIGNAL_TITLE = "Qualité du signal"


def windows_path(path):
    return "Z:" + str(Path(path).resolve()).replace("/", "\\")


class Tree:
    """The win64 build tree: the program, the probe, the Wine runner and the demo city."""

    def __init__(self, root=None):
        root = root or os.environ.get("BUILD_ROOT", "build")
        self.dir = (REPO / root / "win64").resolve()
        self.wine_run = self.dir / "wine-run.sh"
        self.program = self.dir / "korvane-tv.exe"
        self.probe = self.dir / "korvane-probe.exe"
        self.city_file = self.dir / "canaux.ini"
        self.demo_muxes = self.dir / "testbed" / "muxes"
        self.prefix = self.dir / "wine" / "prefix"


def write_config(folder, extra=None, video_folder=None):
    """config.ini, UTF-16 with its byte-order mark as the platform writes accented keys."""
    entries = {
        "Tuner TNT": TUNER,
        "Filtre vidéo": VIDEO_DECODER,
        "Filtre audio": AUDIO_DECODER,
        "Filtre AC3": AC3_DECODER,
        "Ville": CITY,
    }
    if video_folder:
        entries["Répertoire vidéo"] = windows_path(video_folder)
        entries["Répertoire screenshots"] = windows_path(video_folder)
    entries.update(extra or {})
    text = "[Config]\r\n" + "".join(f"{k}={v}\r\n" for k, v in entries.items())
    (Path(folder) / "config.ini").write_bytes(b"\xff\xfe" + text.encode("utf-16-le"))


def read_config(folder):
    """The keys of config.ini as the program left them (UTF-16 or a single-byte code page)."""
    raw = (Path(folder) / "config.ini").read_bytes()
    if raw.startswith(b"\xff\xfe"):
        text = raw[2:].decode("utf-16-le")
    else:
        text = raw.decode("cp1252", errors="replace")
    values = {}
    for line in text.splitlines():
        if "=" in line and not line.startswith("["):
            key, value = line.split("=", 1)
            values[key.strip()] = value.strip()
    return values


def prepare_folder(tree, folder, video_folder=None, keep=True, extra=None):
    """The program's working folder: config.ini (kept when keep and present, else with the
    extra keys) and canaux.ini."""
    folder = Path(folder)
    folder.mkdir(parents=True, exist_ok=True)
    if not (keep and (folder / "config.ini").exists()):
        write_config(folder, extra=extra, video_folder=video_folder)
    shutil.copyfile(tree.city_file, folder / "canaux.ini")
    return folder


class Trace:
    """The testbed's trace file: '<ms> <event> ...' lines."""

    def __init__(self, path):
        self.path = Path(path)

    def lines(self):
        try:
            text = self.path.read_text(errors="replace")
        except FileNotFoundError:
            return []
        out = []
        for line in text.splitlines():
            parts = line.split()
            if len(parts) >= 2 and parts[0].isdigit():
                out.append((int(parts[0]), parts[1:]))
        return out

    def wait(self, event, after_ms=0, timeout=60, alive=None):
        """The first (ms, fields) line of that event at or after after_ms, or None."""
        end = time.monotonic() + timeout
        while time.monotonic() < end:
            for ms, fields in self.lines():
                if fields[0] == event and ms >= after_ms:
                    return ms, fields
            if alive is not None and not alive():
                return None
            time.sleep(0.05)
        return None


class Display:
    """The person's display, or an Xvfb of our own with openbox so windows have frames."""

    def __init__(self, size="1280x1024x24"):
        self.size = size
        self.own = not os.environ.get("DISPLAY")
        self.processes = []
        self.name = os.environ.get("DISPLAY", "")

    def __enter__(self):
        if not self.own:
            return self
        number = next(n for n in range(90, 200)
                      if not Path(f"/tmp/.X{n}-lock").exists()
                      and not Path(f"/tmp/.X11-unix/X{n}").exists())
        self.name = f":{number}"
        self.processes.append(subprocess.Popen(
            ["Xvfb", self.name, "-screen", "0", self.size, "-nolisten", "tcp"],
            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL))
        for _ in range(100):
            if Path(f"/tmp/.X11-unix/X{number}").exists():
                break
            time.sleep(0.1)
        os.environ["DISPLAY"] = self.name
        self.processes.append(subprocess.Popen(
            ["openbox", "--sm-disable"], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL))
        # The window manager is up once it has announced itself on the root window.
        for _ in range(100):
            probe = subprocess.run(["xprop", "-root", "_NET_SUPPORTING_WM_CHECK"],
                                   capture_output=True, text=True, check=False)
            if "window id" in probe.stdout:
                break
            time.sleep(0.1)
        return self

    def __exit__(self, *exc):
        for process in reversed(self.processes):
            process.terminate()
            try:
                process.wait(timeout=10)
            except subprocess.TimeoutExpired:
                process.kill()
        if self.own:
            os.environ.pop("DISPLAY", None)


class Probe:
    """korvane-probe.exe, one command a line."""

    def __init__(self, tree):
        self.process = subprocess.Popen(
            [str(tree.wine_run), str(tree.probe)], stdin=subprocess.PIPE, stdout=subprocess.PIPE,
            stderr=subprocess.DEVNULL, text=True, encoding="utf-8", errors="replace", bufsize=1)

    def ask(self, command):
        self.process.stdin.write(command + "\n")
        self.process.stdin.flush()
        return self.process.stdout.readline().strip()

    def tick(self, command):
        """Runs a command that answers 'tick <ms>' and returns the ms."""
        answer = self.ask(command)
        match = re.match(r"tick (\d+)", answer)
        if not match:
            raise RuntimeError(f"probe: {command!r} answered {answer!r}")
        return int(match.group(1))

    def stats(self):
        fields = self.ask("stats").split()
        return {fields[i]: int(fields[i + 1]) for i in range(0, len(fields) - 1, 2)}

    def windows(self):
        line = self.ask("windows")
        self.process.stdout.readline()  # "end"
        return [w for w in line.split(" ; ") if w]

    def close(self):
        if self.process.poll() is None:
            try:
                self.process.stdin.write("quit\n")
                self.process.stdin.flush()
                self.process.wait(timeout=10)
            except (BrokenPipeError, subprocess.TimeoutExpired):
                self.process.kill()


class Program:
    """korvane-tv.exe started in its folder, with the testbed's settings in its environment."""

    def __init__(self, tree, folder, muxes=None, speed=1, faults=""):
        self.tree = tree
        self.folder = Path(folder).resolve()
        self.trace = Trace(self.folder / "trace.txt")
        env = dict(os.environ)
        env["KORVANE_TESTBED_TRACE"] = windows_path(self.trace.path)
        env["KORVANE_TESTBED_DIR"] = windows_path(muxes or tree.demo_muxes)
        env["KORVANE_TESTBED_SPEED"] = str(speed)
        env["KORVANE_TESTBED_FAULTS"] = faults
        self.log = open(self.folder / "wine.log", "ab")
        self.process = subprocess.Popen([str(tree.wine_run), str(tree.program)], cwd=self.folder,
                                        env=env, stdout=self.log, stderr=subprocess.STDOUT)
        self.probe = Probe(tree)
        self.pid = None

    def alive(self):
        return self.process.poll() is None

    def attach(self, timeout_s=300):
        answer = self.probe.ask(f"attach {int(timeout_s * 1000)}")
        if not answer.startswith("ok"):
            return False
        self.pid = int(answer.split()[1])
        return True

    def x_window(self):
        """The X window of the main window (Wine names it after its caption)."""
        found = subprocess.run(["xdotool", "search", "--classname", "korvane-tv.exe"],
                               capture_output=True, text=True, check=False).stdout.split()
        for window in found:
            name = subprocess.run(["xdotool", "getwindowname", window], capture_output=True,
                                  text=True, check=False).stdout.strip()
            attributes = subprocess.run(["xwininfo", "-id", window], capture_output=True,
                                        text=True, check=False).stdout
            if name.startswith("Korvane TV") and "IsViewable" in attributes:
                return int(window)
        return None

    def frame(self, window):
        """The window manager's frame around a client window (the window itself without one)."""
        while True:
            tree = subprocess.run(["xwininfo", "-id", str(window), "-tree"], capture_output=True,
                                  text=True, check=False).stdout
            root = re.search(r"Root window id: (0x[0-9a-f]+)", tree)
            parent = re.search(r"Parent window id: (0x[0-9a-f]+)", tree)
            if not root or not parent or parent.group(1) == root.group(1):
                return window
            window = int(parent.group(1), 16)

    def screenshot(self, path):
        window = self.x_window()
        target = hex(self.frame(window)) if window else "root"
        subprocess.run(["import", "-window", target, str(path)], check=True)
        return path

    def close_like_a_user(self, timeout_s=60):
        """The window manager's close button: WM_DELETE_WINDOW through the window manager."""
        window = self.x_window()
        if window:
            subprocess.run(["wmctrl", "-i", "-c", hex(window)], check=False)
        try:
            return self.process.wait(timeout=timeout_s)
        except subprocess.TimeoutExpired:
            return None

    def stop(self):
        """Ends what is left: the probe, and the program if it did not close."""
        self.probe.close()
        if self.process.poll() is None:
            self.process.terminate()
            try:
                self.process.wait(timeout=10)
            except subprocess.TimeoutExpired:
                self.process.kill()
        self.log.close()


def ffprobe_streams(path):
    """(ok, stream kinds, duration in s, format names, error text) as ffprobe reads a file."""
    run = subprocess.run(
        ["ffprobe", "-v", "error", "-show_entries",
         "stream=index,codec_type:format=duration,format_name", "-of", "compact", str(path)],
        capture_output=True, text=True, check=False)
    # Streams also show under each program of a transport stream: one kind per stream index.
    kinds = list(dict(re.findall(r"index=(\d+)\|codec_type=(\w+)", run.stdout)).values())
    duration = re.search(r"duration=([0-9.]+)", run.stdout)
    format_name = re.search(r"format_name=([^|\s]+)", run.stdout)
    return (run.returncode == 0 and bool(kinds), kinds,
            float(duration.group(1)) if duration else 0.0,
            format_name.group(1) if format_name else "", run.stderr.strip())


def machine_load():
    return subprocess.run(["uptime"], capture_output=True, text=True, check=False).stdout.strip()
