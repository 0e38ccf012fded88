#!/usr/bin/env bash
# Syncing drives from a show set (bench/ShowSyncBench.cpp): four drives against
# one, re-syncing a changed last routine against adding it, and a matching disk
# against dd reading it. MIB is the show's size once converted (the issue's
# figure is ~100; the default keeps the run to a couple of minutes here).
#
#   bench/show-sync.sh [BUILD_DIR] [WORK_DIR] [MIB] [RUNS]
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build/default}
work=${2:-$build}
mib=${3:-8}
runs=${4:-1}
bin=$build/bench/show_sync_bench
[ -x "$bin" ] || { echo "build $bin first (cmake --build --preset default --target show_sync_bench)" >&2; exit 1; }
dir=$(mktemp -d "$work/sync-bench.XXXXXX")
trap 'rm -rf "$dir"' EXIT
"$bin" "$dir" "$mib" "$runs"
