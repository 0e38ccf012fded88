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

. bench/audio-bench-common.sh
bench=$(find_bench mp3_encoder_bench "${1:-}")

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

make_wav 300 "$work/in.wav"

for run in 1 2 3; do
  timed "$work/ours$run" "$bench" "$work/in.wav" "$work/ours.mp3"
  timed "$work/lame$run" lame --quiet -h -b 128 --cbr --nores -t "$work/in.wav" "$work/lame.mp3"
done

print_best_ratio "$work" "encode 5 min 44.1 kHz stereo WAV"
if cmp -s "$work/ours.mp3" "$work/lame.mp3"; then same=yes; else same=no; fi
printf 'mp3 bytes: ours %s, lame %s; identical: %s\n' "$(stat -c %s "$work/ours.mp3")" \
  "$(stat -c %s "$work/lame.mp3")" "$same"
