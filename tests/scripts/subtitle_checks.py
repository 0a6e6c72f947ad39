#!/usr/bin/env python3
"""Decodes every display set of a multiplex with DVB subtitle streams twice, with the
program's subtitle decoder (through subtitle_checks_tool) and with Debian's ffmpeg, and
compares them: PTS, page time-out and region count with ffprobe's subtitle frames, and the
picture drawn on the display's canvas with the checksum of the frame ffmpeg's sub2video draws
at the same PTS.

usage: subtitle_checks.py SUBTITLE_CHECKS_TOOL WORK_DIR [TS PID:COMPOSITION:ANCILLARY...]
(without a stream, the tool writes its own multiplex with two subtitle streams).
"""

import os
import re
import subprocess
import sys

SHOWINFO = re.compile(r"\bn:\s*\d+\s+pts:\s*(-?\d+)\b.*\bchecksum:([0-9A-F]{8})")


def run(command):
    return subprocess.run(command, check=True, capture_output=True, text=True)


def ours(tool, ts, pid, composition, ancillary):
    lines = run([tool, "dump", ts, pid, composition, ancillary]).stdout.split()
    sets = []
    for i in range(0, len(lines), 6):
        pts, timeout, width, height, regions, checksum = lines[i:i + 6]
        sets.append({"pts": int(pts), "timeout": int(timeout), "size": (int(width), int(height)),
                     "regions": int(regions), "checksum": checksum})
    return sets


def ffprobe_frames(ts, pid):
    """(pts in microseconds, end_display_time, num_rects) of each subtitle frame."""
    out = run(["ffprobe", "-v", "error", "-select_streams", "i:" + pid, "-show_frames",
               "-show_entries", "subtitle=pts,end_display_time,num_rects", "-of", "csv=p=0",
               ts]).stdout
    return [tuple(int(v) for v in line.split(",")) for line in out.splitlines() if line]


def ffmpeg_checksums(ts, pid, size):
    """Checksum of the last frame sub2video draws at each PTS (90 kHz, timestamps kept)."""
    out = run(["ffmpeg", "-nostdin", "-hide_banner", "-v", "info", "-canvas_size",
               "%dx%d" % size, "-copyts", "-i", ts, "-filter_complex",
               "[0:i:%s]showinfo" % pid, "-f", "null", "-"]).stderr
    frames = {}
    for match in SHOWINFO.finditer(out):
        frames[int(match.group(1))] = match.group(2)
    return frames


def compare(tool, ts, pid, composition, ancillary):
    failures = []
    mine = ours(tool, ts, pid, composition, ancillary)
    probe = ffprobe_frames(ts, pid)
    name = "stream %s (pages %s/%s)" % (pid, composition, ancillary)
    if not mine:
        return ["%s: the decoder gave no display set" % name]
    if len(mine) != len(probe):
        failures.append("%s: %d display sets, ffmpeg %d" % (name, len(mine), len(probe)))
    sizes = {s["size"] for s in mine}
    if len(sizes) != 1:
        failures.append("%s: display size changes: %s" % (name, sorted(sizes)))
    drawn = ffmpeg_checksums(ts, pid, mine[0]["size"])
    for k, (got, (pts_us, end_ms, rects)) in enumerate(zip(mine, probe)):
        where = "%s set %d (PTS %d)" % (name, k, got["pts"])
        # ffmpeg keeps times in microseconds: the PTS within one microsecond.
        if abs(got["pts"] * 1000000 // 90000 - pts_us) > 1:
            failures.append("%s: ffmpeg's PTS is %d us" % (where, pts_us))
        if got["timeout"] != end_ms:
            failures.append("%s: time-out %d ms, ffmpeg %d ms" % (where, got["timeout"], end_ms))
        if got["regions"] != rects:
            failures.append("%s: %d regions, ffmpeg %d" % (where, got["regions"], rects))
        if drawn.get(got["pts"]) != got["checksum"]:
            failures.append("%s: picture %s, ffmpeg's %s" % (where, got["checksum"],
                                                            drawn.get(got["pts"])))
    print("%s: %d display sets compared" % (name, len(mine)))
    return failures


def main():
    tool, work = sys.argv[1], sys.argv[2]
    os.makedirs(work, exist_ok=True)
    if len(sys.argv) > 3:
        ts, streams = sys.argv[3], [s.split(":") for s in sys.argv[4:]]
    else:
        ts = os.path.join(work, "subtitles.ts")
        run([tool, "write", ts])
        streams = [["0x130", "1", "1"], ["0x131", "2", "3"]]
    failures = []
    for pid, composition, ancillary in streams:
        failures += compare(tool, ts, pid, composition, ancillary)
    for failure in failures:
        print("FAIL:", failure)
    print("subtitle checks: %d failed" % len(failures))
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
