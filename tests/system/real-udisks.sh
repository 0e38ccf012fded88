#!/usr/bin/env bash
# vorn3ctl and the window against the real disk service, as a user without
# rights to the card: a private system bus with Debian's system policy, the
# real polkitd and udisksd on it, systemd-udevd, and loop devices described to
# discovery as a USB card reader's disks whose nodes are udev symlinks to them.
# Runs as root (it starts system services); the program runs as a new
# unprivileged user. Puts back everything it changed, stops what it started,
# and skips (exit 0, one line) only where loop devices or the services cannot
# run at all.
#
#   real-udisks.sh [BUILD_DIR]        (default: build/default)
set -euo pipefail
unset DISPLAY WAYLAND_DISPLAY QT_QPA_PLATFORM
src=$(cd "$(dirname "$0")/../.." && pwd)
build=$(cd "${1:-$src/build/default}" && pwd)
started=$SECONDS

skip() { echo "SKIP: real-udisks: $*"; exit 0; }
[ "$(id -u)" -eq 0 ] || skip "needs root to start the system services"

# The services and the file system tools; installed when missing.
need=()
for pair in udisks2:/usr/libexec/udisks2/udisksd udev:/lib/systemd/systemd-udevd \
            polkitd:/usr/lib/polkit-1/polkitd dosfstools:/sbin/mkfs.vfat e2fsprogs:/sbin/mkfs.ext4 \
            dbus-daemon:/usr/bin/dbus-daemon; do
  [ -x "${pair#*:}" ] || need+=("${pair%%:*}")
done
if [ ${#need[@]} -gt 0 ]; then
  echo "Installing: ${need[*]}"
  { apt-get update -qq && DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${need[@]}"; } >/dev/null ||
    skip "could not install ${need[*]}"
fi

tmp=$(mktemp -d /tmp/vorn-real-udisks.XXXXXX)
chmod 755 "$tmp"
user=vorn-rs$$
pids=()
loops=()
added_user=
added_group=
started_udevd=
# Directories the services make on first use, removed again if they were not there.
made_dirs=()
for dir in /run/udev /run/udev/rules.d /media "/media/$user" /media/root; do [ -e "$dir" ] || made_dirs=("$dir" "${made_dirs[@]}"); done
udev_rule=/run/udev/rules.d/61-vorn-real-udisks-$$.rules
polkit_rule=/etc/polkit-1/rules.d/49-vorn-real-udisks-$$.rules
mount_rule=/etc/polkit-1/rules.d/49-vorn-real-udisks-mount-$$.rules
cleanup() {
  set +e
  for loop in "${loops[@]}"; do
    grep -q "^$loop" /proc/mounts 2>/dev/null && umount "$loop"
  done
  rm -f "$polkit_rule" "$mount_rule" "$udev_rule"
  # The services first (they hold the loops), the bus last.
  for ((i = ${#pids[@]} - 1; i >= 0; i--)); do kill "${pids[i]}" 2>/dev/null; wait "${pids[i]}" 2>/dev/null; done
  for loop in "${loops[@]}"; do losetup -d "$loop"; done
  [ -n "$added_user" ] && userdel "$user" 2>/dev/null
  [ -n "$added_group" ] && groupdel vorn-rs$$ 2>/dev/null
  # /run/udev holds only the state of the udevd stopped above when it was not there before.
  for dir in "${made_dirs[@]}"; do
    if [ "$dir" = /run/udev ] && [ -n "$started_udevd" ]; then rm -rf "$dir"; else rmdir "$dir" 2>/dev/null; fi
  done
  rm -rf "$tmp"
}
trap cleanup EXIT

# Loop devices: a card; one another program holds; one udisks2 counts as a
# system disk (no udev rule says otherwise), which the documented rule keeps out.
for name in card other system; do
  truncate -s 8M "$tmp/$name.img"
  loop=$(losetup --find --show "$tmp/$name.img" 2>/dev/null) || skip "no loop device here (losetup --find fails)"
  loops+=("$loop")
done

# The bus with the system policy, on a socket of its own.
sed -e "s#<listen>.*</listen>#<listen>unix:path=$tmp/bus</listen>#" \
    -e 's#<includedir>system.d</includedir>#<includedir>/usr/share/dbus-1/system.d</includedir>#' \
    -e '/<user>/d' -e '/<fork\/>/d' -e '/<pidfile>/d' -e '/<syslog\/>/d' \
    -e '/servicehelper/d' -e '/standard_system_servicedirs/d' /usr/share/dbus-1/system.conf >"$tmp/bus.conf"
dbus-daemon --config-file="$tmp/bus.conf" --nofork --nopidfile --print-address=1 >"$tmp/address" 2>"$tmp/bus.log" &
pids+=($!)
bus_pid=$!
for _ in $(seq 250); do [ -S "$tmp/bus" ] && break; sleep 0.02; done
[ -S "$tmp/bus" ] || skip "the system bus daemon cannot run here: $(head -c 300 "$tmp/bus.log")"
export DBUS_SYSTEM_BUS_ADDRESS=unix:path=$tmp/bus

# udev names the cards (a symlink, as for a real card reader) and says they are
# no system disks, as udisks2 judges a card in a USB reader.
mkdir -p /run/udev/rules.d
for i in 0 1; do
  echo "KERNEL==\"${loops[i]#/dev/}\", ENV{UDISKS_SYSTEM}=\"0\", SYMLINK+=\"vorn-rs$$-$i\""
done >"$udev_rule"
echo "KERNEL==\"${loops[2]#/dev/}\", SYMLINK+=\"vorn-rs$$-2\"" >>"$udev_rule"
if ! pgrep -x systemd-udevd >/dev/null; then
  /lib/systemd/systemd-udevd >"$tmp/udevd.log" 2>&1 &
  pids+=($!)
  started_udevd=1
  sleep 0.3
  kill -0 "${pids[-1]}" 2>/dev/null || skip "systemd-udevd cannot run here: $(head -c 300 "$tmp/udevd.log")"
fi
udevadm control --reload
udevadm trigger --subsystem-match=block --action=change
udevadm settle --timeout=10
for i in "${!loops[@]}"; do
  [ -b "/dev/vorn-rs$$-$i" ] || skip "udev made no symlink for ${loops[i]} (no working udev here)"
done

/usr/lib/polkit-1/polkitd --no-debug >"$tmp/polkitd.log" 2>&1 &
pids+=($!)
polkitd_pid=$!
/usr/libexec/udisks2/udisksd >"$tmp/udisksd.log" 2>&1 &
pids+=($!)
udisksd_pid=$!
for _ in $(seq 250); do udisksctl status >/dev/null 2>&1 && break; sleep 0.04; done
udisksctl status >/dev/null 2>&1 || skip "udisksd cannot run here: $(tail -c 300 "$tmp/udisksd.log")"

# Discovery's view: a system disk sda and a USB card reader per loop device,
# each whose node is the udev symlink; the kernel's own mount and swap tables.
eval "$("$src/scripts/make-drive-fixture.sh" "$tmp/tree" 8)"
sys=$VORN_SYSFS_ROOT
reader=$(dirname "$(readlink -f "$sys/block/sdb")")
rm -rf "$reader/sdb" "$sys/block/sdb" "$VORN_DEV_ROOT/sdb"
describe() {  # index of the loop device
  local i=$1 name=vorn-rs$$-$1
  mkdir -p "$reader/$name/queue" "$reader/$name/holders" "$reader/$name/slaves"
  cat "/sys/class/block/${loops[i]#/dev/}/dev" >"$reader/$name/dev"
  cat "/sys/class/block/${loops[i]#/dev/}/size" >"$reader/$name/size"
  echo 1 >"$reader/$name/removable"
  echo 512 >"$reader/$name/queue/logical_block_size"
  ln -s "$(realpath --relative-to="$sys/block" "$reader/$name")" "$sys/block/$name"
  ln -s "/dev/$name" "$VORN_DEV_ROOT/$name"
}
describe 0
ln -sf /proc/self/mountinfo "$VORN_MOUNTINFO"
ln -sf /proc/swaps "$VORN_SWAPS"
card=/dev/vorn-rs$$-0

useradd --no-create-home --home-dir "$tmp" --shell /usr/sbin/nologin "$user"
added_user=1
uid=$(id -u "$user")
cp "$build/tools/vorn3ctl" "$tmp/vorn3ctl"
[ -x "$build/tests/ui/ui_system_tests" ] && cp "$build/tests/ui/ui_system_tests" "$tmp/ui_system_tests"
"$tmp/vorn3ctl" make-routine "$tmp/song.vorn" --title Song >/dev/null
head -c 2M /dev/urandom >"$tmp/frames.bin"
"$tmp/vorn3ctl" make-routine "$tmp/big.vorn" --data "$tmp/frames.bin" --title Big >/dev/null
chmod 644 "$tmp/song.vorn" "$tmp/big.vorn"
chown "$user" "$tmp"

as_user() { (cd "$tmp" && setpriv --reuid="$uid" --regid="$(id -g "$user")" --init-groups -- env HOME="$tmp" "$@"); }
ctl() { as_user "$tmp/vorn3ctl" "$@" </dev/null; }

# The rule docs/drives.md gives, for a group the test user is in.
rule() {
  case $1 in
    on)
      if [ -z "$added_group" ]; then groupadd "vorn-rs$$" && added_group=1 && usermod -aG "vorn-rs$$" "$user"; fi
      sed -n '/^```js$/,/^```$/p' "$src/docs/drives.md" | sed '1d;$d' | sed "s/isInGroup(\"vorn\")/isInGroup(\"vorn-rs$$\")/" >"$polkit_rule"
      grep -q "vorn-rs$$" "$polkit_rule"
      ;;
    off) rm -f "$polkit_rule" ;;
  esac
  sleep 1  # polkitd reloads its rules when the directory changes
}
# Mounting on the user's behalf, as a desktop does when a card is inserted.
mount_as_user() {
  echo 'polkit.addRule(function(a, s) { if (a.id.indexOf("org.freedesktop.udisks2.filesystem-mount") == 0 && s.user == "'"$user"'") return polkit.Result.YES; });' >"$mount_rule"
  sleep 1
  as_user udisksctl mount --no-user-interaction -b "$card" >/dev/null
}
mount_as_root() { udisksctl mount --no-user-interaction -b "$card" >/dev/null; }
unmount_as_root() { udisksctl unmount -b "$card" >/dev/null; }
mounted() { grep -q "^$(readlink -f "$card") " /proc/mounts; }
not_mounted() { ! mounted; }
# Another program holds the second card exclusively (as a partitioner would).
hold_other() {
  describe 1
  python3 -c 'import os,sys,time; os.open(sys.argv[1], os.O_RDONLY | os.O_EXCL); print(flush=True); time.sleep(600)' \
    "${loops[1]}" >"$tmp/hold" &
  pids+=($!)
  for _ in $(seq 100); do [ -s "$tmp/hold" ] && break; sleep 0.02; done
}
# A change on the medium behind the card's cache: the loop's backing file,
# written over and over at the first sector of an empty card's first routine
# while `add` writes it and the 4,000 sectors behind it. Only a read-back from
# the medium, not from the cache, sees it. An unprivileged read-back can only
# ask the kernel to drop the cached pages (root's BLKFLSBUF is refused), which
# it may decline for a page someone holds at that moment; so up to three tries,
# each on a freshly formatted card, and the log says how many it took.
planted_add() {
  local try status
  for try in 1 2 3; do
    ctl format "$D" --yes >/dev/null
    udevadm settle --timeout=10
    python3 -c 'import os,sys
fd = os.open(sys.argv[1], os.O_WRONLY)
os.pwrite(fd, b"\x5a", 512 + 17)
print(flush=True)
while True: os.pwrite(fd, b"\x5a", 512 + 17)' "$tmp/card.img" >"$tmp/planting" &
    local planter=$!
    for _ in $(seq 250); do [ -s "$tmp/planting" ] && break; sleep 0.02; done
    status=0
    ctl add "$D" big.vorn || status=$?
    kill "$planter"
    wait "$planter" 2>/dev/null || true
    rm -f "$tmp/planting"
    if [ "$status" -ne 0 ]; then echo "(caught on try $try)"; return "$status"; fi
  done
  return 0
}
# A file system from an earlier use, once udisks2 has seen it. (ext4: the
# kernels of this machine kind may lack vfat.)
make_fs() {
  mkfs.ext4 -q -F -L CARD "$card" >/dev/null
  udevadm trigger --action=change "$card" && udevadm settle --timeout=10
  for _ in $(seq 100); do udisksctl info -b "$card" | grep -q 'IdType: *ext4' && return; sleep 0.05; done
  return 1
}
# Runs vorn3ctl while watching the kernel's events for the card: one that only
# reads leaves no "change" event behind (which would make every desktop
# program read the card again).
quiet_ctl() {
  local sysname
  sysname=$(basename "$(readlink -f "$card")")
  # udevd watches a drive again only once it has handled its last event.
  udevadm settle --timeout=10
  udevadm monitor --kernel --subsystem-match=block >"$tmp/events" 2>&1 &
  local monitor=$!
  sleep 0.2
  local status=0
  ctl "$@" || status=$?
  local event=
  for _ in $(seq 15); do
    grep -q "change .*/$sysname (block)" "$tmp/events" && { event=1; break; }
    sleep 0.1
  done
  kill "$monitor"
  wait "$monitor" 2>/dev/null || true
  if [ -n "$event" ]; then echo "a change event for $sysname"; return 1; fi
  return "$status"
}

# libblkid finds no file system on the card any more.
no_signature() { ! blkid -p "$card" >/dev/null 2>&1; }
# What udisks2 does with the open flags the program asks for: the descriptor's
# own flags, as the program checks them.
granted_flags() {
  as_user python3 -c 'import dbus, fcntl, os, sys
bus = dbus.SystemBus()
manager = bus.get_object("org.freedesktop.UDisks2", "/org/freedesktop/UDisks2/Manager")
path = manager.ResolveDevice({"path": sys.argv[1]}, {}, dbus_interface="org.freedesktop.UDisks2.Manager")[0]
block = bus.get_object("org.freedesktop.UDisks2", path)
fd = block.OpenDevice("rw", {"flags": os.O_EXCL | os.O_DSYNC}, dbus_interface="org.freedesktop.UDisks2.Block").take()
flags = fcntl.fcntl(fd, fcntl.F_GETFL)
print("O_RDWR" if flags & os.O_ACCMODE == os.O_RDWR else "not O_RDWR", "O_DSYNC" if flags & os.O_DSYNC else "no O_DSYNC")' "$card"
}
stop() { kill "$1"; wait "$1" 2>/dev/null || true; }
window() {
  [ -x "$tmp/ui_system_tests" ] || { echo "ui_system_tests not built"; return 1; }
  as_user env QT_QPA_PLATFORM=offscreen VORN_TEST_UDISKS2_TREE="$tmp/tree" \
    "$tmp/ui_system_tests" --gtest_filter='*ThroughUdisks2' 2>&1 | tee "$tmp/window.log" | grep -q '^\[  PASSED  \] 1 test\.' &&
    ! grep -q SKIPPED "$tmp/window.log"
}

D=PhysicalDrive1
other=PhysicalDrive2
# status | the output contains | the step
steps=(
  "1|Opening $card needs an administrator's password but this session cannot ask for one|ctl list $D"
  "0||rule on"
  "0|$D (8.00MB) ()|ctl devices"
  "0|O_RDWR O_DSYNC|granted_flags"
  "0|Formatted $D|ctl format $D --yes"
  "0|0 routines|ctl list $D"
  "0|Added \"Song\" as routine 1|ctl add $D song.vorn"
  "0|1 routine,|ctl list $D"
  "0||window"
  "0|Added \"Song\" as routine 1|ctl add $D song.vorn"
  "0||ctl add $D song.vorn --quiet"
  "0|2 routines,|quiet_ctl list $D"
  "0|Removed \"Song\"; 1 routine left|ctl remove-last $D --yes"
  "0||quiet_ctl backup $D card.bak --quiet"
  "0||ctl format $D --yes"
  "0||ctl restore card.bak $D --yes --quiet"
  "0|1 routine,|ctl list $card"
  "0|1 routine,|ctl list ${loops[0]}"
  "1|is not offered|ctl list $VORN_DEV_ROOT/sda"
  "1|a change event|quiet_ctl format $D --yes"
  "0||ctl restore card.bak $D --yes --quiet"
  "0||quiet_ctl export $D 1 song-back.vorn"
  "0||quiet_ctl identify $D"
  "1|Sector 1 of $D reads back differently from what was written|planted_add"
  "0||make_fs"
  "0||mount_as_root"
  "1|is mounted at /media/root/CARD: unmount it first. Give --unmount to unmount it.|ctl list $D"
  "1|another user (root) mounted|ctl list $D --unmount"
  "0||unmount_as_root"
  "0||mount_as_user"
  "1|is mounted at /media/$user/CARD: unmount it first. Give --unmount to unmount it.|ctl list $D"
  "0|Erased an old ext4 signature at byte 1080|ctl format $D --yes --unmount"
  "0||not_mounted"
  "0||no_signature"
  "0|0 routines|ctl list $D"
  "0||hold_other"
  "1|is in use by another program|ctl list $other"
  "0||describe 2"
  "1|Opening /dev/vorn-rs$$-2 needs an administrator's password|ctl list PhysicalDrive3"
  "0||rule off"
  "1|Opening $card needs an administrator's password|ctl format $D --yes"
  "0||rule on"
  "0||stop \$polkitd_pid"
  "1|needs the authorization service (polkit), which is not running|ctl list $D"
  "0||stop \$udisksd_pid"
  "1|and udisks2 is not running: install udisks2|ctl list $D"
  "0||stop \$bus_pid"
  "1|and there is no system bus to ask udisks2 on|ctl list $D"
)

failures=0
log=$tmp/step.log
for step in "${steps[@]}"; do
  IFS='|' read -r want text command <<<"$step"
  status=0
  eval "$command" >"$log" 2>&1 || status=$?
  if [ "$status" -eq "$want" ] && [[ "$(cat "$log")" == *"$text"* ]]; then
    note=$(grep -m1 '^(' "$log" || true)
    echo "ok    $command${note:+ $note}"
  else
    echo "FAIL  $command: exit $status (wanted $want)${text:+, wanted the output to contain: $text}"
    sed 's/^/        /' "$log"
    failures=$((failures + 1))
  fi
done

echo "real-udisks: $((${#steps[@]} - failures)) of ${#steps[@]} steps passed as $user through udisksd $(dpkg-query -W -f='${Version}' udisks2) in $((SECONDS - started)) s"
[ "$failures" -eq 0 ]
