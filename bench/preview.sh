#!/usr/bin/env bash
# The preview of a 60-minute routine (MP3 of the disk's kind, stored unchanged,
# with MiniSSC control data) on a disk image: when its first waveform columns
# are out, and its one decoding pass against `ffmpeg -v error -f null -`
# decoding the same MP3 (build/…/bench/preview_bench prints both).
#
#   bench/preview.sh [BUILD_DIR] [WORK_DIR] [MINUTES]     (RUNS, default 3)
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build/default}
work=${2:-$build}
minutes=${3:-60}
ctl=$build/tools/vorn3ctl
bench=$build/bench/preview_bench
[ -x "$ctl" ] && [ -x "$bench" ] || { echo "build vorn3ctl and preview_bench first" >&2; exit 1; }
command -v ffmpeg >/dev/null || { echo "needs ffmpeg" >&2; exit 1; }

dir=$(mktemp -d "$work/preview-bench.XXXXXX")
trap 'rm -rf "$dir"' EXIT

ffmpeg -v error -f lavfi -i "anoisesrc=d=$((minutes * 60)):a=0.3:c=pink" -ac 2 -ar 44100 \
  -c:a libmp3lame -b:a 128k -write_xing 0 "$dir/a.mp3"
python3 -c "
frames = $minutes * 60 * 50
out = bytearray()
for f in range(frames):
    out += bytes([255, 0, f % 255, 255, 1, 254 - f % 255])
open('$dir/a.bin', 'wb').write(out)
"
"$ctl" make-routine "$dir/a.vorn" --audio "$dir/a.mp3" --data "$dir/a.bin" --title Hour >/dev/null
"$ctl" create-image "$dir/disk.img" --size $((minutes + 8))M >/dev/null
"$ctl" format "$dir/disk.img" --yes >/dev/null
"$ctl" add "$dir/disk.img" "$dir/a.vorn" --yes >/dev/null
cat "$dir/disk.img" "$dir/a.mp3" >/dev/null  # both from the page cache
"$bench" "$dir/disk.img" 1 "$dir/a.mp3"
