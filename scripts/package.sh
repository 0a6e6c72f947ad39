#!/bin/bash
# Builds what Windows users download, into build/win64/dist/ (BUILD_ROOT chooses the root):
# the per-user installer korvane-tv-<version>-setup.exe and the portable archive
# korvane-tv-<version>-win64.zip. Two runs on the same commit give the same bytes: every date
# inside is the commit's (or SOURCE_DATE_EPOCH's, when set).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
scripts/build.sh win64 package
