"""The demo behind scripts/run.sh: korvane-tv.exe on the demo city, in build/run.

With a display the program is left to the person. Without one it runs in an Xvfb of its own
with openbox, scans on its first start, plays, and a screenshot of its window with a live
picture and the on-screen texts is saved; the program is then closed with the window
manager's close request. A later run finds chaines.xml and starts on the stored channel.
"""

import argparse
import os
import subprocess
import sys
import time
from pathlib import Path

import drive

# The on-screen texts stay this long after a channel switch (kOsdDisplayMs is 3 s).
OSD_MARGIN_S = 2.0

# The first start opens on a channel as broadcast today: "Sept Arts" (7), H.264 pictures
# and E-AC-3 sound, the seventh of the city's channels once they are numbered and sorted.
FIRST_CHANNEL = {"Index chaine courante": "6"}


def pictures_differ(first, second):
    """True when two screenshots differ in more than a few hundred pixels: the picture moves."""
    run = subprocess.run(["compare", "-metric", "AE", str(first), str(second), "null:"],
                         capture_output=True, text=True, check=False)
    try:
        return float(run.stderr.split()[0]) > 500
    except (IndexError, ValueError):
        return False


def show_with_osd(program, started_ms):
    """Waits for a picture; when the on-screen texts have gone by then, zaps to the next
    channel and back, as a person would to see them, and waits for the picture again."""
    first = program.trace.wait("picture", after_ms=started_ms, timeout=300, alive=program.alive)
    if not first:
        return None
    tune = [ms for ms, f in program.trace.lines() if f[0] == "tune"]
    switched_ms = tune[-1] if tune else first[0]
    if first[0] - switched_ms < 3000 - OSD_MARGIN_S * 1000:
        return first
    program.probe.tick(f"key {drive.VK_DOWN}")
    time.sleep(1.0)
    back = program.probe.tick(f"key {drive.VK_UP}")
    return program.trace.wait("picture", after_ms=back, timeout=30, alive=program.alive) or first


def headless(tree, folder):
    second_run = (folder / "chaines.xml").exists()
    (folder / "trace.txt").unlink(missing_ok=True)
    with drive.Display():
        program = drive.Program(tree, folder)
        try:
            if not program.attach(300):
                print("run.sh: the main window did not appear", file=sys.stderr)
                return 1
            started = program.probe.tick("tick")
            picture = show_with_osd(program, started)
            if not picture:
                print("run.sh: no channel played (no picture in the trace)", file=sys.stderr)
                return 1
            tunes = [f[1] for _, f in program.trace.lines() if f[0] == "tune"]
            how = "started on the stored channel" if second_run else \
                f"scanned {len(set(tunes))} frequencies"
            print(f"{how}; first picture {picture[1][1]} {picture[0] - started} ms after start")
            # A short while into the picture, inside the on-screen display's time.
            time.sleep(0.6)
            stamp = time.strftime("%Y%m%d-%H%M%S")
            shot = folder / f"screenshot-{stamp}.png"
            program.screenshot(shot)
            later = folder / f"screenshot-{stamp}-later.png"
            time.sleep(0.5)
            program.screenshot(later)
            moving = pictures_differ(shot, later)
            later.unlink()
            print(f"picture moving: {'yes' if moving else 'NO'}")
            print(f"screenshot: {shot}")
            print(f"channel file: {folder / 'chaines.xml'}")
            code = program.close_like_a_user()
            if code is None:
                print("run.sh: the program did not close", file=sys.stderr)
                return 1
            print(f"korvane-tv.exe ended with exit code {code}")
            return 0 if moving else 1
        finally:
            program.stop()


def with_display(tree, folder):
    program = drive.Program(tree, folder)
    print(f"korvane-tv.exe runs in {folder}; its channel file is {folder / 'chaines.xml'}")
    try:
        return program.process.wait()
    finally:
        program.stop()


def main():
    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument("--folder", default=None, help="working folder (default build/run)")
    args = parser.parse_args()
    tree = drive.Tree()
    folder = Path(args.folder or tree.dir.parent / "run").resolve()
    drive.prepare_folder(tree, folder, extra=FIRST_CHANNEL)
    if os.environ.get("DISPLAY"):
        return with_display(tree, folder)
    return headless(tree, folder)


if __name__ == "__main__":
    sys.exit(main())
