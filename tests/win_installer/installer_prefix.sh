#!/bin/bash
# The installer tests' own Wine prefix under ROOT:
#   installer_prefix.sh make ROOT WINE_RUNNER   made afresh by the build tree's runner, with a
#                                               server that stays up between the tests
#   installer_prefix.sh stop ROOT               that server and its processes end
set -euo pipefail
action="$1"
root="$2"
export WINEPREFIX="$root/prefix"
stop() {
    if [ -d "$WINEPREFIX" ]; then
        wineserver -k 2>/dev/null || true
        wineserver -w 2>/dev/null || true
    fi
}
case "$action" in
make)
    stop
    rm -rf "$root"
    KORVANE_WINE_ROOT="$root" "$3" cmd.exe /c exit 0 </dev/null >/dev/null 2>&1
    test -f "$WINEPREFIX/.korvane-ready"
    # One server for all the tests: a server that ends between two of them can refuse the
    # next one's connection while it shuts down. The one that made the prefix ends first
    # (saving the registry); the new one and Wine's system processes, started here detached
    # from any test's output, stay up to ten minutes after the last test, unless stopped.
    wineserver -w
    wineserver -p600 </dev/null >/dev/null 2>&1
    KORVANE_WINE_ROOT="$root" "$3" cmd.exe /c exit 0 </dev/null >/dev/null 2>&1
    ;;
stop) stop ;;
*) exit 2 ;;
esac
