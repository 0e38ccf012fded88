#!/usr/bin/env bash
# Builds a drive fixture tree in DIR for end-to-end tests of vorn3ctl and the
# window: a SATA system disk sda (holding "/", never offered) and a USB card
# reader sdb with a blank card of SIZE_MIB MiB (offered as PhysicalDrive1),
# whose device node DIR/dev/sdb is a sparse image file. Prints the variables
# that point the program at the tree (see docs/drives.md, "Test hooks").
#
#   eval "$(scripts/make-drive-fixture.sh /tmp/fx 64)"; vorn3ctl devices
set -euo pipefail
dir=${1:?usage: make-drive-fixture.sh DIR [SIZE_MIB]}
mib=${2:-64}
mkdir -p "$dir"
dir=$(cd "$dir" && pwd)
sys=$dir/sys

disk() {  # name sectors device parent-directory
  local name=$1 sectors=$2 device=$3 parent=$4
  mkdir -p "$parent/block/$name/queue" "$parent/block/$name/holders" "$parent/block/$name/slaves"
  echo "$device" >"$parent/block/$name/dev"
  echo "$sectors" >"$parent/block/$name/size"
  echo 0 >"$parent/block/$name/removable"
  echo 512 >"$parent/block/$name/queue/logical_block_size"
  ln -sfn "$(realpath --relative-to="$sys/block" "$parent/block/$name")" "$sys/block/$name"
  rm -f "$dir/dev/$name"
  truncate -s $((sectors * 512)) "$dir/dev/$name"
}

rm -rf "$sys"
mkdir -p "$sys/block" "$sys/bus/usb" "$sys/bus/scsi" "$dir/dev"

ata=$sys/devices/pci0000:00/0000:00:1f.2/ata1/host0/target0:0:0/0:0:0:0
mkdir -p "$ata"
ln -sfn "$(realpath --relative-to="$ata" "$sys/bus/scsi")" "$ata/subsystem"
disk sda 2097152 8:0 "$ata"
mkdir -p "$ata/block/sda/sda1/holders"
echo 1 >"$ata/block/sda/sda1/partition"
echo 8:1 >"$ata/block/sda/sda1/dev"
echo 2097152 >"$ata/block/sda/sda1/size"
truncate -s 0 "$dir/dev/sda1"

usb=$sys/devices/pci0000:00/0000:00:14.0/usb1/1-1
reader=$usb/1-1:1.0/host6/target6:0:0/6:0:0:0
mkdir -p "$reader"
ln -sfn "$(realpath --relative-to="$usb" "$sys/bus/usb")" "$usb/subsystem"
disk sdb $((mib * 2048)) 8:16 "$reader"

echo "26 1 8:1 / / rw,relatime shared:1 - ext4 /dev/sda1 rw" >"$dir/mountinfo"
printf 'Filename\t\t\t\tType\t\tSize\t\tUsed\t\tPriority\n' >"$dir/swaps"

cat <<VARS
export VORN_SYSFS_ROOT=$sys
export VORN_DEV_ROOT=$dir/dev
export VORN_MOUNTINFO=$dir/mountinfo
export VORN_SWAPS=$dir/swaps
VARS
