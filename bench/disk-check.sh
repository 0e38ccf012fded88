#!/usr/bin/env bash
# vorn3ctl check of a disk image holding about MIB MiB of routines (one
# 30-minute MP3 of the disk's kind, stored unchanged, added again and again,
# each with a little MiniSSC control data), against reading the same sectors
# with dd plus decoding the same MP3 with `ffmpeg -v error -f null -`, one
# after the other. Both read from the page cache (the image is read once
# before). Prints seconds of each, best of RUNS, and the ratio (goal <= 1.3),
# and the check's peak resident memory.
#
#   bench/disk-check.sh [BUILD_DIR] [WORK_DIR] [MIB]     (RUNS, default 3)
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build/default}
work=${2:-$build}
mib=${3:-300}
runs=${RUNS:-3}
ctl=$build/tools/vorn3ctl
[ -x "$ctl" ] || { echo "build $ctl first (cmake --build --preset default --target vorn3ctl)" >&2; exit 1; }
command -v ffmpeg >/dev/null || { echo "needs ffmpeg" >&2; exit 1; }

dir=$(mktemp -d "$work/check-bench.XXXXXX")
trap 'rm -rf "$dir"' EXIT

minutes=30
ffmpeg -v error -f lavfi -i "anoisesrc=d=$((minutes * 60)):a=0.3:c=pink" -ac 2 -ar 44100 \
  -c:a libmp3lame -b:a 128k -write_xing 0 "$dir/a.mp3"
# 2 servos at 20 ms over the routine's length.
python3 -c "
import sys
frames = $minutes * 60 * 50
sys.stdout.buffer.write(b''.join(bytes([255, s, f % 255]) for f in range(frames) for s in (0, 1)))" >"$dir/ctl.bin"
"$ctl" make-routine "$dir/r.vorn" --audio "$dir/a.mp3" --data "$dir/ctl.bin" --title bench >/dev/null
routine_mib=$(( ($(stat -c %s "$dir/r.vorn") + 1048575) / 1048576 ))
count=$(( (mib + routine_mib - 1) / routine_mib ))
"$ctl" create-image "$dir/card.img" --size "$((count * routine_mib + 16))M" >/dev/null
"$ctl" format "$dir/card.img" --yes >/dev/null
files=()
for ((i = 0; i < count; i++)); do files+=("$dir/r.vorn"); done
"$ctl" add "$dir/card.img" "${files[@]}" >/dev/null
first=$("$ctl" list "$dir/card.img" --json | python3 -c "import json,sys; t=json.load(sys.stdin)['routines']; print(t[0]['startSector'], t[-1]['endSector'])")
read -r start end <<<"$first"
cat "$dir/card.img" >/dev/null

peer() {
  dd if="$dir/card.img" of=/dev/null bs=4M iflag=skip_bytes,count_bytes skip=$((start * 512)) \
    count=$(((end - start) * 512)) status=none
  for ((i = 0; i < count; i++)); do ffmpeg -v error -i "$dir/a.mp3" -f null -; done
}
ours() { "$ctl" check "$dir/card.img" >"$dir/out.txt"; }
seconds() { local t0 t1; t0=$(date +%s.%N); "$@"; t1=$(date +%s.%N); echo "$t1 - $t0" | bc; }
best() { printf '%s\n' "$@" | sort -g | head -1; }

a=() b=()
for ((r = 0; r < runs; r++)); do
  a+=("$(seconds ours)")
  b+=("$(seconds peer)")
done
grep -q ': green (' "$dir/out.txt" || { echo "the check did not come out green:" >&2; cat "$dir/out.txt" >&2; exit 1; }
rss=$( { /usr/bin/time -f %M "$ctl" check "$dir/card.img" >/dev/null; } 2>&1 | tail -1)
o=$(best "${a[@]}"); p=$(best "${b[@]}")
printf 'check of %d routines, %d MiB of routine sectors (best of %d)\n' "$count" $(((end - start) / 2048)) "$runs"
awk -v o="$o" -v p="$p" -v rss="$rss" 'BEGIN {
  printf "  vorn3ctl check            %7.2f s   peak RSS %d MiB\n", o, rss / 1024
  printf "  dd + ffmpeg -f null       %7.2f s\n", p
  printf "ratio check / (dd + ffmpeg) %.2f   (goal <= 1.3)\n", o / p
}'
