#!/usr/bin/env bash
# Installs every Debian package the project needs to build, test and run its demo.
# Idempotent: installs only what is missing, runs `apt-get update` at most once.
set -euo pipefail

packages=(
  build-essential cmake ninja-build pkg-config git
  libgtest-dev libgmock-dev
  qt6-base-dev qt6-multimedia-dev qt6-svg-dev
  libtomlplusplus-dev libxxhash-dev
  libavformat-dev libavcodec-dev libswresample-dev libavutil-dev
  libmp3lame-dev libusb-dev libudev-dev libblkid-dev libsystemd-dev
  libcli11-dev nlohmann-json3-dev
  # manual pages, icons and package checks made at build and test time
  help2man librsvg2-bin appstream lintian fakeroot
  # test peers and fixture makers only; the product links the libraries above
  xvfb xauth ffmpeg lame sox
  # a private system bus with a stub udisks2 (tests/tools/udisks2-test.sh), and
  # the real disk service with polkit and udev (tests/system/real-udisks.sh),
  # whose file system makers lay old signatures on test cards
  dbus python3-dbus python3-gi udisks2 udev polkitd dosfstools e2fsprogs fdisk
  # the module for a show editor under Wine (wineg++), and the Windows editor
  # stand-in that tests it under wine64: only the 64-bit C cross compiler, not
  # the mingw-w64 set (which adds the 32-bit and C++ ones, ~330 MB more)
  wine64 wine64-tools gcc-mingw-w64-x86-64-win32
  # the fuzz harnesses (scripts/fuzz.sh): clang with libFuzzer and the sanitizers
  clang libclang-rt-14-dev
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi

sudo=""
if [ "$(id -u)" -ne 0 ]; then
  sudo="sudo"
fi
echo "Installing: ${missing[*]}" >&2
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get update -qq
$sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
