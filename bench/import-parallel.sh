#!/usr/bin/env bash
# Routine import on every core against the lame command line.
#
# 1. `vorn3ctl add` of one 5-minute WAV routine onto a disk image (copy,
#    decode, segment-parallel encode, write) against `lame -h -b 128 --cbr
#    --nores -t` on the same audio: alternated, median of RUNS (5), ratio
#    ours/lame (goal <= 0.55 on a 2-core machine), the median of the per-pair ratios.
# 2. A batch of 4 routines (about 2 minutes each, different audio) in one
#    `vorn3ctl add` against 4 lame runs one after the other: alternated, median
#    of RUNS, ratio (goal <= 0.55).
# 3. Scaling: `vorn3ctl add --threads N` for N = 1, 2, 4, 8 on a 30-minute
#    routine, seconds and speed-up against N = 1 (the peer), median of
#    SCALING_RUNS (1). Skipped with --no-scaling.
#
# Usage: bench/import-parallel.sh [BUILD_DIR] [--no-scaling]
#        RUNS=5 SCALING_RUNS=1 (environment)
set -euo pipefail
cd "$(dirname "$0")/.."

. bench/audio-bench-common.sh
build=build/default
[ -x build/release/tools/vorn3ctl ] && build=build/release
scaling=yes
for arg in "$@"; do
  case $arg in
    --no-scaling) scaling=no ;;
    *) build=$arg ;;
  esac
done
ctl=$build/tools/vorn3ctl
[ -x "$ctl" ] || { echo "build $ctl first (cmake --build --preset default --target vorn3ctl)" >&2; exit 1; }
runs=${RUNS:-5}
scaling_runs=${SCALING_RUNS:-1}

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# "WALL CPU" seconds of one command (its output dropped); CPU is user + system
# of the command and its children.
wall() {
  local TIMEFORMAT='%3R %3U %3S' times
  times=$({ time "$@" >/dev/null 2>&1; } 2>&1)
  awk '{ printf "%.3f %.3f\n", $1, $2 + $3 }' <<<"$times"
}
# Median of "WALL CPU" pairs, by wall time.
median() { printf '%s\n' "$@" | sort -g | awk '{ v[NR] = $0 } END { print v[int((NR + 1) / 2)] }'; }

# A formatted image of SIZE for one run.
fresh_image() {  # PATH SIZE
  rm -f "$1"
  "$ctl" create-image "$1" --size "$2" >/dev/null
  "$ctl" format "$1" --yes >/dev/null
}

add() {  # IMAGE FILE... [options]
  "$ctl" add "$@" --quiet
}

# The ratios are taken pair by pair (run i of ours against run i of the peer,
# which ran right after it) and their median reported: this machine's speed
# drifts by 10% and more over a minute, which a ratio of medians would keep.
report() {  # WHAT PEER (ours "WALL CPU" pairs...) -- (peer "WALL CPU" pairs...)
  local what=$1 peer=$2; shift 2
  local -a o=() p=()
  while [ "$1" != -- ]; do o+=("$1"); shift; done
  shift
  p=("$@")
  local ratios=() i
  for i in "${!o[@]}"; do
    ratios+=("$(awk -v o="${o[$i]}" -v p="${p[$i]}" 'BEGIN {
      split(o, a, " "); split(p, b, " "); printf "%.4f %.4f\n", a[1] / b[1], a[2] / b[2] }')")
  done
  awk -v what="$what" -v peer="$peer" -v o="$(median "${o[@]}")" -v p="$(median "${p[@]}")" \
      -v r="$(median "${ratios[@]}")" -v all="$(printf '%s\n' "${ratios[@]}" | cut -d' ' -f1 | paste -sd' ')" \
      -v n="$runs" 'BEGIN {
    split(o, a, " "); split(p, b, " "); split(r, q, " ")
    printf "%s (median of %d): vorn3ctl add %.2f s wall / %.2f s cpu, %s %.2f s wall / %.2f s cpu\n",
      what, n, a[1], a[2], peer, b[1], b[2]
    printf "  ours/peer, median of the %d alternated pairs: wall %.3f (goal <= 0.55), cpu %.3f\n", n, q[1], q[2]
    printf "  wall ratio of each pair: %s\n", all }'
}

lame_each() {  # WAV...
  local wav
  for wav in "$@"; do lame --quiet -h -b 128 --cbr --nores -t "$wav" "$work/lame.mp3"; done
}

echo "machine: $(nproc) processors; vorn3ctl encodes on ${VORN_ENCODER_THREADS:-one thread per processor}"

# 1. One 5-minute routine.
make_music_wav 300 "$work/five.wav"
"$ctl" make-routine "$work/five.vorn" --audio "$work/five.wav" --title Five >/dev/null
ours=() peer=()
for ((run = 1; run <= runs; run++)); do
  fresh_image "$work/disk.img" 64M
  ours+=("$(wall add "$work/disk.img" "$work/five.vorn")")
  peer+=("$(wall lame_each "$work/five.wav")")
done
report "add one 5-minute WAV routine" "lame" "${ours[@]}" -- "${peer[@]}"
rm -f "$work/five.wav" "$work/five.vorn"

# 2. A batch of 4 routines.
batch=() wavs=()
for i in 1 2 3 4; do
  make_music_wav 120 "$work/part$i.wav"
  sox -q "$work/part$i.wav" "$work/b$i.wav" speed "1.0$i"  # different audio each
  rm -f "$work/part$i.wav"
  "$ctl" make-routine "$work/b$i.vorn" --audio "$work/b$i.wav" --title "B$i" >/dev/null
  batch+=("$work/b$i.vorn")
  wavs+=("$work/b$i.wav")
done
ours=() peer=()
for ((run = 1; run <= runs; run++)); do
  fresh_image "$work/disk.img" 64M
  ours+=("$(wall add "$work/disk.img" "${batch[@]}")")
  peer+=("$(wall lame_each "${wavs[@]}")")
done
report "add a batch of 4 two-minute routines" "4 lame runs" "${ours[@]}" -- "${peer[@]}"
rm -f "$work"/b?.wav "$work"/b?.vorn

[ "$scaling" = yes ] || exit 0

# 3. Scaling on a 30-minute routine.
make_music_wav 1800 "$work/thirty.wav"
"$ctl" make-routine "$work/thirty.vorn" --audio "$work/thirty.wav" --title Thirty >/dev/null
rm -f "$work/thirty.wav"
declare -A seconds
for threads in 1 2 4 8; do
  times=()
  for ((run = 1; run <= scaling_runs; run++)); do
    fresh_image "$work/disk.img" 64M
    times+=("$(wall add "$work/disk.img" "$work/thirty.vorn" --threads "$threads")")
  done
  seconds[$threads]=$(median "${times[@]}" | awk '{ print $1 }')
done
echo "scaling, vorn3ctl add of a 30-minute WAV routine (median of $scaling_runs; peer: --threads 1):"
for threads in 1 2 4 8; do
  awk -v n="$threads" -v s="${seconds[$threads]}" -v one="${seconds[1]}" 'BEGIN {
    printf "  --threads %d  %7.2f s  speed-up %.2f\n", n, s, one / s }'
done
