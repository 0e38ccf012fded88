#!/usr/bin/env bash
# Read-back after writing: 100 MiB written durably (O_DSYNC, as shipped) through
# CDriveAccess in 128-sector pieces, then read back from the medium (direct I/O) and
# compared (CVerifyingDevice), against the same write without the read-back,
# both to sparse image files in one directory on this machine's disk. Prints
# the time ratio write+verify / write (goal: <= 1.5). Best of three, alternating.
#
#   bench/drive_verify.sh [BUILD_DIR] [WORK_DIR]
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build/default}
work=${2:-$build}
bin=$build/bench/drive_write_bench
mib=100
[ -x "$bin" ] || { echo "build $bin first (cmake --build --preset default --target drive_write_bench)" >&2; exit 1; }

dir=$(mktemp -d "$work/verify-bench.XXXXXX")
trap 'rm -rf "$dir"' EXIT

best() { printf '%s\n' "$@" | sort -g | head -1; }

plain=() checked=()
for _ in 1 2 3; do
  plain+=("$("$bin" "$dir/plain" "$mib" dsync)")
  checked+=("$("$bin" "$dir/checked" "$mib" dsync verify)")
done
w=$(best "${plain[@]}"); v=$(best "${checked[@]}")
printf 'drive write %d MiB, 128-sector pieces, O_DSYNC\n' "$mib"
awk -v m="$mib" -v w="$w" -v v="$v" 'BEGIN {
  printf "  write                 %6.3f s  %7.1f MiB/s\n", w, m / w
  printf "  write + read-back     %6.3f s  %7.1f MiB/s\n", v, m / v
  printf "ratio (write + read-back) / write %.2f   (goal <= 1.5)\n", v / w
}'
