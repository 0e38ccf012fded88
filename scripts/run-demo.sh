#!/usr/bin/env bash
# The demo after the build: a simulated VORN unit on USB whose disk is an image
# in the user's state directory (image and unit config made on the first run),
# found, identified, formatted, given a sample routine made from a generated
# tone, and listed with vorn3ctl.
set -euo pipefail
cd "$(dirname "$0")/.."

ctl=./build/default/tools/vorn3ctl
sim="$PWD/build/default/sim/libvornusbsim.so"
state="${XDG_STATE_HOME:-$HOME/.local/state}/vorn3manager"
image="$state/demo.img"
units="$state/units.conf"

mkdir -p "$state"
if [ ! -e "$image" ]; then
  "$ctl" create-image "$image" --size 64M
fi
if [ ! -e "$units" ]; then
  cat >"$units" <<'CONF'
# The demo's simulated USB world (format: docs/unit-simulator.md).
bus 001
  unit 3
    manufacturer "Calverin"
    product "VORN3 Unit"
    image demo.img
    model "VORN DISK 64M"
    serial "DEMO0001"
CONF
fi

# The unchanged tool, with the unit simulator in place of the real libusb.
unit_ctl() { VORN_USB_SIM_CONFIG="$units" LD_PRELOAD="$sim" "$ctl" "$@"; }

unit_ctl devices
unit_ctl identify VORN3
unit_ctl format VORN3 --yes

# A sample routine: a 10-second two-tone WAV (sox, installed by install-deps)
# and a few control-data frames, made into a ".vorn" file and imported.
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
sox -q -n -r 44100 -c 2 -b 16 "$work/tone.wav" synth 10 sine 440 sine 660 fade 0.1 10 0.5 gain -8
LC_ALL=C awk 'BEGIN { for (i = 0; i < 500; i++) printf "%c%c%c", 255, i % 8, (i * 5) % 255 }' \
  >"$work/frames.bin"
"$ctl" make-routine "$work/sample.vorn" --audio "$work/tone.wav" --data "$work/frames.bin" \
  --title "Sample tone" --baud 9600 --frame-ms 20 --protocol 0
unit_ctl add VORN3 "$work/sample.vorn"
unit_ctl list VORN3
