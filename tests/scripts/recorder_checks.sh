#!/bin/bash
# Records a generated transport stream in the three forms with ts-inspect and checks the
# results with tools that share no code with the recorder: ffprobe/ffmpeg, od and awk.
# usage: recorder_checks.sh TS_INSPECT WORK_DIR MUXGEN SCENARIO
set -uo pipefail
tool="$1"
work="$2"
muxgen="$3"
scenario="$4"
mkdir -p "$work"
cd "$work" || exit 1

passed=0
failed=0
check() { # name, then a command that must succeed
    local name="$1"
    shift
    if "$@"; then
        passed=$((passed + 1))
        echo "PASS $name"
    else
        failed=$((failed + 1))
        echo "FAIL $name"
    fi
}

# 4 s of MPEG-2 video (PCR on its PID), MPEG-1 Layer II and AC-3, padded with null packets
# to a constant rate. PMT 0x100, video 0x120, MP2 0x121, AC-3 0x122.
ffmpeg -v error -y -f lavfi -i testsrc=size=320x240:rate=25 \
    -f lavfi -i sine=frequency=440:sample_rate=48000 -f lavfi -i sine=frequency=880:sample_rate=48000 \
    -t 4 -map 0:v -map 1:a -map 2:a -c:v mpeg2video -b:v 1M -g 12 -c:a:0 mp2 -c:a:1 ac3 \
    -f mpegts -mpegts_pmt_start_pid 0x100 -mpegts_start_pid 0x120 -muxrate 3M in.ts || exit 1

# One line of decimal bytes per 188-byte packet.
packets() { od -An -v -tu1 -w188 "$1"; }
pid_list() { packets "$1" | awk '{ print ($2 % 32) * 256 + $3 }' | sort -un | tr '\n' ' '; }
duration() { ffprobe -v error -show_entries format=duration -of csv=p=0 "$1"; }
# Codecs of the streams that have packets (a PMT may list streams that were not kept).
streams() {
    ffprobe -v error -count_packets -show_entries stream=codec_name,nb_read_packets -of csv=p=0 "$1" |
        awk -F, '$2 + 0 > 0 { print $1 }' | sort -u | tr '\n' ' '
}
near() { awk -v a="$1" -v b="$2" 'BEGIN { d = a - b; if (d < 0) d = -d; exit !(a > 0 && d < 0.15) }'; }

in_duration=$(duration in.ts)

# Multiplex: the input without its null packets, whatever the buffer cuts.
packets in.ts | awk '!($2 % 32 == 31 && $3 == 255)' >expected-mux.txt
"$tool" record --mode mux in.ts mux.ts >/dev/null
"$tool" record --mode mux --buffer 1000 --random-splits 3 in.ts mux-split.ts >/dev/null
check "multiplex equals the input minus null packets" cmp -s <(packets mux.ts) expected-mux.txt
check "multiplex does not depend on buffer cuts" cmp -s mux.ts mux-split.ts

# Channel TS: exactly the PAT, the PMT, the video and the chosen audio.
"$tool" record --mode ts --pmt 0x100 --video 0x120 --audio 0x121 in.ts chan.ts >/dev/null
"$tool" record --mode ts --pmt 0x100 --video 0x120 --audio 0x121 --buffer 500 --random-splits 9 \
    in.ts chan-split.ts >/dev/null
check "channel TS holds PIDs 0, PMT, video, audio" test "$(pid_list chan.ts)" = "0 256 288 289 "
check "channel TS is whole packets" test $(($(stat -c %s chan.ts) % 188)) -eq 0
check "channel TS does not depend on buffer cuts" cmp -s chan.ts chan-split.ts
check "channel TS reads as video and MP2" test "$(streams chan.ts)" = "mp2 mpeg2video "

# Channel PS: an MPEG program stream with both streams lasting as long as the input.
for audio in 0x121:mp2 0x122:ac3; do
    pid=${audio%%:*}
    codec=${audio##*:}
    "$tool" record --mode ps --video 0x120 --audio "$pid" in.ts "chan-$codec.mpg" >/dev/null
    "$tool" record --mode ps --video 0x120 --audio "$pid" --buffer 300 --random-splits 4 \
        in.ts "chan-$codec-split.mpg" >/dev/null
    format=$(ffprobe -v error -show_entries format=format_name -of csv=p=0 "chan-$codec.mpg")
    check "PS with $codec is read as MPEG-PS" test "$format" = "mpeg"
    check "PS with $codec holds video and $codec" test "$(streams "chan-$codec.mpg")" = \
        "$(echo "$codec mpeg2video" | tr ' ' '\n' | sort | tr '\n' ' ')"
    check "PS with $codec lasts as the input ($in_duration s)" near "$(duration "chan-$codec.mpg")" \
        "$in_duration"
    check "PS with $codec starts with a pack header" \
        test "$(od -An -tx1 -N4 "chan-$codec.mpg" | tr -d ' ')" = "000001ba"
    check "PS with $codec decodes without error" \
        test -z "$(ffmpeg -v error -i "chan-$codec.mpg" -f null - 2>&1)"
    check "PS with $codec does not depend on buffer cuts" cmp -s "chan-$codec.mpg" \
        "chan-$codec-split.mpg"
done

# Channel PS of channels whose PCR comes without payload (muxgen's multiplexes): in
# adaptation-only packets of the video PID, or on a PCR PID of its own.
"$muxgen" -o muxgen --cache es-cache "$scenario" >/dev/null || exit 1
mux_duration=$(duration muxgen/474167.ts)
for channel in 0x120:0x130:0x120:mp2 0x220:0x233:0x1F0:ac3; do
    IFS=: read -r video pid pcr codec <<<"$channel"
    out="pcr-$pcr.mpg"
    "$tool" record --mode ps --video "$video" --audio "$pid" --pcr "$pcr" muxgen/474167.ts \
        "$out" >/dev/null
    format=$(ffprobe -v error -show_entries format=format_name -of csv=p=0 "$out")
    check "PS with the PCR on $pcr is read as MPEG-PS" test "$format" = "mpeg"
    check "PS with the PCR on $pcr holds video and $codec" test "$(streams "$out")" = \
        "$(echo "$codec mpeg2video" | tr ' ' '\n' | sort | tr '\n' ' ')"
    check "PS with the PCR on $pcr lasts as the multiplex ($mux_duration s)" \
        near "$(duration "$out")" "$mux_duration"
    check "PS with the PCR on $pcr starts with a pack header" \
        test "$(od -An -tx1 -N4 "$out" | tr -d ' ')" = "000001ba"
    check "PS with the PCR on $pcr decodes without error" \
        test -z "$(ffmpeg -v error -i "$out" -f null - 2>&1)"
done

# A channel as broadcast today: H.264 pictures with E-AC-3 sound, every frame (random noise)
# larger than 256 KB. PMT 0x100, H.264 0x120, E-AC-3 0x121.
ffmpeg -v error -y -f lavfi -i "nullsrc=s=720x576:r=25,geq=random(1)*255:128:128" \
    -f lavfi -i sine=frequency=440:sample_rate=48000 -t 2 -map 0:v -map 1:a \
    -c:v libx264 -preset ultrafast -qp 20 -g 12 -c:a eac3 -b:a 192k \
    -f mpegts -mpegts_pmt_start_pid 0x100 -mpegts_start_pid 0x120 -muxrate 40M h264.ts || exit 1
h264_duration=$(duration h264.ts)
# The size of every video frame, in order, as ffprobe reads them.
frame_sizes() {
    ffprobe -v error -select_streams v -show_entries packet=size -of csv=p=0 "$1" |
        awk -F, '$1 != "" { print $1 }'
}
frame_sizes h264.ts >h264-frames.txt
largest=$(sort -n h264-frames.txt | tail -1)
check "the H.264 source has frames larger than 256 KB ($largest bytes)" test "$largest" -gt 262144

"$tool" record --mode ts --pmt 0x100 --video 0x120 --audio 0x121 h264.ts h264-chan.ts >/dev/null
check "H.264 channel TS holds PIDs 0, PMT, video, E-AC-3" \
    test "$(pid_list h264-chan.ts)" = "0 256 288 289 "
check "H.264 channel TS reads as H.264 and E-AC-3" test "$(streams h264-chan.ts)" = "eac3 h264 "
check "H.264 channel TS keeps every frame whole" cmp -s <(frame_sizes h264-chan.ts) h264-frames.txt

"$tool" record --mode ps --video 0x120 --audio 0x121 --video-codec h264 --audio-codec eac3 \
    h264.ts h264-chan.mpg >/dev/null
"$tool" record --mode ps --video 0x120 --audio 0x121 --video-codec h264 --audio-codec eac3 \
    --buffer 700 --random-splits 5 h264.ts h264-chan-split.mpg >/dev/null
format=$(ffprobe -v error -show_entries format=format_name -of csv=p=0 h264-chan.mpg)
check "H.264 PS is read as MPEG-PS" test "$format" = "mpeg"
check "H.264 PS holds H.264 and E-AC-3" test "$(streams h264-chan.mpg)" = "eac3 h264 "
check "H.264 PS lasts as the input ($h264_duration s)" \
    near "$(duration h264-chan.mpg)" "$h264_duration"
for kind in v a; do
    source_length=$(ffprobe -v error -select_streams $kind -show_entries packet=duration_time \
        -of csv=p=0 h264.ts | awk -F, '{ s += $1 } END { print s }')
    recorded_length=$(ffprobe -v error -select_streams $kind -show_entries packet=duration_time \
        -of csv=p=0 h264-chan.mpg | awk -F, '{ s += $1 } END { print s }')
    check "H.264 PS stream $kind lasts as in the input ($source_length s)" \
        near "$recorded_length" "$source_length"
done
check "H.264 PS keeps every frame whole" cmp -s <(frame_sizes h264-chan.mpg) h264-frames.txt
check "H.264 PS decodes without error" test -z "$(ffmpeg -v error -i h264-chan.mpg -f null - 2>&1)"
check "H.264 PS does not depend on buffer cuts" cmp -s h264-chan.mpg h264-chan-split.mpg

# An output that cannot be created is a failure, not a success.
check "unwritable output is reported" \
    bash -c '! "$0" record --mode mux in.ts no-such-folder/out.ts >/dev/null 2>&1' "$tool"

echo "recorder checks: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
