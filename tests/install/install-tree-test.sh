#!/usr/bin/env bash
# Installs the build tree into a scratch prefix and checks what lands there:
# both programs (and that they run from there, finding each other), their
# manual pages, vorn3ctl's bash completion (run through bash's own compgen
# against the installed program and a drive fixture), the desktop entry, its
# icons and AppStream metadata, the documentation and the udev rule for units.
# Usage: install-tree-test.sh BUILD_DIR
set -euo pipefail
# The programs decide by what they can reach, not by the developer's display.
unset DISPLAY WAYLAND_DISPLAY QT_QPA_PLATFORM
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
for doc in README.md copyright changelog.gz named-objects.md drives.md text-encoding.md; do
  expect share/doc/vorn3manager/$doc
done
grep -q 'ctl/vorn3ctl\|build/default\|scripts/' "$prefix/share/doc/vorn3manager/README.md" &&
  { echo "the installed README speaks of the source tree" >&2; fail=1; }
if grep -q '^VORN_BUILD_UI:BOOL=ON' "$build/CMakeCache.txt"; then
  expect share/applications/vorn3manager.desktop
  for size in 16 22 24 32 48 64 128 256; do
    expect share/icons/hicolor/${size}x${size}/apps/vorn3manager.png
    # The PNG header's width and height, 32-bit big-endian each.
    [ "$(od -An -tu1 -j16 -N8 "$prefix/share/icons/hicolor/${size}x${size}/apps/vorn3manager.png" | tr -s ' ')" \
      = " 0 0 $((size >> 8)) $((size & 255)) 0 0 $((size >> 8)) $((size & 255))" ] ||
      { echo "icon ${size}x${size} has another size" >&2; fail=1; }
  done
  expect share/icons/hicolor/scalable/apps/vorn3manager.svg
  grep -qx 'Exec=vorn3manager' "$prefix/share/applications/vorn3manager.desktop" ||
    { echo "desktop entry does not start vorn3manager" >&2; fail=1; }
  appstreamcli validate --no-net --pedantic "$prefix"/share/metainfo/*.metainfo.xml >&2 ||
    { echo "AppStream metadata does not validate" >&2; fail=1; }
fi

# Manual pages: from the programs' help, rendered by man without complaint.
for program in vorn3manager vorn3ctl; do
  page=$prefix/share/man/man1/$program.1.gz
  expect share/man/man1/$program.1.gz
  [ -e "$page" ] || continue
  text=$(LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings -l "$page" 2>"$prefix/man-warnings")
  [ -s "$prefix/man-warnings" ] && { cat "$prefix/man-warnings" >&2; fail=1; }
  grep -q "^NAME" <<<"$text" && grep -q "$program - " <<<"$text" ||
    { echo "$program(1) has no NAME section" >&2; fail=1; }
done
zcat "$prefix/share/man/man1/vorn3ctl.1.gz" | grep -q '^\.SS make-routine' ||
  { echo "vorn3ctl(1) lacks the help of its commands" >&2; fail=1; }

# Completion: commands, options and the names of the disks that can be picked.
completion=$prefix/share/bash-completion/completions/vorn3ctl
expect share/bash-completion/completions/vorn3ctl
fixture=$prefix/fixture
"$(dirname "$0")/../../scripts/make-drive-fixture.sh" "$fixture" 8 >"$prefix/fixture.vars"
completes() {  # EXPECTED WORD... : what bash offers for the last word
  local expected=$1
  shift
  local got
  got=$(cd "$prefix" && . ./fixture.vars && PATH=$prefix/bin:$PATH bash -c '
    . "$0"
    complete -p vorn3ctl >/dev/null || exit 1
    COMP_WORDS=("$@"); COMP_CWORD=$(($# - 1)); COMPREPLY=()
    _vorn3ctl
    if ((${#COMPREPLY[@]})); then printf "%s\n" "${COMPREPLY[@]}" | sort | tr "\n" " "; fi' "$completion" "$@") || got="(no completion function)"
  [ "$got" = "$expected" ] || { echo "completing '$*': got '$got', want '$expected'" >&2; fail=1; }
}
if [ -e "$completion" ]; then
  completes "list live " vorn3ctl li
  completes "check create-image " vorn3ctl c
  completes "recover remove remove-last replace restore retitle " vorn3ctl help re
  completes "--json " vorn3ctl list --j
  completes "--size " vorn3ctl create-image card.img --s
  completes "PhysicalDrive1 " vorn3ctl format Phys
  completes "PhysicalDrive1 " vorn3ctl live --routine P
  completes "" vorn3ctl export PhysicalDrive1 ""
  completes "fixture fixture.vars " vorn3ctl restore fix
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
