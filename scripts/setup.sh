#!/bin/bash
# Installs the Debian packages the project needs; only the missing ones, so a second run
# is quick. Needs root (or sudo) on a Debian 12 machine.
set -euo pipefail

PACKAGES=(
    cmake ninja-build g++ clang libclang-rt-14-dev llvm pkg-config
    g++-mingw-w64-x86-64-posix gcc-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64 mingw-w64-tools
    googletest libgtest-dev libgmock-dev libbenchmark-dev libdvbpsi-dev
    wine wine64 xvfb xauth x11-utils imagemagick ffmpeg fonts-dejavu-core util-linux
    openbox wmctrl xdotool
    nsis python3 dpkg-dev nasm
)

missing=()
for p in "${PACKAGES[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
        missing+=("$p")
    fi
done

if [ ${#missing[@]} -gt 0 ]; then
    echo "Installing: ${missing[*]}"
    SUDO=""
    [ "$(id -u)" -eq 0 ] || SUDO="sudo"
    export DEBIAN_FRONTEND=noninteractive
    $SUDO apt-get update -qq
    $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi

# The testbed's decoders are built from Debian's own ffmpeg source package
# (scripts/build_libavcodec.sh), fetched with apt-get source: it needs source entries.
DEB_SRC=/etc/apt/sources.list.d/korvane-deb-src.sources
if ! apt-get source --print-uris ffmpeg >/dev/null 2>&1; then
    SUDO=""
    [ "$(id -u)" -eq 0 ] || SUDO="sudo"
    if [ ! -f "$DEB_SRC" ]; then
        echo "Adding Debian source entries: $DEB_SRC"
        $SUDO tee "$DEB_SRC" >/dev/null <<'SOURCES'
Types: deb-src
URIs: http://deb.debian.org/debian
Suites: bookworm bookworm-updates
Components: main
Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg

Types: deb-src
URIs: http://deb.debian.org/debian-security
Suites: bookworm-security
Components: main
Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg
SOURCES
    fi
    $SUDO apt-get update -qq
fi
