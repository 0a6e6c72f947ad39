#!/usr/bin/env python3
"""Runs scripts/check_floors.py on small trees: a sound one passes, each fault fails."""

import subprocess
import sys
import tempfile
from pathlib import Path

SCRIPT = sys.argv[1]
SOUND = {
    "app/win/main.cpp": '#include "graph/media_graph.h"\n#include <windows.h>\n',
    "app/rules.cpp": '#include "si/eit.h"\n#include <cstdint>\n#include <stdint.h>\n',
    "graph/media_graph.h": '#include "dshow/com_ptr.h"\n#include <dshow.h>\n',
    "si/eit.h": '#include "channels/channel_list.h"\n',
    "channels/channel_list.h": '#include "capture/recorder.h"\n#include "common/byte_reader.h"\n',
    "capture/recorder.h": '#include "channels/channel_list.h"\n',
    "common/win/show_error.cpp": '#include <windows.h>\n#include "res/resource.h"\n',
    "res/korvane.rc": '#include "resource.h"\n#include <windows.h>\n',
    "subtitles/decoder.cpp": '#include "common/byte_reader.h"\n#include <libavcodec/avcodec.h>\n',
}
FAULTS = {
    "upward include": ("graph/graph_builder.cpp", '#include "app/win/app_state.h"\n'),
    "same-floor folder reaching up": ("channels/channel_file.h", '#include "si/pmt.h"\n'),
    "Windows header in the core": ("si/pat.cpp", "#include <windows.h>\n"),
    "Windows header in a core header": ("common/date_time.h", "#  include <Objbase.h>\n"),
    "include outside src": ("channels/xml.cpp", '#include "support/xml_tree.h"\n'),
    "folder on no floor": ("extra/thing.cpp", "int x;\n"),
    "decoding library outside the subtitles": ("si/pes.cpp", "#include <libavutil/mem.h>\n"),
}


def run(files):
    with tempfile.TemporaryDirectory() as root:
        for name, text in files.items():
            path = Path(root, "src", name)
            path.parent.mkdir(parents=True, exist_ok=True)
            path.write_text(text)
        return subprocess.run([sys.executable, SCRIPT, root], capture_output=True, text=True)


failures = []
sound = run(SOUND)
if sound.returncode != 0:
    failures.append(f"sound tree refused:\n{sound.stdout}")
for label, (name, text) in FAULTS.items():
    result = run({**SOUND, name: text})
    if result.returncode == 0 or f"src/{name}" not in result.stdout:
        failures.append(f"{label} not reported:\n{result.stdout}")
for failure in failures:
    print(failure)
print(f"check_floors: {len(FAULTS) + 1 - len(failures)} of {len(FAULTS) + 1} cases right")
sys.exit(1 if failures else 0)
