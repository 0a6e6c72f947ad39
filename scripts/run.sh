#!/bin/bash
# Shows the program on the testbed's demo city "Démoville": installs what is missing, builds
# the program, the testbed (registered in the build tree's own Wine prefix), its decoders and
# the demo multiplexes, then starts korvane-tv.exe in build/run, its own working folder, with
# a config.ini naming the testbed's USB tuner, its decoders and the city.
# With a display the program is left running for you. Without one it runs in an Xvfb of its
# own with a window manager, scans at its first start, plays a channel, saves a screenshot of
# its window, prints its path and that of chaines.xml, and is closed like a user would. A
# second run reuses the build and the scan.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
scripts/build.sh win64 korvane-tv korvane-probe testbed testbed_data
exec python3 tools/drive/demo.py "$@"
