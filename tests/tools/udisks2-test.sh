#!/usr/bin/env bash
# vorn3ctl on a card whose node the user may not open, through a stub udisks2
# on a private system bus: the grant is used, each refusal has its own words,
# a mounted card is unmounted on request, the descriptor of another device is
# refused. As root, vorn3ctl runs as "nobody"; otherwise the node is made
# mode 000 after the stub has opened it. With UI_SYSTEM_TESTS, the window
# opens the card that way too.
#
#   udisks2-test.sh VORN3CTL SOURCE_DIR [UI_SYSTEM_TESTS]
set -euo pipefail
# The programs decide by what they can reach, not by the developer's display.
unset DISPLAY WAYLAND_DISPLAY QT_QPA_PLATFORM
vorn3ctl=$1
src=$2
ui_tests=${3:-}
for tool in dbus-daemon /usr/bin/python3; do
  command -v "$tool" >/dev/null || { echo "SKIP: $tool is not installed"; exit 77; }
done
/usr/bin/python3 -c 'import dbus, gi' 2>/dev/null || { echo "SKIP: python3-dbus or python3-gi missing"; exit 77; }

tmp=$(mktemp -d)
pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  wait 2>/dev/null || true
  rm -rf "$tmp"
}
trap cleanup EXIT
chmod 755 "$tmp"
# A copy the test user can run wherever the build tree lies.
cp "$vorn3ctl" "$tmp/vorn3ctl"
vorn3ctl=$tmp/vorn3ctl
if [ -n "$ui_tests" ]; then
  cp "$ui_tests" "$tmp/ui_system_tests"
  ui_tests=$tmp/ui_system_tests
fi

eval "$("$src/scripts/make-drive-fixture.sh" "$tmp/tree" 8)"
node=$VORN_DEV_ROOT/sdb

cat >"$tmp/bus.conf" <<CONF
<!DOCTYPE busconfig PUBLIC "-//freedesktop//DTD D-BUS Bus Configuration 1.0//EN"
 "http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd">
<busconfig>
  <listen>unix:path=$tmp/bus</listen>
  <auth>EXTERNAL</auth>
  <policy context="default">
    <allow user="*"/>
    <allow own="*"/>
    <allow send_destination="*"/>
    <allow receive_sender="*"/>
  </policy>
</busconfig>
CONF
dbus-daemon --config-file="$tmp/bus.conf" --nofork --print-address=1 >"$tmp/address" 2>"$tmp/bus.log" &
pids+=($!)
for _ in $(seq 500); do [ -s "$tmp/address" ] && break; sleep 0.02; done
[ -s "$tmp/address" ] || { echo "FAIL: dbus-daemon did not start"; cat "$tmp/bus.log"; exit 1; }
export DBUS_SYSTEM_BUS_ADDRESS=unix:path=$tmp/bus
chmod 666 "$tmp/bus" 2>/dev/null || true

mode=$tmp/mode
echo ok >"$mode"
coproc STUB { exec /usr/bin/python3 "$src/tests/tools/udisks2-stub.py" "$VORN_DEV_ROOT" "$VORN_MOUNTINFO" "$mode"; }
# Kept apart: bash unsets STUB_PID as soon as it reaps the stub.
stub_pid=$STUB_PID
pids+=("$stub_pid")
read -r -t 10 ready <&"${STUB[0]}" || true
[ "${ready:-}" = ready ] || { echo "FAIL: the stub udisks2 did not start"; exit 1; }

if [ "$(id -u)" -eq 0 ]; then
  chmod 600 "$node"
  user_prefix=(setpriv --reuid=65534 --regid=65534 --clear-groups --)
else
  chmod 000 "$node"
  user_prefix=()
fi
as_user() { "${user_prefix[@]}" "$@"; }

failures=0
run() {  # expected-exit expected-text args...
  local code=$1 text=$2
  shift 2
  local out status=0
  out=$(cd "$tmp" && as_user "$vorn3ctl" "$@" 2>&1 </dev/null) || status=$?
  if [ "$status" -ne "$code" ] || [[ "$out" != *"$text"* ]]; then
    echo "FAIL: vorn3ctl $*: exit $status (wanted $code), output:"
    echo "$out" | sed 's/^/    /'
    echo "  wanted it to contain: $text"
    failures=$((failures + 1))
  fi
}

# Not the user's to open, yet listed and usable through the grant.
as_user test ! -r "$node" || { echo "FAIL: the node is readable by the test user"; exit 1; }
run 0 "PhysicalDrive1 (8.00MB) ()" devices
run 0 "Formatted PhysicalDrive1" format PhysicalDrive1 --yes
run 0 "0 routines" list PhysicalDrive1
"$vorn3ctl" make-routine "$tmp/song.vorn" --title Song >/dev/null
chmod 644 "$tmp/song.vorn"
run 0 'Added "Song" as routine 1' add PhysicalDrive1 song.vorn
run 0 "1 routine," list PhysicalDrive1
grep -q "^ResolveDevice /dev/sdb$" "$mode.log" || { echo "FAIL: ResolveDevice did not get /dev/sdb"; failures=$((failures + 1)); }
grep -q "^OpenDevice /dev/sdb rw O_EXCL|O_DSYNC|O_CLOEXEC interactive=True$" "$mode.log" ||
  { echo "FAIL: OpenDevice not asked read-write, exclusive, durable, with interaction allowed"; failures=$((failures + 1)); }
# list only reads: it asks for "r".
grep -q '^OpenDevice /dev/sdb r O_EXCL|O_DSYNC|O_CLOEXEC interactive=True$' "$mode.log" ||
  { echo "FAIL: list did not ask OpenDevice for reading only"; failures=$((failures + 1)); }

# A service that drops O_DSYNC still gives a durable add (flushed after each
# piece); one that hands over a read-only descriptor for writing is not used.
echo dropflags >"$mode"
run 0 'Added "Song" as routine 2' add PhysicalDrive1 song.vorn
run 0 "2 routines," list PhysicalDrive1
run 0 "1 routine left" remove-last PhysicalDrive1 --yes
echo readonly >"$mode"
run 1 "udisks2 opened /dev/sdb for reading only; it was not used." format PhysicalDrive1 --yes

# Each refusal says what to do.
echo refused >"$mode"
run 1 "you are not allowed to open /dev/sdb: ask an administrator, or join the \"disk\" group" list PhysicalDrive1
echo noagent >"$mode"
run 1 "needs an administrator's password but this session cannot ask for one: start it from the desktop" list PhysicalDrive1
echo dismissed >"$mode"
run 1 "Opening /dev/sdb was cancelled." list PhysicalDrive1
echo busy >"$mode"
run 1 "/dev/sdb is in use by another program: close it and try again." list PhysicalDrive1
echo wrongfd >"$mode"
run 1 "udisks2 handed over another device than /dev/sdb; it was not used." list PhysicalDrive1

# A card the desktop mounted: refused, or unmounted on request and then used.
echo ok >"$mode"
echo "40 1 8:16 / /media/user/CARD rw,relatime shared:2 - vfat /dev/sdb rw" >>"$VORN_MOUNTINFO"
run 1 "is mounted at /media/user/CARD: unmount it first. Give --unmount to unmount it." list PhysicalDrive1
echo unmount-busy >"$mode"
run 1 "/dev/sdb is in use: close the files open on the card." list PhysicalDrive1 --unmount
echo ok >"$mode"
run 0 "1 routine," list PhysicalDrive1 --unmount
grep -q /media/user/CARD "$VORN_MOUNTINFO" && { echo "FAIL: the card is still mounted"; failures=$((failures + 1)); }

# The window: lists the card, reads its table and formats it through the grant.
if [ -n "$ui_tests" ]; then
  status=0
  out=$(cd "$tmp" && as_user env QT_QPA_PLATFORM=offscreen VORN_TEST_UDISKS2_TREE="$tmp/tree" \
        "$ui_tests" --gtest_filter='*ThroughUdisks2' 2>&1) || status=$?
  if [ "$status" -ne 0 ] || [[ "$out" != *"[  PASSED  ] 1 test."* ]] || [[ "$out" == *SKIPPED* ]]; then
    echo "FAIL: the window did not open the card through udisks2:"
    echo "$out" | sed 's/^/    /'
    failures=$((failures + 1))
  fi
fi

# Ctrl-C while the service has not answered yet (a password dialog open):
# stopped, status 130, not a failure with "Interrupted system call".
echo slow >"$mode"
: >"$mode.log"
(cd "$tmp" && exec "${user_prefix[@]}" "$vorn3ctl" add PhysicalDrive1 song.vorn --yes >"$tmp/slow.out" 2>&1 </dev/null) &
slow=$!
for _ in $(seq 1000); do grep -q "^OpenDevice" "$mode.log" && break; sleep 0.02; done
sleep 0.2
kill -INT "$slow"
status=0
wait "$slow" || status=$?
if [ "$status" -ne 130 ] || ! grep -q "add: stopped" "$tmp/slow.out"; then
  echo "FAIL: Ctrl-C while udisks2 had not answered: exit $status (wanted 130), output:"
  sed 's/^/    /' "$tmp/slow.out"
  failures=$((failures + 1))
fi
echo ok >"$mode"

# No udisks2 at all.
kill "$stub_pid" 2>/dev/null || true
wait "$stub_pid" 2>/dev/null || true
run 1 "udisks2 is not running: install udisks2" list PhysicalDrive1
# No system bus at all.
kill "${pids[0]}"
wait "${pids[0]}" 2>/dev/null || true
run 1 "there is no system bus to ask udisks2 on" list PhysicalDrive1

[ "$failures" -eq 0 ] && echo "PASS"
exit $((failures > 0))
