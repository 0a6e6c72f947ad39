#!/bin/bash
# Builds both trees and runs every test: native unit tests (ASan/UBSan), ThreadSanitizer
# tests, bounded fuzz runs, then the Windows tests under Wine inside Xvfb.
set -uo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh || exit 1
root="${BUILD_ROOT:-build}"
start=$(date +%s)
logs="$root/test-logs"
mkdir -p "$logs"

scripts/build.sh native || exit 1
scripts/build.sh win64 || exit 1

status=0
ctest --test-dir "$root/native" -j2 --output-on-failure 2>&1 | tee "$logs/native.log"
[ "${PIPESTATUS[0]}" -eq 0 ] || status=1
xvfb-run -a -s "-screen 0 1280x1024x24" \
    ctest --test-dir "$root/win64" -j2 --output-on-failure --timeout 240 2>&1 | tee "$logs/win64.log"
[ "${PIPESTATUS[0]}" -eq 0 ] || status=1
# The soak run's short form: the program on the demo city, zapping, recording and opening its
# dialogs for a minute and a half, in an Xvfb of its own (scripts/soak.sh runs the long form).
env -u DISPLAY python3 tools/drive/soak.py --minutes 1.5 2>&1 | tee "$logs/soak.log"
soak_status=${PIPESTATUS[0]}
# The Wine servers of the build tree's prefixes linger after their last program; stop them.
for prefix in "$(cd "$root" && pwd)"/win64/wine*/prefix; do
    [ -d "$prefix" ] && WINEPREFIX="$prefix" wineserver -k 2>/dev/null || true
done

# One closing line over both trees.
passed=0
failed=0
for log in "$logs/native.log" "$logs/win64.log"; do
    line=$(grep -E 'tests passed, [0-9]+ tests failed out of [0-9]+' "$log" | tail -1)
    total=$(echo "$line" | sed -E 's/.*out of ([0-9]+).*/\1/')
    bad=$(echo "$line" | sed -E 's/.*tests passed, ([0-9]+) tests failed.*/\1/')
    if [ -z "$total" ]; then
        grep -q 'No tests were found' "$log" || status=1
        continue
    fi
    passed=$((passed + total - bad))
    failed=$((failed + bad))
done
if [ "$soak_status" -eq 0 ]; then
    passed=$((passed + 1))
else
    failed=$((failed + 1))
fi
echo "Test run took $(( $(date +%s) - start )) s"
echo "all: $passed passed, $failed failed"
[ "$failed" -eq 0 ] || status=1
exit $status
