#!/bin/bash
# Soak run of the program on the demo city: zaps every 2 s, a recording every 20 s, the guide
# and signal dialogs, for N minutes (default 10); prints the handles, GDI objects and private
# bytes at the start, middle and end, then checks that nothing crashed, that they stayed flat
# and that every recording reads back. scripts/soak.sh --minutes 2 is the short form that
# scripts/test.sh runs. Runs in an Xvfb of its own with a window manager when there is no
# display.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
scripts/build.sh win64 korvane-tv korvane-probe testbed testbed_data >/dev/null
exec python3 tools/drive/soak.py "$@"
