#!/bin/bash
# Times the recorder's three forms on a generated 30 Mbit/s multiplex against a plain copy of
# the same bytes and against ffmpeg remuxing the same channel to MPEG-PS, all on tmpfs, then
# runs the in-memory and tmpfs benchmarks of core_bench.
# usage: bench/recorder_compare.sh [NATIVE_BUILD_DIR]   (default build/native)
set -euo pipefail
build="$(realpath "${1:-build/native}")"
tool="$build/ts-inspect"
bench="$build/core_bench"
work=/dev/shm/korvane-recorder-compare
runs=5
mkdir -p "$work"
cd "$work"

# One channel (5 Mbit/s MPEG-2 video with its PCR, 192 kbit/s MP2), copied into five programs
# of a 30 Mbit/s multiplex. Program 1: PMT 0x100, video 0x200, audio 0x201.
if [ ! -f mux.ts ]; then
    ffmpeg -v error -y -f lavfi -i testsrc=size=720x576:rate=25 -f lavfi -i sine=frequency=440 \
        -t 20 -c:v mpeg2video -b:v 5M -minrate 5M -maxrate 5M -bufsize 1835k -g 12 \
        -c:a mp2 -b:a 192k -f mpegts channel.ts
    maps=()
    programs=()
    ids=()
    for p in 0 1 2 3 4; do
        maps+=(-map 0:v -map 0:a)
        programs+=(-program "program_num=$((p + 1)):st=$((2 * p)):st=$((2 * p + 1))")
        ids+=(-streamid "$((2 * p)):$((0x200 + 2 * p))" -streamid "$((2 * p + 1)):$((0x201 + 2 * p))")
    done
    ffmpeg -v error -y -i channel.ts "${maps[@]}" "${programs[@]}" "${ids[@]}" -c copy \
        -mpegts_pmt_start_pid 0x100 -muxrate 30M -f mpegts mux.ts
fi
size=$(stat -c %s mux.ts)
seconds=$(ffprobe -v error -show_entries format=duration -of csv=p=0 mux.ts)
echo "input: $size bytes, $seconds s, $(awk -v b="$size" -v s="$seconds" 'BEGIN { printf "%.1f", b * 8 / s / 1e6 }') Mbit/s"

# Best wall time of $runs runs, in milliseconds.
best_ms() {
    local best=""
    for _ in $(seq "$runs"); do
        local start end ms
        start=$(date +%s%N)
        "$@" >/dev/null 2>&1
        end=$(date +%s%N)
        ms=$(((end - start) / 1000000))
        if [ -z "$best" ] || [ "$ms" -lt "$best" ]; then best=$ms; fi
    done
    echo "$best"
}

copy=$(best_ms cp mux.ts out-copy.ts)
mux=$(best_ms "$tool" record --mode mux mux.ts out-mux.ts)
ts=$(best_ms "$tool" record --mode ts --pmt 0x100 --video 0x200 --audio 0x201 mux.ts out-ts.ts)
ps=$(best_ms "$tool" record --mode ps --video 0x200 --audio 0x201 mux.ts out-ps.mpg)
ffm=$(best_ms ffmpeg -v error -y -i mux.ts -map 0:i:0x200 -map 0:i:0x201 -c copy -f vob out-ff.mpg)

ratio() { awk -v a="$1" -v b="$2" 'BEGIN { if (b < 1) b = 1; printf "%.2f", a / b }'; }
echo "plain copy (cp):              $copy ms"
echo "multiplex:                    $mux ms   speed vs copy: $(ratio "$copy" "$mux")"
echo "channel TS:                   $ts ms   speed vs copy: $(ratio "$copy" "$ts")"
echo "channel PS:                   $ps ms   speed vs copy: $(ratio "$copy" "$ps")"
echo "ffmpeg -c copy -f vob:        $ffm ms   channel PS is $(ratio "$ffm" "$ps") times faster"
ls -l out-*.ts out-*.mpg | awk '{ print "  " $5 "\t" $9 }'
rm -f out-*

if [ -x "$bench" ]; then
    "$bench" --benchmark_filter='BM_Record' --benchmark_min_time=1
fi
