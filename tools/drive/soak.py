"""Soak run of korvane-tv.exe on the demo city, behind scripts/soak.sh.

For the given minutes: the next channel every 2 s (Down, so every channel and frequency comes
round; while recording only those of the recorded frequency), a recording started and stopped
every 20 s (channel TS, channel PS and whole multiplex in turn), the guide and the signal
dialog opened and closed in each 20 s period. The program's handles, GDI and USER objects and
private bytes are printed at the start, the middle and the end; then the program is closed
like a user would and every recording is read back with ffprobe.

It fails when the program ended early or shows a message box, when it does not close,
when a recording is unreadable or of the wrong kind, or when the handles or the GDI or USER
objects (under Wine, where GetGuiResources answers 0: the windows) grow between the middle
and the end (the first half takes the warm-up: the guide's events, the decoders' buffers).
"""

import argparse
import shutil
import sys
import time
from pathlib import Path

import drive

ZAP_PERIOD_S = 2.0
RECORD_PERIOD_S = 20.0
RECORD_LENGTH_S = 10.0
# A moment of each period when neither dialog is open.
QUIET_OFFSET_S = 9.0

# Growth from the middle to the end that counts as a leak.
HANDLE_SLACK = 40
GUI_OBJECT_SLACK = 20

RECORDINGS = [
    (drive.IDM_RECORD_CHANNEL_TS, "channel TS", "mpegts"),
    (drive.IDM_RECORD_CHANNEL_PS, "channel PS", "mpeg"),
    (drive.IDM_RECORD_MULTIPLEX, "multiplex", "mpegts"),
]

# The on-screen plan of one 20 s period: (second, action).
PERIOD_PLAN = [
    (0.5, "record"),
    (5.0, "guide"),
    (6.5, "guide-close"),
    (RECORD_LENGTH_S + 0.5, "stop"),
    (14.0, "signal"),
    (15.5, "signal-close"),
]


def format_stats(label, stats):
    # Wine's GetGuiResources is a stub: gdi and user read 0 there, the windows stand in.
    return (f"{label:>6}: handles {stats['handles']:5d}  gdi {stats['gdi']:4d}  "
            f"user {stats['user']:4d}  windows {stats['windows']:4d}  "
            f"private {stats['private'] / 1048576:7.1f} MB")


class Soak:
    def __init__(self, program):
        self.program = program
        self.problems = []
        self.started_recordings = []
        self.zaps = 0

    def act(self, action):
        probe = self.program.probe
        if action == "record":
            command, label, format_name = RECORDINGS[len(self.started_recordings) % 3]
            probe.tick(f"command {command}")
            self.started_recordings.append((label, format_name))
        elif action == "stop":
            probe.tick(f"command {drive.IDM_STOP_RECORDING}")
        elif action == "guide":
            probe.tick(f"command {drive.IDM_GUIDE}")
        elif action == "signal":
            probe.tick(f"command {drive.IDM_SIGNAL_QUALITY}")
        elif action in ("guide-close", "signal-close"):
            title = drive.GUIDE_TITLE if action == "guide-close" else drive.SIGNAL_TITLE
            if probe.ask(f"cancel {title}") != "ok":
                self.problems.append(f"the dialog \"{title}\" was not open")

    def check_windows(self):
        """Any window but the main one and the two dialogs is a message box: note and close it."""
        for window in self.program.probe.windows():
            handle, _, rest = window.partition(" ")
            window_class, _, title = rest.partition("|")
            if window_class == "Korvane TV" or title in (drive.GUIDE_TITLE, drive.SIGNAL_TITLE):
                continue
            self.problems.append(f"unexpected window {window_class} \"{title}\"")
            self.program.probe.ask(f"cancel {title}")

    def run(self, minutes):
        probe = self.program.probe
        total = minutes * 60.0
        figures = {"start": probe.stats()}
        print(format_stats("start", figures["start"]), flush=True)
        began = time.monotonic()
        events = []
        t = 0.0
        while t < total:
            events.append((t, "zap"))
            t += ZAP_PERIOD_S
        period = 0.0
        middle = None
        while period + RECORD_PERIOD_S <= total + 0.01:
            events += [(period + offset, action) for offset, action in PERIOD_PLAN]
            # The middle figures are taken while no dialog is open.
            if middle is None and period + QUIET_OFFSET_S >= total / 2:
                middle = period + QUIET_OFFSET_S
            period += RECORD_PERIOD_S
        events.append((middle if middle is not None else total / 2, "middle"))
        events.sort()
        for at, action in events:
            delay = began + at - time.monotonic()
            if delay > 0:
                time.sleep(delay)
            if not self.program.alive() or probe.ask("alive") != "yes":
                self.problems.append(f"the program ended after {at:.0f} s")
                return figures
            if action == "zap":
                probe.tick(f"key {drive.VK_DOWN}")
                self.zaps += 1
                self.check_windows()
            elif action == "middle":
                figures["middle"] = probe.stats()
                print(format_stats("middle", figures["middle"]), flush=True)
            else:
                self.act(action)
        time.sleep(max(0.0, began + total - time.monotonic()))
        figures["end"] = probe.stats()
        print(format_stats("end", figures["end"]), flush=True)
        return figures


def check_growth(figures, problems):
    if "middle" not in figures or "end" not in figures:
        return
    middle, end = figures["middle"], figures["end"]
    for key, slack in (("handles", HANDLE_SLACK), ("gdi", GUI_OBJECT_SLACK),
                       ("user", GUI_OBJECT_SLACK), ("windows", GUI_OBJECT_SLACK)):
        if end[key] - middle[key] > slack:
            problems.append(f"{key} grew from {middle[key]} to {end[key]} in the second half")


def check_recordings(folder, started, problems):
    files = sorted(folder.glob("*.mpg"), key=lambda p: p.stat().st_mtime)
    print(f"recordings: {len(files)} files for {len(started)} started")
    if len(files) != len(started):
        problems.append(f"{len(started)} recordings started, {len(files)} files written")
    for path, (label, format_name) in zip(files, started):
        ok, kinds, duration, formats, errors = drive.ffprobe_streams(path)
        # A recording starts where the user pressed the key: the decoders' complaints about
        # the pictures before the first sequence header are counted, not failures.
        complaints = len(errors.splitlines())
        print(f"  {label:10s} {path.name}: {formats} {'+'.join(kinds)} {duration:.1f} s "
              f"{path.stat().st_size} bytes, {complaints} decoder messages")
        if not ok or format_name not in formats.split(","):
            problems.append(f"{path.name} is not a valid {label} recording")


def main():
    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument("--minutes", type=float, default=10.0)
    parser.add_argument("--folder", default=None, help="working folder (default build/soak)")
    args = parser.parse_args()
    tree = drive.Tree()
    folder = Path(args.folder or tree.dir.parent / "soak").resolve()
    shutil.rmtree(folder, ignore_errors=True)
    recordings = folder / "recordings"
    recordings.mkdir(parents=True)
    drive.prepare_folder(tree, folder, video_folder=recordings, keep=False)
    print(f"soak: {args.minutes:g} min in {folder}; {drive.machine_load()}", flush=True)
    problems = []
    with drive.Display():
        program = drive.Program(tree, folder)
        try:
            if not program.attach(300):
                print("soak: the main window did not appear", file=sys.stderr)
                return 1
            # The first start scans the city, then plays its first channel.
            if not program.trace.wait("picture", timeout=300, alive=program.alive):
                print("soak: no channel played", file=sys.stderr)
                return 1
            soak = Soak(program)
            figures = soak.run(args.minutes)
            problems += soak.problems
            check_growth(figures, problems)
            tunes = len([1 for _, f in program.trace.lines() if f[0] == "tune"])
            print(f"zaps: {soak.zaps}, tunes: {tunes}, recordings started: "
                  f"{len(soak.started_recordings)}")
            if program.alive():
                code = program.close_like_a_user()
                if code is None:
                    problems.append("the program did not close")
                elif code != 0:
                    problems.append(f"the program ended with exit code {code}")
            check_recordings(recordings, soak.started_recordings, problems)
        finally:
            program.stop()
    for problem in problems:
        print(f"soak: {problem}", file=sys.stderr)
    print("soak: " + ("FAILED" if problems else "passed"))
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
