#!/usr/bin/env bash
# Card writes against dd, on a real block device: a loop device over a file in
# WORK_DIR, described to discovery as a USB card reader's disk (a fixture tree
# whose node is a link to the loop device). Side by side, alternating, best of
# RUNS each:
#   vorn3ctl add --no-verify   against  dd bs=1M oflag=dsync of the same bytes
#   vorn3ctl add (read-back)   against  that dd plus dd iflag=direct bs=1M reading them back
#   vorn3ctl restore           against  dd bs=1M oflag=dsync of the image's bytes, and
#                              per MiB against add (both with their read-back)
#   vorn3ctl format            (seconds; it writes two sectors)
# The routine is control data only (no audio to convert), so the times are the
# card's. Goals: add --no-verify <= 1.25 x dd; add <= 1.25 x (dd + direct read);
# restore no slower per byte than add. The ratios are medians of
# the per-run ratios, each run's pair back to back. Needs root (losetup).
#
#   bench/card_write.sh [BUILD_DIR] [WORK_DIR] [MIB]    (RUNS=3)
set -euo pipefail
cd "$(dirname "$0")/.."
src=$PWD
build=${1:-build/default}
work=${2:-$build}
mib=${3:-192}
runs=${RUNS:-3}
ctl=$build/tools/vorn3ctl
[ -x "$ctl" ] || { echo "build $ctl first (cmake --build --preset default --target vorn3ctl)" >&2; exit 1; }
[ "$(id -u)" -eq 0 ] || { echo "SKIP: needs root for losetup" >&2; exit 77; }
command -v losetup >/dev/null || { echo "SKIP: no losetup" >&2; exit 77; }

dir=$(mktemp -d "$work/card-bench.XXXXXX")
loop=
cleanup() {
  [ -n "$loop" ] && losetup -d "$loop" 2>/dev/null
  rm -rf "$dir"
}
trap cleanup EXIT

card_mib=$((mib + 64))
truncate -s "${card_mib}M" "$dir/card.bin"
loop=$(losetup -f --show "$dir/card.bin") || { echo "SKIP: no loop device" >&2; exit 77; }
eval "$("$src/scripts/make-drive-fixture.sh" "$dir/tree" "$card_mib")"
# The fixture's card reader disk is the loop device: its numbers and a node
# that links to it, as udev makes one.
sdb=$(dirname "$(readlink -f "$VORN_SYSFS_ROOT/block/sdb/dev")")
printf '%d:%d\n' "0x$(stat -c %t "$loop")" "0x$(stat -c %T "$loop")" >"$sdb/dev"
rm -f "$VORN_DEV_ROOT/sdb"
ln -s "$loop" "$VORN_DEV_ROOT/sdb"
disk=PhysicalDrive1

head -c "$((mib << 20))" /dev/urandom >"$dir/data.bin"
"$ctl" make-routine "$dir/r.vorn" --data "$dir/data.bin" --title Bench >/dev/null
"$ctl" format "$disk" --yes >/dev/null
"$ctl" add "$disk" "$dir/r.vorn" --yes --quiet >/dev/null
"$ctl" backup "$disk" "$dir/backup.img" --quiet >/dev/null
image_mib=$(awk -v b="$(stat -c %s "$dir/backup.img")" 'BEGIN { printf "%.1f", b / 1048576 }')

seconds() {  # command...
  local start end
  start=$(date +%s.%N)
  "$@" >/dev/null
  end=$(date +%s.%N)
  awk -v a="$start" -v b="$end" 'BEGIN { printf "%.3f\n", b - a }'
}
fresh() { "$ctl" format "$disk" --yes --no-verify >/dev/null; sync; echo 3 >/proc/sys/vm/drop_caches; }
dd_write() { dd if="$dir/data.bin" of="$loop" bs=1M seek=1 oflag=dsync conv=notrunc status=none; }
dd_read() { dd if="$loop" of=/dev/null bs=1M skip=1 count="$mib" iflag=direct status=none; }
dd_image() { dd if="$dir/backup.img" of="$loop" bs=1M oflag=dsync conv=notrunc status=none; }
best() { printf '%s\n' "$@" | sort -g | head -1; }
# The median of the per-run ratios ours/peer: each pair ran back to back, so a
# slow spell of the shared disk weighs on both sides of one ratio.
median_ratio() {  # "ours..." "peer..."
  local -a o=($1) p=($2) r=()
  for k in "${!o[@]}"; do r+=("$(awk -v a="${o[$k]}" -v b="${p[$k]}" 'BEGIN { printf "%.4f", a / b }')"); done
  printf '%s\n' "${r[@]}" | sort -g | awk '{ v[NR] = $1 } END { printf "%.2f", NR % 2 ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'
}

add_plain=() add_checked=() restore=() format=() peer_write=() peer_read=() peer_image=()
for _ in $(seq "$runs"); do
  fresh; add_plain+=("$(seconds "$ctl" add "$disk" "$dir/r.vorn" --yes --quiet --no-verify)")
  fresh; peer_write+=("$(seconds dd_write)")
  peer_read+=("$(seconds dd_read)")
  fresh; add_checked+=("$(seconds "$ctl" add "$disk" "$dir/r.vorn" --yes --quiet)")
  fresh; restore+=("$(seconds "$ctl" restore "$dir/backup.img" "$disk" --yes --quiet)")
  fresh; peer_image+=("$(seconds dd_image)")
  format+=("$(seconds "$ctl" format "$disk" --yes)")
done
a=$(best "${add_plain[@]}"); c=$(best "${add_checked[@]}"); r=$(best "${restore[@]}")
f=$(best "${format[@]}"); w=$(best "${peer_write[@]}"); d=$(best "${peer_read[@]}"); i=$(best "${peer_image[@]}")
printf 'card writes on %s (loop device over a file in %s), %d MiB routine, %s MiB image, %d runs\n' \
  "$loop" "$work" "$mib" "$image_mib" "$runs"
awk -v m="$mib" -v im="$image_mib" -v a="$a" -v c="$c" -v r="$r" -v f="$f" -v w="$w" -v d="$d" -v i="$i" 'BEGIN {
  printf "best of the runs:\n"
  printf "  vorn3ctl add --no-verify       %7.3f s  %7.1f MiB/s\n", a, m / a
  printf "  dd bs=1M oflag=dsync           %7.3f s  %7.1f MiB/s\n", w, m / w
  printf "  vorn3ctl add (with read-back)  %7.3f s  %7.1f MiB/s\n", c, m / c
  printf "  dd iflag=direct bs=1M (read)   %7.3f s  %7.1f MiB/s\n", d, m / d
  printf "  vorn3ctl restore               %7.3f s  %7.1f MiB/s\n", r, im / r
  printf "  dd bs=1M oflag=dsync (image)   %7.3f s  %7.1f MiB/s\n", i, im / i
  printf "  vorn3ctl format                %7.3f s\n", f
}'
both=()
for k in "${!peer_write[@]}"; do both+=("$(awk -v a="${peer_write[$k]}" -v b="${peer_read[$k]}" 'BEGIN { printf "%.3f", a + b }')"); done
per_mib_restore=() per_mib_add=()
for k in "${!restore[@]}"; do
  per_mib_restore+=("$(awk -v a="${restore[$k]}" -v m="$image_mib" 'BEGIN { printf "%.5f", a / m }')")
  per_mib_add+=("$(awk -v a="${add_checked[$k]}" -v m="$mib" 'BEGIN { printf "%.5f", a / m }')")
done
printf 'median of the per-run ratios:\n'
printf '  add --no-verify / dd write              %s  (goal <= 1.25)\n' "$(median_ratio "${add_plain[*]}" "${peer_write[*]}")"
printf '  add / (dd write + dd direct read)       %s  (goal <= 1.25)\n' "$(median_ratio "${add_checked[*]}" "${both[*]}")"
printf '  restore / dd write of the image         %s\n' "$(median_ratio "${restore[*]}" "${peer_image[*]}")"
printf '  restore / add, per MiB (both read back) %s  (goal <= 1)\n' "$(median_ratio "${per_mib_restore[*]}" "${per_mib_add[*]}")"
