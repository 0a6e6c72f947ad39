#!/usr/bin/env python3
"""Runs user_session_driver.exe under Wine in an empty folder, then checks from the host what
the session left there, with ffprobe and against the multiplexes the virtual tuner played:

- the channel transport stream holds exactly the PAT, the PMT and the two PIDs chosen, each
  packet as the tuner delivered it, without a continuity break of its own, and lasts as long
  as the recording ran;
- the program stream is read by ffprobe as MPEG-PS, with video and audio each lasting as long
  as the recording ran;
- the multiplex recording is the multiplex: the tuner's packets, without its null packets,
  in order and none missing;
- the recording the scheduler made on the second start is a channel transport stream as
  above, and its streams last the time asked within a second (ffprobe's packet durations);
- each screenshot is a whole bitmap of the renderer's picture, and that picture is a frame of
  the channel on screen (MPEG-2 or H.264), not of another channel of the multiplex.

usage: user_session_test.py --wine WINE_RUN --driver EXE --folder DIR --muxes DIR
"""
import argparse
import json
import os
import shutil
import struct
import subprocess
import sys

PACKET = 188
NULL_PID = 0x1FFF
TOLERANCE_S = 0.5


class Checks:
    def __init__(self):
        self.failed = 0
        self.passed = 0

    def check(self, name, ok, detail=""):
        if ok:
            self.passed += 1
        else:
            self.failed += 1
        print(("PASS " if ok else "FAIL ") + name + (f" ({detail})" if detail else ""), flush=True)
        return ok


def packets_of(path):
    with open(path, "rb") as f:
        data = f.read()
    return [data[i:i + PACKET] for i in range(0, len(data) - PACKET + 1, PACKET)], len(data)


def pid_of(packet):
    return ((packet[1] & 0x1F) << 8) | packet[2]


def pcr_of(packet):
    """The PCR of a packet's adaptation field in 27 MHz ticks, or None."""
    if not packet[3] & 0x20 or packet[4] < 7 or not packet[5] & 0x10:
        return None
    b = packet[6:12]
    base = (b[0] << 25) | (b[1] << 17) | (b[2] << 9) | (b[3] << 1) | (b[4] >> 7)
    extension = ((b[4] & 1) << 8) | b[5]
    return base * 300 + extension


def packet_seconds(source):
    """Seconds per packet of a constant-rate multiplex file, from its PCRs."""
    pcrs = {}
    for index, packet in enumerate(source):
        pcr = pcr_of(packet)
        if pcr is not None:
            pcrs.setdefault(pid_of(packet), []).append((index, pcr))
    index0, pcr0, index1, pcr1 = 0, 0, 0, 0
    for points in pcrs.values():
        if len(points) >= 2 and points[-1][0] - points[0][0] > index1 - index0:
            (index0, pcr0), (index1, pcr1) = points[0], points[-1]
    return (pcr1 - pcr0) / 27e6 / (index1 - index0)


def find_run(source, kept, recorded):
    """Where the recorded packets are, in order and without a gap, among the source packets
    that `kept` selects, the file being played in a loop. Returns the source index of the
    first and of the last one, counted on from the first through the loops, or None."""
    selected = [i for i, packet in enumerate(source) if kept(packet)]
    if not recorded or not selected:
        return None
    n = len(selected)
    for start in range(n):
        if source[selected[start]] != recorded[0]:
            continue
        if all(source[selected[(start + k) % n]] == recorded[k] for k in range(len(recorded))):
            end = start + len(recorded) - 1
            return selected[start], (end // n) * len(source) + selected[end % n]
    return None


def continuity_breaks(recorded, seams):
    """Packets whose continuity counter does not follow the one before on their PID, except
    for the first packet of each PID after a restart of the played file (seams: positions of
    the first packet after each restart)."""
    last = {}
    restarted = set()
    breaks = []
    for position, packet in enumerate(recorded):
        if position in seams:
            restarted = set(last)
        pid = pid_of(packet)
        cc = packet[3] & 0x0F
        has_payload = packet[3] & 0x10
        if pid in restarted:
            restarted.discard(pid)
        elif pid in last:
            expected = (last[pid] + 1) & 0x0F if has_payload else last[pid]
            if cc != expected:
                breaks.append((position, pid, last[pid], cc))
        last[pid] = cc
    return breaks


def loop_seams(source, kept, recorded, first):
    """Positions in the recording of the first packet after each restart of the file."""
    selected = [i for i, packet in enumerate(source) if kept(packet)]
    start = selected.index(first)
    n = len(selected)
    return {k for k in range(1, len(recorded)) if (start + k) % n == 0}


def ffprobe(*args):
    return subprocess.run(["ffprobe", "-v", "error", *args], capture_output=True, text=True,
                          check=False).stdout


def near(a, b):
    return abs(a - b) <= TOLERANCE_S


def check_transport_stream(checks, what, path, source_path, pids, seconds):
    recorded, size = packets_of(path)
    source, _ = packets_of(source_path)
    checks.check(f"{what}: whole packets", size > 0 and size % PACKET == 0, f"{size} bytes")
    found = sorted({pid_of(p) for p in recorded})
    if pids is not None:
        checks.check(f"{what}: exactly the PIDs {sorted(pids)}", found == sorted(pids),
                     f"found {found}")

        def kept(packet):
            return pid_of(packet) in pids
    else:

        def kept(packet):
            return pid_of(packet) != NULL_PID

    run = find_run(source, kept, recorded)
    checks.check(f"{what}: the tuner's packets in order, none missing, nothing added",
                 run is not None, f"{len(recorded)} packets")
    if run is None:
        return
    seams = loop_seams(source, kept, recorded, run[0])
    breaks = continuity_breaks(recorded, seams)
    checks.check(f"{what}: no continuity break", not breaks,
                 f"{len(seams)} restart(s) of the played file"
                 + (f", first break {breaks[0]}" if breaks else ""))
    lasted = (run[1] - run[0] + 1) * packet_seconds(source)
    checks.check(f"{what}: lasts as long as it ran", near(lasted, seconds),
                 f"{lasted:.2f} s of broadcast, recorded for {seconds:.2f} s")


def check_channel_ts(checks, fields, folder, muxes):
    name, frequency, pmt, video, audio, seconds = fields
    path = os.path.join(folder, name)
    check_transport_stream(checks, "channel TS", path, os.path.join(muxes, f"{frequency}.ts"),
                           {0, int(pmt), int(video), int(audio)}, float(seconds))
    probed = json.loads(ffprobe("-count_packets", "-show_entries",
                                "stream=id,codec_name,nb_read_packets", "-of", "json", path))
    with_packets = sorted(f"{s.get('codec_name')} {s.get('id')}" for s in probed["streams"]
                          if str(s.get("nb_read_packets", "0")).isdigit()
                          and int(s.get("nb_read_packets", "0")) > 0)
    checks.check("channel TS: ffprobe reads its video and its audio", len(with_packets) == 2,
                 f"streams with packets: {with_packets}")


def check_scheduled_ts(checks, fields, folder, muxes):
    """A recording the scheduler made: the channel TS checks, and the length asked, as the
    sum of ffprobe's packet durations (the played file loops, so its time stamps jump back)."""
    name, _frequency, _pmt, _video, _audio, seconds = fields
    check_channel_ts(checks, fields, folder, muxes)
    lengths = stream_seconds(os.path.join(folder, name))
    checks.check(f"scheduled: each stream within 1 s of the {seconds} s asked (ffprobe)",
                 len(lengths) == 2 and all(abs(v - float(seconds)) <= 1.0
                                           for v in lengths.values()),
                 ", ".join(f"{codec} {v:.2f} s" for codec, v in sorted(lengths.items())))


def stream_seconds(path):
    """Seconds of each codec of a file: the sum of its packets' durations."""
    probed = json.loads(ffprobe("-show_entries",
                                "stream=index,codec_name:packet=stream_index,duration_time",
                                "-of", "json", path))
    codecs = {s["index"]: s.get("codec_name", "?") for s in probed.get("streams", [])}
    totals = {}
    for packet in probed.get("packets", []):
        duration = packet.get("duration_time")
        if duration not in (None, "N/A"):
            codec = codecs.get(packet["stream_index"], "?")
            totals[codec] = totals.get(codec, 0.0) + float(duration)
    return totals


def check_channel_ps(checks, fields, folder):
    name, _frequency, _video, _audio, audio_codec, seconds = fields
    seconds = float(seconds)
    path = os.path.join(folder, name)
    with open(path, "rb") as f:
        head = f.read(4)
    checks.check("channel PS: not empty, begins with a pack header", head == b"\x00\x00\x01\xba",
                 f"{os.path.getsize(path)} bytes")
    format_name = ffprobe("-show_entries", "format=format_name", "-of", "csv=p=0", path).strip()
    checks.check("channel PS: read as MPEG-PS", format_name == "mpeg", f"format {format_name!r}")
    lasted = stream_seconds(path)
    for codec in ("mpeg2video", audio_codec):
        got = lasted.get(codec, 0.0)
        checks.check(f"channel PS: {codec} lasts as long as it ran", near(got, seconds),
                     f"{got:.2f} s, recorded for {seconds:.2f} s")


def program_ids(path):
    probed = json.loads(ffprobe("-show_entries", "program=program_id", "-of", "json", path))
    return sorted(p["program_id"] for p in probed.get("programs", []))


def check_multiplex(checks, fields, folder, muxes):
    name, frequency, seconds = fields
    path = os.path.join(folder, name)
    source_path = os.path.join(muxes, f"{frequency}.ts")
    check_transport_stream(checks, "multiplex", path, source_path, None, float(seconds))
    programs = program_ids(path)
    announced = program_ids(source_path)
    checks.check("multiplex: ffprobe finds every programme of the multiplex",
                 programs == announced and programs != [],
                 f"{len(programs)} of {len(announced)}")


def frames_of(source_path, pid, width, height):
    # At the screenshot's size: the channels of a multiplex may differ in size (MPEG-2 and
    # H.264 ones).
    raw = subprocess.run(["ffmpeg", "-v", "error", "-i", source_path, "-map", f"0:i:{pid}",
                          "-s", f"{width}x{height}", "-f", "rawvideo", "-pix_fmt", "bgra", "-"],
                         capture_output=True, check=False).stdout
    size = width * height * 4
    return [raw[i:i + size] for i in range(0, len(raw) - size + 1, size)]


def caption_band(rows, width, height):
    """Green samples of the box where a channel's picture carries its own name, over a test
    pattern that all channels share (tools/muxgen: drawtext, font size height / 7, its foot
    height / 12 above the bottom). rows(y) gives row y, top first."""
    samples = []
    for y in range(height - height // 12 - height // 7 - 4, height - height // 12 + 4):
        samples.extend(rows(y)[1::8])
    return samples


def distance(a, b):
    return sum(abs(x - y) for x, y in zip(a, b)) / max(1, len(a))


def check_screenshot(checks, fields, folder, muxes):
    name, frequency, video, others = fields
    path = os.path.join(folder, name)
    with open(path, "rb") as f:
        data = f.read()
    if not checks.check("screenshot: a bitmap file", len(data) >= 54 and data[:2] == b"BM",
                        f"{len(data)} bytes"):
        return
    size, reserved1, reserved2, offset = struct.unpack_from("<IHHI", data, 2)
    (header, width, height, planes, bits, compression, image_size) = struct.unpack_from(
        "<IiiHHII", data, 14)
    checks.check("screenshot: file header (size, offset 54)",
                 size == len(data) and offset == 54 and reserved1 == 0 and reserved2 == 0,
                 f"bfSize {size}, bfOffBits {offset}")
    checks.check("screenshot: the renderer's 32-bit bottom-up picture, whole",
                 header == 40 and width > 0 and height > 0 and planes == 1 and bits == 32
                 and compression == 0 and image_size == width * height * 4
                 and len(data) == 14 + 40 + image_size,
                 f"{width}x{height}, {bits} bits, biSizeImage {image_size}")
    if len(data) != 54 + width * height * 4:
        return
    stride = width * 4
    shot = caption_band(lambda y: data[54 + (height - 1 - y) * stride:54 + (height - y) * stride],
                        width, height)
    source_path = os.path.join(muxes, f"{frequency}.ts")
    nearest = {}
    for pid in [int(video)] + [int(p) for p in others.split(",") if p]:
        frames = frames_of(source_path, pid, width, height)
        nearest[pid] = min((distance(shot, caption_band(
            lambda y, frame=frame: frame[y * stride:(y + 1) * stride], width, height))
            for frame in frames), default=float("inf"))
    expected = nearest[int(video)]
    closest_other = min((d for pid, d in nearest.items() if pid != int(video)),
                        default=float("inf"))
    summary = ", ".join(f"PID {pid}: {d:.1f}" for pid, d in nearest.items())
    checks.check("screenshot: a picture of the channel on screen (PID "
                 f"{video}), not of another channel of its multiplex",
                 expected < 8 and expected * 2 < closest_other, "mean difference " + summary)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--wine", required=True)
    parser.add_argument("--driver", required=True)
    parser.add_argument("--folder", required=True)
    parser.add_argument("--muxes", required=True)
    args = parser.parse_args()

    shutil.rmtree(args.folder, ignore_errors=True)
    os.makedirs(args.folder)
    driver = subprocess.run([args.wine, args.driver, args.folder], check=False)
    checks = Checks()
    checks.check("the driver's session and its checks", driver.returncode == 0,
                 f"exit code {driver.returncode}")

    listed = os.path.join(args.folder, "session.tsv")
    kinds = set()
    if os.path.exists(listed):
        with open(listed, encoding="utf-8") as f:
            for line in f:
                kind, *fields = line.rstrip("\n").split("\t")
                kinds.add(kind)
                if kind == "channel-ts":
                    check_channel_ts(checks, fields, args.folder, args.muxes)
                elif kind == "scheduled-ts":
                    check_scheduled_ts(checks, fields, args.folder, args.muxes)
                elif kind == "channel-ps":
                    check_channel_ps(checks, fields, args.folder)
                elif kind == "multiplex":
                    check_multiplex(checks, fields, args.folder, args.muxes)
                elif kind == "screenshot":
                    check_screenshot(checks, fields, args.folder, args.muxes)
    checks.check("three recordings, a screenshot and a scheduled recording were made",
                 kinds == {"channel-ts", "channel-ps", "multiplex", "screenshot",
                           "scheduled-ts"},
                 f"made: {sorted(kinds)}")
    print(f"user session: {checks.passed} passed, {checks.failed} failed")
    return 1 if checks.failed else 0


if __name__ == "__main__":
    sys.exit(main())
