#!/bin/bash
# Benchmark of the whole program under Wine on the demo city (not a test: it prints figures
# and the machine's load, and asserts nothing): scan time against the tables' first arrival,
# zap latency to the PMT section and to the picture, CPU time playing and recording a 30 Mbit/s
# multiplex, private memory after --memory-minutes (default 10).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
scripts/build.sh win64 korvane-tv korvane-probe testbed testbed_data >/dev/null
exec python3 tools/drive/bench.py "$@"
