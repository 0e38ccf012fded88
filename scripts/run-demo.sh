#!/usr/bin/env bash
# The demo after the build: a disk image in the user's state directory (made on
# the first run), formatted and listed with vorn3ctl.
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
"$ctl" list "$image"
