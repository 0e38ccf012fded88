#!/usr/bin/env bash
# Durable drive writes: 100 MiB through CDriveAccess::WriteSectors in 128-sector
# pieces (O_DSYNC, what we ship; and fdatasync per transfer, the alternative)
# against `dd bs=64k oflag=dsync` of the same size, both to sparse image files
# in the same directory on this machine's disk. Prints the throughput ratio
# ours / dd (goal: >= 0.8). Best of three runs each, alternating.
#
#   bench/drive_write.sh [BUILD_DIR] [WORK_DIR]
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build/default}
work=${2:-$build}
bin=$build/bench/drive_write_bench
mib=100
[ -x "$bin" ] || { echo "build $bin first (cmake --build --preset default --target drive_write_bench)" >&2; exit 1; }

dir=$(mktemp -d "$work/drive-bench.XXXXXX")
trap 'rm -rf "$dir"' EXIT

run_dd() {
  rm -f "$dir/dd.img"
  truncate -s "${mib}M" "$dir/dd.img"
  local start end
  start=$(date +%s.%N)
  dd if=/dev/zero of="$dir/dd.img" bs=64k count=$((mib * 16)) oflag=dsync conv=notrunc status=none
  end=$(date +%s.%N)
  awk -v a="$start" -v b="$end" 'BEGIN { printf "%.3f\n", b - a }'
}

best() { printf '%s\n' "$@" | sort -g | head -1; }

ours=() alt=() peer=()
for _ in 1 2 3; do
  ours+=("$("$bin" "$dir/ours" "$mib" dsync)")
  peer+=("$(run_dd)")
  alt+=("$("$bin" "$dir/alt" "$mib" fdatasync)")
done
o=$(best "${ours[@]}"); a=$(best "${alt[@]}"); p=$(best "${peer[@]}")
printf 'drive write %d MiB, 128-sector pieces\n' "$mib"
awk -v m="$mib" -v o="$o" -v a="$a" -v p="$p" 'BEGIN {
  printf "  CDriveAccess O_DSYNC     %6.3f s  %7.1f MiB/s\n", o, m / o
  printf "  CDriveAccess fdatasync   %6.3f s  %7.1f MiB/s\n", a, m / a
  printf "  dd bs=64k oflag=dsync    %6.3f s  %7.1f MiB/s\n", p, m / p
  printf "ratio O_DSYNC/dd %.2f   fdatasync/dd %.2f   (goal >= 0.8)\n", p / o, p / a
}'
