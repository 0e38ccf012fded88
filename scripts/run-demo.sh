#!/usr/bin/env bash
# The demo after the build: a disk image in the user's state directory (made on
# the first run), formatted, given a sample routine made from a generated tone,
# and listed with vorn3ctl.
set -euo pipefail
cd "$(dirname "$0")/.."

ctl=./build/default/tools/vorn3ctl
state="${XDG_STATE_HOME:-$HOME/.local/state}/vorn3manager"
image="$state/demo.img"

mkdir -p "$state"
if [ ! -e "$image" ]; then
  "$ctl" create-image "$image" --size 64M
fi
"$ctl" format "$image" --yes

# A sample routine: a 10-second two-tone WAV (sox, installed by install-deps)
# and a few control-data frames, made into a ".vorn" file and imported.
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
sox -q -n -r 44100 -c 2 -b 16 "$work/tone.wav" synth 10 sine 440 sine 660 fade 0.1 10 0.5 gain -8
LC_ALL=C awk 'BEGIN { for (i = 0; i < 500; i++) printf "%c%c%c", 255, i % 8, (i * 5) % 255 }' \
  >"$work/frames.bin"
"$ctl" make-routine "$work/sample.vorn" --audio "$work/tone.wav" --data "$work/frames.bin" \
  --title "Sample tone" --baud 9600 --frame-ms 20 --protocol 0
"$ctl" add "$image" "$work/sample.vorn"
"$ctl" list "$image"
