"""Benchmark of the whole program under Wine on the demo city, behind scripts/bench.sh.

Prints ratios measured in one run on this machine, with its load:
- scan: the demo city's scan at broadcast speed (trace: first tune to the first stream mapped
  for the channel played after it) against the sum over its frequencies of the time by which
  every table the scan needs has first arrived in the generated file (PAT, SDT, each PMT, the
  NIT on the first frequency only);
- zap: from the command (a posted Down key, the trace's clock) to the PMT output's first
  section and to the first picture of the new stream, on the same and on another frequency;
- CPU: the program's process time per second while playing, then while recording, a
  30 Mbit/s multiplex, split by the module each thread started in (the program, the testbed,
  Wine's own threads such as the sound mixer);
- memory: the program's private bytes after playing for the given minutes.
"""

import argparse
import os
import re
import shutil
import statistics
import subprocess
import sys
import time
from pathlib import Path

import drive

PACKET = 188
PAT_PID, NIT_PID, SDT_PID = 0x00, 0x10, 0x11
PAT, PMT, NIT_ACTUAL, SDT_ACTUAL = 0x00, 0x02, 0x40, 0x42


class SectionArrivals:
    """The byte offset at which the first complete section of each (pid, table) ends."""

    def __init__(self):
        self.partial = {}
        self.first = {}
        self.sections = {}

    def push(self, pid, offset, payload, unit_start):
        if unit_start:
            pointer = payload[0]
            tail, payload = payload[1:1 + pointer], payload[1 + pointer:]
            if pid in self.partial:
                self.partial[pid] += tail
                self.complete(pid, offset)
            self.partial[pid] = bytearray(payload)
        elif pid in self.partial:
            self.partial[pid] += payload
        self.complete(pid, offset)

    def complete(self, pid, offset):
        data = self.partial.get(pid)
        while data and len(data) >= 3 and data[0] != 0xFF:
            length = 3 + (((data[1] & 0x0F) << 8) | data[2])
            if len(data) < length:
                return
            table = data[0]
            self.first.setdefault((pid, table), offset + PACKET)
            self.sections.setdefault((pid, table), bytes(data[:length]))
            del data[:length]
        if data is not None and data[:1] == b"\xff":
            data.clear()


def pcr_rate(packets):
    """Bytes per second from the first and last PCR of one PID."""
    first = last = None
    for offset, packet in packets:
        if packet[3] & 0x20 and packet[4] >= 7 and packet[5] & 0x10:
            b = packet[6:12]
            base = (b[0] << 25) | (b[1] << 17) | (b[2] << 9) | (b[3] << 1) | (b[4] >> 7)
            pcr = base * 300 + (((b[4] & 1) << 8) | b[5])
            pid = ((packet[1] & 0x1F) << 8) | packet[2]
            if first is None:
                first = (pid, offset, pcr)
            elif pid == first[0]:
                last = (offset, pcr)
    if not first or not last or last[1] <= first[2]:
        return None
    return (last[0] - first[1]) / ((last[1] - first[2]) / 27e6)


def table_bound(path, with_nit):
    """Seconds from the start of the file by which the scan's tables have all arrived."""
    data = Path(path).read_bytes()
    packets = [(o, data[o:o + PACKET]) for o in range(0, len(data) - PACKET + 1, PACKET)]
    arrivals = SectionArrivals()
    for offset, packet in packets:
        pid = ((packet[1] & 0x1F) << 8) | packet[2]
        if not packet[3] & 0x10:
            continue
        start = 4 + (1 + packet[4] if packet[3] & 0x20 else 0)
        if start < PACKET:
            arrivals.push(pid, offset, packet[start:], bool(packet[1] & 0x40))
    pat = arrivals.sections.get((PAT_PID, PAT))
    needed = [(PAT_PID, PAT), (SDT_PID, SDT_ACTUAL)] + ([(NIT_PID, NIT_ACTUAL)] if with_nit else [])
    if pat:
        for i in range(8, len(pat) - 4, 4):
            program = (pat[i] << 8) | pat[i + 1]
            if program:
                needed.append((((pat[i + 2] & 0x1F) << 8) | pat[i + 3], PMT))
    rate = pcr_rate(packets)
    missing = [n for n in needed if n not in arrivals.first]
    if missing or not rate:
        raise RuntimeError(f"{path}: tables missing {missing} or no PCR")
    return max(arrivals.first[n] for n in needed) / rate


def scan_figures(program, muxes):
    lines = program.trace.lines()
    tunes = [(ms, int(f[1])) for ms, f in lines if f[0] == "tune"]
    first_es = next(ms for ms, f in lines if f[0] == "map" and f[-1] == "es")
    scanned = []
    for ms, khz in tunes:
        if ms >= first_es:
            break
        if khz not in scanned:
            scanned.append(khz)
    # The channel played after the scan may need one more tune: it is not the scan's.
    scan_end = max([ms for ms, f in lines if f[0] == "unmap" and f[1] == "data" and
                    ms <= first_es] or [first_es])
    scan_ms = scan_end - tunes[0][0]
    bound = 0.0
    for i, khz in enumerate(scanned):
        path = Path(muxes) / f"{khz}.ts"
        if path.exists():
            bound += table_bound(path, with_nit=i == 0)
    print(f"scan: {len(scanned)} frequencies in {scan_ms / 1000:.2f} s; tables' first arrival "
          f"bound {bound:.2f} s; ratio {scan_ms / 1000 / bound:.2f} (goal <= 1.2)")
    # Where the time goes: each table read of the scan, from its map to its first section.
    reads = []
    mapped = {}
    for ms, f in lines:
        if ms > scan_end:
            break
        if f[0] == "map" and f[1] == "data":
            mapped[f[2]] = ms
        elif f[0] == "section" and f[1] == "data" and f[2] in mapped:
            reads.append((ms - mapped.pop(f[2]), int(f[2]), f[3]))
    reads.sort(reverse=True)
    waited = sum(r[0] for r in reads)
    print(f"scan: {len(reads)} table reads waited {waited / 1000:.2f} s for their first section, "
          f"the longest " + ", ".join(f"PID {pid} table {table} {ms} ms"
                                      for ms, pid, table in reads[:3]))


def no_signal_figures(tree, folder):
    """The demo city's scan with one multiplex missing: what its frequency costs."""
    shutil.rmtree(folder, ignore_errors=True)
    muxes = folder / "muxes-no-signal"
    muxes.mkdir(parents=True)
    files = sorted(tree.demo_muxes.glob("*.ts"))
    missing = files[len(files) // 2].stem
    for ts in files:
        if ts.stem != missing:
            shutil.copyfile(ts, muxes / ts.name)
    drive.prepare_folder(tree, folder, keep=False)
    program = drive.Program(tree, folder, muxes=muxes)
    try:
        if not program.attach(300) or not program.trace.wait("picture", timeout=300,
                                                              alive=program.alive):
            print("bench: the program did not play after its scan", file=sys.stderr)
            return
        tunes = [(ms, f[1]) for ms, f in program.trace.lines() if f[0] == "tune"]
        at = next((i for i, (_, khz) in enumerate(tunes) if khz == missing), None)
        if at is None or at + 1 >= len(tunes):
            print(f"bench: the scan did not tune {missing} kHz", file=sys.stderr)
            return
        cost = (tunes[at + 1][0] - tunes[at][0]) / 1000
        print(f"scan: the frequency without signal ({missing} kHz) cost {cost:.2f} s "
              f"(goal <= the SDT time-out, 5 s)")
        program.close_like_a_user()
    finally:
        program.stop()


def zap_figures(program, zaps, settle_s):
    probe = program.probe
    results = {"same": [], "other": []}
    for _ in range(zaps):
        sent = probe.tick(f"key {drive.VK_DOWN}")
        time.sleep(settle_s)
        after = [(ms, f) for ms, f in program.trace.lines() if ms >= sent]
        tuned = any(f[0] == "tune" for _, f in after)
        pmt_maps = [f[1] for _, f in after if f[0] == "map" and f[-1] == "psi" and f[1] != "data"]
        section = next((ms for ms, f in after if f[0] == "section" and f[1] in pmt_maps), None)
        picture = next((ms for ms, f in after if f[0] in ("restart", "picture")), None)
        # Radio services, and the H.264 ones with an MPEG-2 video decoder, map no video.
        video = any(f[0] == "map" and f[1] == "video" for _, f in after)
        results["other" if tuned else "same"].append(
            (section - sent if section is not None else None,
             picture - sent if picture is not None else None, video))
    for kind, rows in results.items():
        sections = [s for s, _, _ in rows if s is not None]
        pictures = [p for _, p, _ in rows if p is not None]
        with_video = sum(1 for _, _, v in rows if v)
        if not rows:
            continue

        def spread(values):
            if not values:
                return "none"
            return (f"median {statistics.median(values):.0f} ms, min {min(values)}, "
                    f"max {max(values)}")

        print(f"zap, {kind} frequency ({len(rows)} zaps): to the PMT section {spread(sections)}"
              f" ({len(rows) - len(sections)} without); to the picture {spread(pictures)}"
              f" ({with_video} with a video PID mapped, {with_video - len(pictures)} of them "
              f"without a picture)")


def linux_cpu_seconds(pid):
    fields = Path(f"/proc/{pid}/stat").read_text().rsplit(")", 1)[1].split()
    return (int(fields[11]) + int(fields[12])) / 100.0  # utime + stime, USER_HZ ticks


def cpu_figures(program, label, seconds):
    """The process's CPU time per second, split by the module the code ran in."""
    linux_before, started = linux_cpu_seconds(program.process.pid), time.monotonic()
    fields = program.probe.ask(f"profile {int(seconds * 1000)}").split()
    elapsed = time.monotonic() - started
    whole = (linux_cpu_seconds(program.process.pid) - linux_before) / elapsed * 100
    spent = {fields[i]: fields[i + 1] for i in range(0, len(fields) - 1, 2)}

    def share(key):
        return float(spent.get(key, 0)) / 1000 / elapsed * 100

    top = ", ".join(f"{name} {float(ms) / 1000 / elapsed * 100:.1f} %"
                    for name, ms in (item.rsplit(":", 1) for item in spent.get("top", "").split(",")
                                     if ":" in item))
    print(f"CPU {label}: the program (its code and the Wine calls it makes) "
          f"{share('program'):.2f} % of a core (goal < 2 %), the testbed (tuner, "
          f"demultiplexer, decoders, drawing) {share('testbed'):.1f} %, Wine's own threads "
          f"{share('other'):.1f} % ({top}); whole process {whole:.1f} %")


def make_30mbit_muxes(tree, folder):
    """The demo city, its first multiplex remade at 30 Mbit/s with standard-definition video."""
    scenario = (drive.REPO / "tools/muxgen/scenarios/demo_city.mux").read_text()
    header, _, rest = scenario.partition("\nmux ")
    first_mux = "mux " + rest.split("\nmux ")[0]
    first_mux = re.sub(r"bitrate \d+", "bitrate 30000000", first_mux, count=1)
    header = re.sub(r"^video .*$", "video 720x576 16:9", header, flags=re.M)
    muxes = folder / "muxes30"
    shutil.rmtree(muxes, ignore_errors=True)
    muxes.mkdir()
    for ts in tree.demo_muxes.glob("*.ts"):
        shutil.copyfile(ts, muxes / ts.name)
    path = folder / "r1_30mbit.mux"
    path.write_text(header + "\n" + first_mux + "\n")
    subprocess.run([str(tree.dir / "muxgen-host" / "muxgen"), "-o", str(muxes), "--cache",
                    str(tree.dir / "es-cache"), str(path)], check=True, stdout=subprocess.DEVNULL)
    frequency = re.search(r"frequency (\d+)", first_mux).group(1)
    fill_null_packets(muxes / f"{frequency}.ts")
    return muxes, int(frequency)


def fill_null_packets(path, pid=0x1FF0):
    """Turns the stuffing into data of a PID no table lists, as a multiplex full of services
    would carry: the demultiplexer and the multiplex recording then see 30 Mbit/s of packets."""
    data = bytearray(Path(path).read_bytes())
    payload = os.urandom(PACKET - 4)
    counter = 0
    for offset in range(0, len(data) - PACKET + 1, PACKET):
        if ((data[offset + 1] & 0x1F) << 8 | data[offset + 2]) != 0x1FFF:
            continue
        data[offset + 1:offset + 4] = bytes([pid >> 8, pid & 0xFF, 0x10 | counter])
        data[offset + 4:offset + PACKET] = payload
        counter = (counter + 1) & 0x0F
    Path(path).write_bytes(bytes(data))


def channel_index_on(folder, frequency):
    text = (folder / "chaines.xml").read_text(errors="replace")
    blocks = re.findall(r"<Chaine>(.*?)</Chaine>", text, flags=re.S)
    for index, block in enumerate(blocks):
        if f"<Frequence>{frequency}</Frequence>" in block and "<Video>" in block:
            return index
    return 0


# "Sous-titres suivants" and "Aucun" (src/res/resource.h).
IDM_NEXT_SUBTITLES = 40159
IDM_SUBTITLES_NONE = 40140


def hd_channel_figures(tree, folder, recordings, seconds):
    """CPU time while the demo city's HD H.264 channel plays, shows its subtitles, then while
    it is recorded."""
    text = (folder / "chaines.xml").read_text(errors="replace")
    blocks = re.findall(r"<Chaine>(.*?)</Chaine>", text, flags=re.S)
    index = next((i for i, b in enumerate(blocks) if "toile HD</Nom>" in b), None)
    if index is None:
        print("bench: no HD channel in the demo city", file=sys.stderr)
        return
    drive.write_config(folder, extra={"Index chaine courante": str(index)},
                       video_folder=recordings)
    program = drive.Program(tree, folder)
    try:
        if not program.attach(120) or not program.trace.wait("picture", timeout=120,
                                                              alive=program.alive):
            print("bench: the HD channel did not play", file=sys.stderr)
            return
        time.sleep(3)
        cpu_figures(program, "playing the HD H.264 channel", seconds)
        # S: its first subtitle stream, whose display sets come every few seconds.
        program.probe.tick(f"command {IDM_NEXT_SUBTITLES}")
        cpu_figures(program, "showing its subtitles", seconds)
        program.probe.tick(f"command {IDM_SUBTITLES_NONE}")
        program.probe.tick(f"command {drive.IDM_RECORD_CHANNEL_TS}")
        cpu_figures(program, "recording it (channel TS)", seconds)
        program.probe.tick(f"command {drive.IDM_STOP_RECORDING}")
        program.close_like_a_user()
    finally:
        program.stop()
    # The 30 Mbit/s figures below count the recordings folder: this file leaves it.
    for path in recordings.glob("*.mpg"):
        print(f"recorded the HD channel: {path.stat().st_size / 1e6:.1f} MB in {seconds:g} s")
        path.unlink()


def shipped_program(tree):
    """The program as the installer and the zip carry it, stripped: the build tree's copy holds
    its debugging sections, which count in the process's private memory under Wine (about
    17 MB, and not always the same amount from one build to the next)."""
    folder = tree.dir / "bench-program"
    folder.mkdir(exist_ok=True)
    stripped = folder / tree.program.name
    subprocess.run(["x86_64-w64-mingw32-strip", "-o", str(stripped), str(tree.program)],
                   check=True)
    return stripped


def main():
    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument("--memory-minutes", type=float, default=10.0)
    parser.add_argument("--cpu-seconds", type=float, default=60.0)
    parser.add_argument("--zaps", type=int, default=26)
    parser.add_argument("--scan-only", action="store_true",
                        help="only the scan figures: the demo city, then one frequency without "
                        "signal")
    args = parser.parse_args()
    tree = drive.Tree()
    tree.program = shipped_program(tree)
    folder = tree.dir.parent / "bench"
    shutil.rmtree(folder, ignore_errors=True)
    recordings = folder / "recordings"
    recordings.mkdir(parents=True)
    drive.prepare_folder(tree, folder, video_folder=recordings, keep=False)
    print(f"load at start: {drive.machine_load()}", flush=True)
    with drive.Display():
        program = drive.Program(tree, folder)
        try:
            if not program.attach(300) or not program.trace.wait("picture", timeout=300,
                                                                  alive=program.alive):
                print("bench: the program did not play after its scan", file=sys.stderr)
                return 1
            scan_figures(program, tree.demo_muxes)
            if not args.scan_only:
                time.sleep(2)
                zap_figures(program, args.zaps, 2.5)
            program.close_like_a_user()
        finally:
            program.stop()
        if args.scan_only:
            no_signal_figures(tree, folder.parent / "bench-no-signal")
            print(f"load at end: {drive.machine_load()}")
            return 0
        hd_channel_figures(tree, folder, recordings, args.cpu_seconds)
        muxes, frequency = make_30mbit_muxes(tree, folder)
        index = channel_index_on(folder, frequency)
        drive.write_config(folder, extra={"Index chaine courante": str(index)},
                           video_folder=recordings)
        program = drive.Program(tree, folder, muxes=muxes)
        try:
            if not program.attach(120) or not program.trace.wait("picture", timeout=120,
                                                                  alive=program.alive):
                print("bench: the 30 Mbit/s multiplex did not play", file=sys.stderr)
                return 1
            time.sleep(3)
            cpu_figures(program, "playing 30 Mbit/s", args.cpu_seconds)
            program.probe.tick(f"command {drive.IDM_RECORD_MULTIPLEX}")
            cpu_figures(program, "recording 30 Mbit/s", args.cpu_seconds)
            program.probe.tick(f"command {drive.IDM_STOP_RECORDING}")
            recorded = sum(p.stat().st_size for p in recordings.glob("*.mpg"))
            print(f"recorded {recorded / 1e6:.1f} MB in {args.cpu_seconds:g} s "
                  f"({recorded * 8 / args.cpu_seconds / 1e6:.1f} Mbit/s)")
            start = program.probe.stats()
            time.sleep(max(0.0, args.memory_minutes * 60 - 2 * args.cpu_seconds))
            end = program.probe.stats()
            print(f"memory after {args.memory_minutes:g} min on 30 Mbit/s: private "
                  f"{end['private'] / 1048576:.1f} MB (after the recording "
                  f"{start['private'] / 1048576:.1f} MB), working set "
                  f"{end['working'] / 1048576:.1f} MB (goal: private < 40 MB)")
            program.close_like_a_user()
        finally:
            program.stop()
    print(f"load at end: {drive.machine_load()}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
