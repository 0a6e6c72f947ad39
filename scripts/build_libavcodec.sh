#!/bin/bash
# Builds a minimal, static, LGPL libavcodec (and the libavutil it needs) from Debian's own
# ffmpeg source package, once per machine and recipe: the result is cached under
#   ${XDG_CACHE_HOME:-$HOME/.cache}/korvane/libavcodec-<source version>-win64-<recipe>
# for the testbed's decoders (cross-compiled for Win64), and under
#   ${XDG_CACHE_HOME:-$HOME/.cache}/korvane/libavcodec-dvbsub-<source version>-<target>-<recipe>
# for the program's DVB subtitle decoder (target win64 for the program, native for the native
# tests and fuzzers), with include/, lib/ and COPYING.LGPLv2.1 (the licence the program ships),
# so that another clone on the same machine finds it built.
#   scripts/build_libavcodec.sh [--subtitles [--target win64|native]] [--print-prefix]
#     builds it unless cached and prints the folder; with --print-prefix only prints the folder
#     (nothing is built); --print-version prints the source package's version.
# Needs the deb-src entries, dpkg-dev and nasm that scripts/setup.sh installs.
set -euo pipefail

# Only what the testbed's decoders use: their decoders and parsers, nothing else.
CONFIGURE_OPTIONS=(
    --arch=x86_64 --target-os=mingw32 --cross-prefix=x86_64-w64-mingw32-
    --cc=x86_64-w64-mingw32-gcc-posix --enable-cross-compile
    --enable-static --disable-shared --disable-programs --disable-doc --disable-debug
    --disable-network --disable-devices --disable-avdevice --disable-avformat --disable-avfilter
    --disable-swresample --disable-swscale --disable-postproc --disable-autodetect
    --enable-w32threads --disable-everything
    --enable-decoder=mpeg2video,mp2,mp3,ac3,eac3,h264
    --enable-parser=mpegvideo,mpegaudio,ac3,h264
)

# The program's: the DVB subtitle decoder alone, without threads or assembly (it uses neither).
SUBTITLE_OPTIONS=(
    --enable-static --disable-shared --disable-programs --disable-doc --disable-debug
    --disable-network --disable-devices --disable-avdevice --disable-avformat --disable-avfilter
    --disable-swresample --disable-swscale --disable-postproc --disable-autodetect
    --disable-pthreads --disable-w32threads --disable-os2threads --disable-asm
    --disable-everything --enable-decoder=dvbsub
)
SUBTITLE_WIN64_OPTIONS=(
    --arch=x86_64 --target-os=mingw32 --cross-prefix=x86_64-w64-mingw32-
    --cc=x86_64-w64-mingw32-gcc-posix --enable-cross-compile
)
# Static libraries that the native tests' position-independent executables can link.
SUBTITLE_NATIVE_OPTIONS=(--cc=gcc --enable-pic)

source_version() {
    # The .dsc that apt-get source would fetch names the version (without its epoch).
    local dsc
    dsc=$(apt-get source --print-uris ffmpeg 2>/dev/null | awk '$2 ~ /\.dsc$/ { print $2; exit }')
    if [ -z "$dsc" ]; then
        echo "build_libavcodec: no ffmpeg source package known to apt; run scripts/setup.sh" >&2
        return 1
    fi
    dsc=${dsc#ffmpeg_}
    echo "${dsc%.dsc}"
}

subtitles=no
target=win64
action=build
while [ $# -gt 0 ]; do
    case "$1" in
    --subtitles) subtitles=yes ;;
    --target)
        target=${2:-}
        shift
        ;;
    --print-prefix) action=print-prefix ;;
    --print-version) action=print-version ;;
    *)
        echo "build_libavcodec: unknown argument $1" >&2
        exit 2
        ;;
    esac
    shift
done

version=$(source_version)
if [ "$action" = print-version ]; then
    echo "$version"
    exit 0
fi
cache_root="${XDG_CACHE_HOME:-$HOME/.cache}/korvane"
if [ "$subtitles" = yes ]; then
    case "$target" in
    win64) CONFIGURE_OPTIONS=("${SUBTITLE_OPTIONS[@]}" "${SUBTITLE_WIN64_OPTIONS[@]}") ;;
    native) CONFIGURE_OPTIONS=("${SUBTITLE_OPTIONS[@]}" "${SUBTITLE_NATIVE_OPTIONS[@]}") ;;
    *)
        echo "build_libavcodec: unknown target $target (win64 or native)" >&2
        exit 2
        ;;
    esac
    recipe=$(printf '%s\n' "${CONFIGURE_OPTIONS[@]}" | sha256sum | cut -c1-8)
    prefix="$cache_root/libavcodec-dvbsub-$version-$target-$recipe"
else
    [ "$target" = win64 ] || { echo "build_libavcodec: the testbed's recipe is win64 only" >&2; exit 2; }
    recipe=$(printf '%s\n' "${CONFIGURE_OPTIONS[@]}" | sha256sum | cut -c1-8)
    prefix="$cache_root/libavcodec-$version-win64-$recipe"
fi

if [ "$action" = print-prefix ]; then
    echo "$prefix"
    exit 0
fi

mkdir -p "$cache_root"
# Two trees building at once wait for each other rather than both building.
exec 9>"$prefix.lock"
flock 9
if [ -f "$prefix/lib/libavcodec.a" ] && [ -f "$prefix/lib/libavutil.a" ] &&
    { [ "$subtitles" = no ] || [ -f "$prefix/COPYING.LGPLv2.1" ]; }; then
    echo "$prefix"
    exit 0
fi

start=$(date +%s)
work=$(mktemp -d "$cache_root/libavcodec-build.XXXXXX")
trap 'rm -rf "$work"' EXIT
echo "build_libavcodec: fetching ffmpeg $version sources" >&2
(cd "$work" && apt-get source -qq ffmpeg >"$work/source.log" 2>&1) ||
    { tail -20 "$work/source.log" >&2; exit 1; }
src=$(find "$work" -mindepth 1 -maxdepth 1 -type d -name 'ffmpeg-*' | head -1)
[ -n "$src" ] || { echo "build_libavcodec: apt-get source gave no source tree" >&2; exit 1; }

staging="$work/install"
echo "build_libavcodec: configuring and building in $src" >&2
(
    cd "$src"
    ./configure --prefix="$staging" "${CONFIGURE_OPTIONS[@]}" >"$work/configure.log" 2>&1 ||
        { tail -30 "$work/configure.log" >&2; exit 1; }
    make -j"$(nproc)" >"$work/make.log" 2>&1 || { tail -30 "$work/make.log" >&2; exit 1; }
    make install >>"$work/make.log" 2>&1
)
# The program's build ships the licence its library is under.
[ "$subtitles" = no ] || cp "$src/COPYING.LGPLv2.1" "$staging/"
# Appears complete or not at all.
rm -rf "$prefix"
mv "$staging" "$prefix"
echo "build_libavcodec: built in $(($(date +%s) - start)) s" >&2
echo "$prefix"
