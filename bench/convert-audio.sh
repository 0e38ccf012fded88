#!/usr/bin/env bash
# Audio conversion against the lame command line on the same input.
#
# Converts a generated 5-minute 44.1 kHz stereo WAV through ConvertAudio (the
# routine import's path: copy, FFmpeg decode to PCM, libmp3lame encode) and
# encodes the same WAV with `lame -h -b 128 --cbr --nores -t`, the encoder alone
# with our settings; prints the ratio ours/lame. Then converts a 60-minute input
# and prints the peak resident memory of the converting process.
# Usage: bench/convert-audio.sh [BUILD_DIR]   (default build/release, else build/default)
set -euo pipefail
cd "$(dirname "$0")/.."

build=${1:-}
if [ -z "$build" ]; then
  build=build/default
  [ -x build/release/bench/convert_audio_bench ] && build=build/release
fi
bench="$build/bench/convert_audio_bench"
[ -x "$bench" ] || { echo "build $bench first (cmake --build --preset default --target convert_audio_bench)" >&2; exit 1; }

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# A chord with a slow sweep and some noise, so the encoder has real work to do.
make_wav() {  # SECONDS OUT
  sox -q -n -r 44100 -c 2 -b 16 "$2" synth "$1" sine 220-880 sine 330 pinknoise \
    remix 1,3 2,3 gain -6
}

make_wav 300 "$work/five.wav"

# Wall and CPU seconds of one command: "REAL USER SYS" into OUT.time, its
# output into OUT.txt.
timed() {  # OUT COMMAND...
  local out=$1; shift
  local TIMEFORMAT='%3R %3U %3S'
  { time "$@" >"$out.txt"; } 2>"$out.time"
}

# Three alternating runs each; the fastest of each side counts, which keeps
# other load on the machine out of the ratio as far as it can be.
for run in 1 2 3; do
  timed "$work/ours$run" "$bench" "$work/five.wav"
  timed "$work/lame$run" lame --quiet -h -b 128 --cbr --nores -t "$work/five.wav" "$work/lame.mp3"
done
cp "$work/ours1.txt" "$work/ours.txt"

awk 'function min(a, b) { return a == "" || b < a ? b : a }
     FILENAME ~ /\/ours[0-9].time$/ { ours_real = min(ours_real, $1); ours_cpu = min(ours_cpu, $2 + $3) }
     FILENAME ~ /\/lame[0-9].time$/ { lame_real = min(lame_real, $1); lame_cpu = min(lame_cpu, $2 + $3) }
     END {
       printf "convert 5 min 44.1 kHz stereo WAV (best of 3): ours %.2f s wall / %.2f s cpu, lame %.2f s wall / %.2f s cpu\n",
         ours_real, ours_cpu, lame_real, lame_cpu
       printf "ours/lame: wall %.3f, cpu %.3f (goal <= 1.1)\n", ours_real / lame_real, ours_cpu / lame_cpu
     }' "$work"/ours?.time "$work"/lame?.time
printf 'mp3 bytes: ours %s, lame %s\n' "$(awk '/mp3_bytes/ {print $2}' "$work/ours.txt")" \
  "$(stat -c %s "$work/lame.mp3")"

rm -f "$work/five.wav" "$work/lame.mp3"
make_wav 3600 "$work/sixty.wav"
"$bench" "$work/sixty.wav" >"$work/ours60.txt"
rss=$(awk '/peak_rss_kb/ {print $2}' "$work/ours60.txt")
awk -v kb="$rss" -v s="$(awk '/seconds/ {print $2}' "$work/ours60.txt")" 'BEGIN {
  printf "convert 60 min WAV: peak resident memory %.1f MB (limit 100 MB), %.1f s\n", kb / 1024, s }'
