#!/bin/bash
# Configures and builds one tree: scripts/build.sh native|win64 [target...]
# BUILD_ROOT (default: build) chooses where the trees live.
set -euo pipefail
cd "$(dirname "$0")/.."
preset="$1"
shift
root="${BUILD_ROOT:-build}"
dir="$root/$preset"
if [ ! -f "$dir/build.ninja" ]; then
    cmake --preset "$preset" -B "$dir" >/dev/null
fi
if [ $# -gt 0 ]; then
    cmake --build "$dir" --target "$@"
else
    cmake --build "$dir"
fi
