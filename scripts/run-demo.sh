#!/usr/bin/env bash
# The demo after the build: a simulated VORN unit on USB whose disk is an image
# in the user's state directory (image and unit config made on the first run),
# found and identified; a new disk is formatted and given a sample routine made
# from a generated tone. The disk is kept between runs with whatever the user
# did to it, and listed with vorn3ctl.
set -euo pipefail
cd "$(dirname "$0")/.."

ctl=./build/default/tools/vorn3ctl
sim="$PWD/build/default/sim/libvornusbsim.so"
state="${XDG_STATE_HOME:-$HOME/.local/state}/vorn3manager"
image="$state/demo.img"
units="$state/units.conf"

mkdir -p "$state"
new_disk=false
if [ ! -e "$image" ]; then
  # Made under another name and renamed once complete: a run cut short here
  # leaves no half-made disk for the next run to keep.
  rm -f "$image.new"
  "$ctl" create-image "$image.new" --size 64M
  mv "$image.new" "$image"
  new_disk=true
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

# A sample routine: a 10-second two-tone WAV (sox, installed by install-deps)
# and a few control-data frames, made into a ".vorn" file (once).
work="$state/samples"
mkdir -p "$work"
if [ ! -e "$work/sample.vorn" ]; then
  sox -q -n -r 44100 -c 2 -b 16 "$work/tone.wav" synth 10 sine 440 sine 660 fade 0.1 10 0.5 gain -8
  LC_ALL=C awk 'BEGIN { for (i = 0; i < 500; i++) printf "%c%c%c", 255, i % 8, (i * 5) % 255 }' \
    >"$work/frames.bin"
  "$ctl" make-routine "$work/sample.vorn" --audio "$work/tone.wav" --data "$work/frames.bin" \
    --title "Sample tone" --baud 9600 --frame-ms 20 --protocol 0
fi
# Only a new disk is formatted and given the sample; a kept one stays as the
# user left it.
if $new_disk; then
  unit_ctl format VORN3 --yes
  unit_ctl add VORN3 "$work/sample.vorn"
fi
unit_ctl list VORN3

# Two more sample routines to add from the window (made once, kept beside the image).
if [ ! -e "$work/Pirate song.vorn" ]; then
  sox -q -n -r 44100 -c 2 -b 16 "$work/song.wav" synth 20 pluck C3 pluck E3 pluck G3 gain -10
  "$ctl" make-routine "$work/Pirate song.vorn" --audio "$work/song.wav" --data "$work/frames.bin" \
    --title "Pirate song" --baud 38400 --frame-ms 25 --protocol 1
  sox -q -n -r 22050 -c 1 -b 16 "$work/finale.wav" synth 15 sine 220-880 gain -8
  "$ctl" make-routine "$work/Grand finale.vorn" --audio "$work/finale.wav" --data "$work/frames.bin" \
    --title "Grand finale" --baud DMX --frame-ms 30 --protocol 5
fi

# Finally the window on the simulated unit: add the samples in $work (or drop
# them onto the grid), remove the last routine, back the disk up. To start
# again from a new disk, remove $image.
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
  echo
  echo "No display, so the window is not opened. From a desktop session run"
  echo "  ./scripts/run-demo.sh"
  echo "or, on a virtual display that nobody sees (end it with Ctrl+C):"
  echo "  xvfb-run -a ./scripts/run-demo.sh"
  exit 0
fi
echo
echo "Opening the window on the simulated unit; sample routines to add are in $work"
VORN_USB_SIM_CONFIG="$units" LD_PRELOAD="$sim" ./build/default/app/vorn3manager
