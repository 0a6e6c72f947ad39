#!/bin/bash
# Builds the Windows program if needed and runs it under Wine in build/run (its own working
# directory, with the data files beside it). Without a display it runs inside an Xvfb of its
# own, saves a screenshot of the screen once the main window is up, prints the picture's
# path and closes the program the way a user would.
set -euo pipefail
cd "$(dirname "$0")/.."
repo="$(pwd)"
scripts/setup.sh
root="${BUILD_ROOT:-build}"
scripts/build.sh win64 korvane-tv
tree="$(cd "$root/win64" && pwd)"
run_dir="$(mkdir -p "$root/run" && cd "$root/run" && pwd)"
if [ -d "$repo/data" ]; then
    find "$repo/data" -maxdepth 1 -type f -exec cp -u {} "$run_dir/" \;
fi
wine_run="$tree/wine-run.sh"
program="$tree/korvane-tv.exe"

if [ -n "${DISPLAY:-}" ]; then
    cd "$run_dir"
    exec "$wine_run" "$program"
fi

display=""
for n in $(seq 90 140); do
    if [ ! -e "/tmp/.X$n-lock" ] && [ ! -e "/tmp/.X11-unix/X$n" ]; then
        display=":$n"
        break
    fi
done
[ -n "$display" ] || { echo "run.sh: no free X display number" >&2; exit 1; }
Xvfb "$display" -screen 0 1280x1024x24 -nolisten tcp >/dev/null 2>&1 &
xvfb_pid=$!
program_pid=""
cleanup() {
    if [ -n "$program_pid" ] && kill -0 "$program_pid" 2>/dev/null; then
        kill "$program_pid" 2>/dev/null || true
    fi
    # Wine's own processes leave the display before it goes away.
    WINEPREFIX="$tree/wine/prefix" timeout 15 wineserver -w 2>/dev/null || true
    kill "$xvfb_pid" 2>/dev/null || true
    wait "$xvfb_pid" 2>/dev/null || true
}
trap cleanup EXIT
export DISPLAY="$display"
for _ in $(seq 100); do
    [ -e "/tmp/.X11-unix/X${display#:}" ] && break
    sleep 0.1
done

(cd "$run_dir" && exec "$wine_run" "$program") &
program_pid=$!

# The first run also creates the Wine prefix, which takes a while.
found=""
for _ in $(seq 600); do
    if xwininfo -root -tree 2>/dev/null | grep -q '"Korvane TV": ("korvane-tv.exe"'; then
        found=yes
        break
    fi
    kill -0 "$program_pid" 2>/dev/null || break
    sleep 0.5
done
if [ -z "$found" ]; then
    echo "run.sh: the main window did not appear" >&2
    exit 1
fi
sleep 2
shot="$run_dir/screenshot-$(date +%Y%m%d-%H%M%S).png"
import -display "$display" -window root "$shot"
echo "$shot"

# A close request to every window of the program, as from the task bar.
(cd "$run_dir" && "$wine_run" taskkill /im korvane-tv.exe >/dev/null 2>&1) || true
for _ in $(seq 300); do
    kill -0 "$program_pid" 2>/dev/null || break
    sleep 0.1
done
if kill -0 "$program_pid" 2>/dev/null; then
    echo "run.sh: the program did not close; stopping it" >&2
    exit 1
fi
status=0
wait "$program_pid" || status=$?
program_pid=""
echo "korvane-tv.exe ended with exit code $status"
