#!/usr/bin/env bash
# The MP3 encoder against the lame command line with the same settings.
#
# Encodes a generated 5-minute 44.1 kHz stereo WAV with CMp3Writer (read in the
# conversion driver's 1024-frame pieces) and with `lame -h -b 128 --cbr --nores
# -t`, three alternating runs each, and prints the ratio ours/lame of the best
# wall and CPU times, and whether the two MP3 files are byte for byte the same.
# Usage: bench/mp3-encoder.sh [BUILD_DIR]   (default build/release, else build/default)
set -euo pipefail
cd "$(dirname "$0")/.."

build=${1:-}
if [ -z "$build" ]; then
  build=build/default
  [ -x build/release/bench/mp3_encoder_bench ] && build=build/release
fi
bench="$build/bench/mp3_encoder_bench"
[ -x "$bench" ] || { echo "build $bench first (cmake --build --preset default --target mp3_encoder_bench)" >&2; exit 1; }

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# A chord with a slow sweep and some noise, so the encoder has real work to do.
sox -q -n -r 44100 -c 2 -b 16 "$work/in.wav" synth 300 sine 220-880 sine 330 pinknoise \
  remix 1,3 2,3 gain -6

timed() {  # OUT COMMAND...: "REAL USER SYS" into OUT
  local out=$1; shift
  local TIMEFORMAT='%3R %3U %3S'
  { time "$@" >/dev/null; } 2>"$out"
}

for run in 1 2 3; do
  timed "$work/ours$run.time" "$bench" "$work/in.wav" "$work/ours.mp3"
  timed "$work/lame$run.time" lame --quiet -h -b 128 --cbr --nores -t "$work/in.wav" "$work/lame.mp3"
done

awk 'function min(a, b) { return a == "" || b < a ? b : a }
     FILENAME ~ /\/ours[0-9].time$/ { ours_real = min(ours_real, $1); ours_cpu = min(ours_cpu, $2 + $3) }
     FILENAME ~ /\/lame[0-9].time$/ { lame_real = min(lame_real, $1); lame_cpu = min(lame_cpu, $2 + $3) }
     END {
       printf "encode 5 min 44.1 kHz stereo WAV (best of 3): ours %.2f s wall / %.2f s cpu, lame %.2f s wall / %.2f s cpu\n",
         ours_real, ours_cpu, lame_real, lame_cpu
       printf "ours/lame: wall %.3f, cpu %.3f\n", ours_real / lame_real, ours_cpu / lame_cpu
     }' "$work"/ours?.time "$work"/lame?.time
if cmp -s "$work/ours.mp3" "$work/lame.mp3"; then same=yes; else same=no; fi
printf 'mp3 bytes: ours %s, lame %s; identical: %s\n' "$(stat -c %s "$work/ours.mp3")" \
  "$(stat -c %s "$work/lame.mp3")" "$same"
