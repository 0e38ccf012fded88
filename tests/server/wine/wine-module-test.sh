#!/usr/bin/env bash
# The Wine module as the show editor meets it: a Windows editor stand-in
# (EditorStandIn.c, built with mingw-w64) under wine64 creates the named
# objects, starts vorn3manager by the Windows path that `vorn3ctl wine-setup`
# made, and drives the server and list modes against the unit simulator.
#
# Cheap enough for CI: see wine-env.sh for the prefix, the time-outs and the
# clean-up.
#
# usage: wine-module-test.sh WINE64 WINESERVER STANDIN_EXE VORN3CTL SIM_LIBRARY TEMPLATE_ROOT
set -euo pipefail
wine64=$1 wineserver=$2 standin=$3 vorn3ctl=$4 simlib=$5 template_root=$6

source "$(dirname "$0")/wine-env.sh"

failures=0
check() {  # check WHAT EXPECTED ACTUAL
  if [ "$2" = "$3" ]; then
    echo "ok   $1"
  else
    echo "FAIL $1"; echo "  expected: $2"; echo "  actual:   $3"
    failures=$((failures + 1))
  fi
}

# Set-up: prints the Windows path, twice the same; a plain folder is refused.
exe=$("$vorn3ctl" wine-setup "$WINEPREFIX")
check "wine-setup prints the Windows path" 'C:\Program Files\VORN3 Manager\VORN3Manager.exe' "$exe"
check "wine-setup again changes nothing" "$exe" "$("$vorn3ctl" wine-setup "$WINEPREFIX")"
mkdir "$work/plain"
if "$vorn3ctl" wine-setup "$work/plain" 2>"$work/err.txt"; then status=0; else status=$?; fi
check "wine-setup refuses a folder that is no prefix" "1 yes" \
  "$status $(grep -q 'is not a Wine prefix' "$work/err.txt" && echo yes)"

# The unit simulator, preloaded into Wine, with units 3 and 5 on one bus.
mkdir -m 700 "$work/run"
cat >"$work/sim.conf" <<CONF
bus 001
unit 3
manufacturer Calverin
product "VORN unit"
capture $work/capture3.bin
baud-file $work/baud3.txt
unit 5
manufacturer Calverin
product "VORN unit"
unit 7
manufacturer Calverin
product "VORN unit"
capture $work/capture7.bin
CONF
# Unit 7 writes into a pipe that is kept full until the test drains it, so a
# block can be held on its way (opened read-write: no wait for a writer).
mkfifo "$work/capture7.bin"
exec 7<>"$work/capture7.bin"
timeout 1 sh -c 'yes f | tr -d "\n"' >&7 || true
run_editor() {
  XDG_RUNTIME_DIR=$work/run LD_PRELOAD=$simlib VORN_USB_SIM_CONFIG=$work/sim.conf \
    bounded 90 "$wine64" "$standin" "$@" 2>"$work/stderr.txt" | tr -d '\r'
}

# Server mode: blocks N = 0, 126, 127 go out whole, 128, 128 and 256 bytes,
# byte for byte what the block held; quit ends it with status 0.
out=$(run_editor server "$exe" VORN3 38400 512 0 126 127) || true
check "server: ready, three blocks answered, orderly end" "ready|done N=0|done N=126|done N=127|exit 0" \
  "$(sed 's/^\(done N=[0-9]*\) .*/\1/' <<<"$out" | paste -sd'|')"
check "server: the unit got each block's first T bytes" "$(sed -n 's/^done N=[0-9]* //p' <<<"$out" | tr -d '\n')" \
  "$(od -An -tx1 -v "$work/capture3.bin" 2>/dev/null | tr -d ' \n')"
first=$(od -An -tx1 -v "$work/capture3.bin" 2>/dev/null | tr -d ' \n')
check "server: baud-rate code 4 for 38400" "4" "$(head -c1 "$work/baud3.txt" 2>/dev/null)"
check "server: nothing on stderr" "" "$(cat "$work/stderr.txt")"

# A manual-reset data ready (the editor may create either kind) is reset by
# the server: the same two blocks, each sent once.
out=$(run_editor server-manual "$exe" VORN3 38400 256 0 130) || true
check "server: manual-reset data ready, two blocks answered once each" "ready|done N=0|done N=130|exit 0" \
  "$(sed 's/^\(done N=[0-9]*\) .*/\1/' <<<"$out" | paste -sd'|')"
sent=$(sed -n 's/^done N=[0-9]* //p' <<<"$out" | tr -d '\n')
check "server: the unit got the two blocks once, after the first run's" "$first$sent" \
  "$(od -An -tx1 -v "$work/capture3.bin" 2>/dev/null | tr -d ' \n')"

# Data ready given again while a block is on its way is lost: one block goes
# out and one data done follows.
XDG_RUNTIME_DIR=$work/run LD_PRELOAD=$simlib VORN_USB_SIM_CONFIG=$work/sim.conf \
  bounded 90 "$wine64" "$standin" early "$exe" VORN7 9600 >"$work/early.txt" 2>"$work/stderr.txt" &
early=$!
for _ in $(seq 300); do grep -q 'sent twice\|too early\|no ready\|exit' "$work/early.txt" && break; sleep 0.1; done
timeout 1 cat <&7 >"$work/drained7.bin" || true
wait "$early" || true
timeout 1 cat <&7 >>"$work/drained7.bin" || true
check "server: a data ready given during a send is lost, one data done" "ready|sent twice|done|one done|exit 0" \
  "$(tr -d '\r' <"$work/early.txt" | paste -sd'|')"
check "server: that block went out once" "05004041424344$(printf 'a5%.0s' $(seq 121))" \
  "$(tr -d f <"$work/drained7.bin" | od -An -tx1 -v | tr -d ' \n')"

# A unit that is not there: no ready, the fatal message, status 1.
out=$(run_editor server "$exe" VORN9 9600 128) || true
check "server: unknown unit ends with status 1 and no ready" "no ready|exit 1" "$(paste -sd'|' <<<"$out")"
check "server: the fatal message names unit and step" "1" \
  "$(grep -c 'FATAL SERVER VORN9 ERROR: COULD NOT FIND DEVICE' "$work/stderr.txt" || true)"

# List mode: VORN3, VORN5, VORN7 and the closing zero byte, 19 bytes in all.
out=$(run_editor list "$exe") || true
check "list: the names of units 3, 5 and 7, then status 0" "list 564F524E3300564F524E3500564F524E370000|exit 0" \
  "$(paste -sd'|' <<<"$out")"

# Without a mode switch the module says where the main window is, status 1.
if XDG_RUNTIME_DIR=$work/run bounded 30 "$wine64" "$exe" >/dev/null 2>"$work/stderr.txt"; then status=0; else status=$?; fi
check "no switch: points to the native window" "1 1" \
  "$status $(grep -c 'The main window runs natively' "$work/stderr.txt" || true)"

[ "$failures" -eq 0 ]
