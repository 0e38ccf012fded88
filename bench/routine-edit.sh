#!/usr/bin/env bash
# Removing the first routine (4 MiB) of a disk with 200 MiB of routines behind
# it, through CDriveAccess on a drive whose node is an image file in WORK_DIR,
# against dd copying the same bytes over the same place in 1 MiB pieces with
# oflag=dsync and reading them back with iflag=direct. Prints the time ratio
# (goal <= 1.3) and sectors written / sectors that had to move (goal <= 1.02).
#
#   bench/routine-edit.sh [BUILD_DIR] [WORK_DIR] [MIB]
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build/default}
work=${2:-$build}
mib=${3:-200}
bin=$build/bench/routine_edit_bench
[ -x "$bin" ] || { echo "build $bin first (cmake --build --preset default --target routine_edit_bench)" >&2; exit 1; }
dir=$(mktemp -d "$work/edit-bench.XXXXXX")
trap 'rm -rf "$dir"' EXIT
"$bin" "$dir" "$mib" 3
