#!/usr/bin/env bash
# Installs the build tree into a scratch prefix and checks what lands there:
# both programs (and that they run from there, finding each other), the desktop
# entry, its icon and the udev rule for units. Usage: install-tree-test.sh BUILD_DIR
set -euo pipefail
build=$1
prefix=$(mktemp -d)
trap 'rm -rf "$prefix"' EXIT

cmake --install "$build" --prefix "$prefix" >/dev/null

fail=0
expect() {  # PATH
  [ -e "$prefix/$1" ] || { echo "missing after install: $1" >&2; fail=1; }
}
expect bin/vorn3manager
expect bin/vorn3ctl
expect lib/udev/rules.d/70-vorn3-unit.rules
expect share/doc/vorn3manager/named-objects.md
if grep -q '^VORN_BUILD_UI:BOOL=ON' "$build/CMakeCache.txt"; then
  expect share/applications/vorn3manager.desktop
  expect share/icons/hicolor/64x64/apps/vorn3manager.png
  grep -qx 'Exec=vorn3manager' "$prefix/share/applications/vorn3manager.desktop" ||
    { echo "desktop entry does not start vorn3manager" >&2; fail=1; }
fi
if find "$prefix" -name 'libvornusbsim*' | grep -q .; then
  echo "the unit simulator must not be installed" >&2; fail=1
fi
# The rule must match the unit's USB identity the program looks for.
grep -q 'ATTR{idVendor}=="aa00", ATTR{idProduct}=="0001"' "$prefix/lib/udev/rules.d/70-vorn3-unit.rules" ||
  { echo "udev rule does not match the unit's vendor and product id" >&2; fail=1; }

# The installed tool runs and finds the installed manager beside it: `units`
# starts it in list mode (no units here, so the list is empty). The list's
# names are machine-wide, so this waits for other tests that use them (same
# lock), and the manager arbitrates its mode in a run-time directory of its own.
"$prefix/bin/vorn3ctl" --version >/dev/null
mkdir -m 0700 "$prefix/run"
(cd / && XDG_RUNTIME_DIR="$prefix/run" flock /tmp/vorn-list-objects.lock \
   env -u VORN3MANAGER "$prefix/bin/vorn3ctl" units >/dev/null) ||
  { echo "installed vorn3ctl units failed" >&2; fail=1; }

# The Wine module, where the installed vorn3ctl finds it, linked by wine-setup
# at its installed path (a prefix's bare bones suffice for the set-up).
if [ -e "$build/app/vorn3manager.exe.so" ]; then
  expect lib/vorn3manager/vorn3manager.exe.so
  mkdir -p "$prefix/wineprefix/drive_c" && touch "$prefix/wineprefix/system.reg"
  env -u VORN_WINE_MODULE "$prefix/bin/vorn3ctl" wine-setup "$prefix/wineprefix" --as 'C:\ZOV\VORN3Manager.exe' >/dev/null &&
    [ "$(readlink "$prefix/wineprefix/drive_c/ZOV/VORN3Manager.exe")" = "$prefix/lib/vorn3manager/vorn3manager.exe.so" ] ||
    { echo "installed vorn3ctl wine-setup does not link the installed module" >&2; fail=1; }
fi
exit $fail
