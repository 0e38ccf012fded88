#!/usr/bin/env bash
# How the segment encoder's plan was chosen: pre-roll and segment length.
#
# On one minute of music-like audio (plucked notes, noise bursts, a sweep) at
# full level, 45 dB down, faded in and out, and with gaps of digital silence:
# for each pre-roll K, how many frames and seams come out byte for byte as a
# single encoder's (the peer, same process), and the signal-to-noise ratio of
# the decoded result against the source next to the peer's, over the whole and
# in the worst 1-second window. Segments of 49 frames (one padding period, 1.3
# s) put a seam in every window. Then the encoding time of segment lengths
# 98/196/392/784/1568 frames on 2 workers against one encoder (median of 3,
# alternated).
# Usage: bench/segment-plan.sh [BUILD_DIR]
set -euo pipefail
cd "$(dirname "$0")/.."

. bench/audio-bench-common.sh
bench=$(find_bench segment_plan_bench "${1:-}")

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

make_music_wav 60 "$work/loud.wav"
sox -q "$work/loud.wav" "$work/quiet.wav" gain -45
sox -q "$work/loud.wav" "$work/faded.wav" fade t 20 60 20
sox -q -n -r 44100 -c 2 -b 16 "$work/silence.wav" trim 0 3
sox -q "$work/silence.wav" "$work/loud.wav" "$work/silence.wav" "$work/loud.wav" "$work/gaps.wav" trim 0 60

for material in loud quiet faded gaps; do
  echo "== $material"
  "$bench" seams "$work/$material.wav" 49 0 1 2 4 8 16 32
  "$bench" quality "$work/$material.wav" 49 0 2 8 16
done

make_music_wav 300 "$work/five.wav"
for segment in 98 196 392 784 1568; do
  "$bench" time "$work/five.wav" 2 "$segment" 8 3
done
