#!/usr/bin/env python3
"""Lists the includes of src/ per floor and fails when the floors leak.

Each folder of src/ stands on a floor; a file may include headers of its own floor or of
floors below it ("folder/..." includes, folder being the first path component), never of a
floor above, nor anything outside src/ (support/ holds code the program never runs). The
portable core (the files of app, capture, channels, common, si, subtitles and res that are not under a
win/ folder) includes no Windows header: only the C++ library and the C library's own
headers come in angle brackets there.

Usage: scripts/check_floors.py [source root]   (default: this checkout)
"""

import re
import sys
from collections import defaultdict
from pathlib import Path

FLOORS = {"app": 5, "graph": 4, "si": 3, "channels": 2, "capture": 2, "subtitles": 2, "dshow": 1, "common": 1, "res": 1}
PORTABLE_FOLDERS = {"app", "capture", "channels", "common", "si", "subtitles", "res"}
# The C library's headers under their C names: the only ".h" a portable file may take in
# angle brackets (the C++ library's headers have no extension).
C_HEADERS = {
    "assert.h", "complex.h", "ctype.h", "errno.h", "fenv.h", "float.h", "inttypes.h",
    "iso646.h", "limits.h", "locale.h", "math.h", "setjmp.h", "signal.h", "stdalign.h",
    "stdarg.h", "stdbool.h", "stddef.h", "stdint.h", "stdio.h", "stdlib.h", "string.h",
    "tgmath.h", "time.h", "uchar.h", "wchar.h", "wctype.h",
}
# Portable libraries a floor's files may include in angle brackets: the subtitle decoder
# stands on libavcodec, built for every platform.
LIBRARY_HEADERS = {"subtitles": ("libavcodec/", "libavutil/")}
SOURCE_SUFFIXES = {".cpp", ".h", ".rc", ".in"}
INCLUDE = re.compile(r'^\s*#\s*include\s*([<"])([^>"]+)[>"]')


def includes_of(path):
    for number, line in enumerate(path.read_text(encoding="utf-8", errors="replace").splitlines(), 1):
        match = INCLUDE.match(line)
        if match:
            yield number, match.group(1) == "<", match.group(2).strip()


def is_portable(relative):
    parts = relative.parts
    return parts[0] in PORTABLE_FOLDERS and "win" not in parts[1:-1] and relative.suffix in {".cpp", ".h"}


def main():
    root = Path(sys.argv[1] if len(sys.argv) > 1 else Path(__file__).resolve().parent.parent)
    src = root / "src"
    faults = []
    reached = defaultdict(lambda: defaultdict(int))
    for path in sorted(p for p in src.rglob("*") if p.is_file() and p.suffix in SOURCE_SUFFIXES):
        relative = path.relative_to(src)
        folder = relative.parts[0]
        where = f"src/{relative.as_posix()}"
        if folder not in FLOORS:
            faults.append(f"{where}: folder {folder}/ stands on no floor")
            continue
        floor = FLOORS[folder]
        portable = is_portable(relative)
        for number, angled, name in includes_of(path):
            if angled:
                if (portable and name.endswith(".h") and name.lower() not in C_HEADERS
                        and not name.startswith(LIBRARY_HEADERS.get(folder, ()))):
                    faults.append(f"{where}:{number}: portable file includes <{name}>")
                continue
            if "/" not in name:
                continue
            target = name.split("/", 1)[0]
            if target not in FLOORS:
                faults.append(f"{where}:{number}: includes \"{name}\", outside the floors of src/")
                continue
            reached[folder][target] += 1
            if FLOORS[target] > floor:
                faults.append(f"{where}:{number}: {folder} (floor {floor}) includes \"{name}\" "
                              f"(floor {FLOORS[target]})")

    for folder in sorted(FLOORS, key=lambda f: (-FLOORS[f], f)):
        counts = reached.get(folder, {})
        listed = " ".join(f"{t}({counts[t]})" for t in sorted(counts, key=lambda t: (-FLOORS[t], t)))
        print(f"floor {FLOORS[folder]} {folder:8} includes {listed or '-'}")
    for fault in faults:
        print(fault)
    if faults:
        print(f"floors: {len(faults)} fault(s)")
        return 1
    print("floors: no upward include, no Windows header in the portable core")
    return 0


if __name__ == "__main__":
    sys.exit(main())
