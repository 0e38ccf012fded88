#!/usr/bin/env bash
# Builds the libFuzzer harnesses (the `fuzz` preset) and runs each on its seed
# corpus in tests/fuzz/corpus/NAME.
#
#   scripts/fuzz.sh [MINUTES] [NAME...]   each harness for MINUTES (default 10)
#   scripts/fuzz.sh --seconds N [NAME...] each for N seconds (CI's short run)
#
# New inputs collect in build/fuzz/corpus/NAME (the seed corpus is never
# written to); a crash, leak, time-out or failed check leaves its input in
# build/fuzz/artifacts/NAME/ and makes the script exit 1 after the others ran.
# Add a reproducer to tests/fuzz/corpus/NAME/ so it stays a regression seed.
set -euo pipefail
cd "$(dirname "$0")/.."

seconds=600
if [ "${1:-}" = "--seconds" ]; then
  seconds=$2
  shift 2
elif [[ "${1:-}" =~ ^[0-9]+$ ]]; then
  seconds=$(($1 * 60))
  shift
fi

./scripts/install-deps.sh
cmake --preset fuzz >/dev/null
cmake --build --preset fuzz -j "$(nproc)" >/dev/null

names=("$@")
if [ ${#names[@]} -eq 0 ]; then
  for dir in tests/fuzz/corpus/*/; do names+=("$(basename "$dir")"); done
fi

failed=()
for name in "${names[@]}"; do
  harness=build/fuzz/tests/fuzz/$name
  work=build/fuzz/corpus/$name
  artifacts=build/fuzz/artifacts/$name
  log=build/fuzz/$name.log
  mkdir -p "$work" "$artifacts"
  # Inputs that take a second are findings too: every reader here is linear.
  if "$harness" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
       -artifact_prefix="$artifacts/" -print_final_stats=1 \
       "$work" "tests/fuzz/corpus/$name" >"$log" 2>&1; then
    runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log")
    echo "fuzz $name: ${runs:-?} inputs in ${seconds}s, nothing found"
  else
    echo "fuzz $name: FOUND A FAULT (log $log, input in $artifacts/)" >&2
    tail -n 40 "$log" >&2
    failed+=("$name")
  fi
done

if [ ${#failed[@]} -ne 0 ]; then
  echo "fuzz harnesses with findings: ${failed[*]}" >&2
  exit 1
fi
