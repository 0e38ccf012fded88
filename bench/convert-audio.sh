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

. bench/audio-bench-common.sh
bench=$(find_bench convert_audio_bench "${1:-}")

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

make_wav 300 "$work/five.wav"

# Three alternating runs each; the fastest of each side counts, which keeps
# other load on the machine out of the ratio as far as it can be.
for run in 1 2 3; do
  timed "$work/ours$run" "$bench" "$work/five.wav"
  timed "$work/lame$run" lame --quiet -h -b 128 --cbr --nores -t "$work/five.wav" "$work/lame.mp3"
done
cp "$work/ours1.txt" "$work/ours.txt"

print_best_ratio "$work" "convert 5 min 44.1 kHz stereo WAV" "goal <= 0.55 wall on 2 cores"
printf 'mp3 bytes: ours %s, lame %s\n' "$(awk '/mp3_bytes/ {print $2}' "$work/ours.txt")" \
  "$(stat -c %s "$work/lame.mp3")"

rm -f "$work/five.wav" "$work/lame.mp3"
make_wav 3600 "$work/sixty.wav"
"$bench" "$work/sixty.wav" >"$work/ours60.txt"
rss=$(awk '/peak_rss_kb/ {print $2}' "$work/ours60.txt")
awk -v kb="$rss" -v s="$(awk '/seconds/ {print $2}' "$work/ours60.txt")" 'BEGIN {
  printf "convert 60 min WAV: peak resident memory %.1f MB (limit 100 MB), %.1f s\n", kb / 1024, s }'
