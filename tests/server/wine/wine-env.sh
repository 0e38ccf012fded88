#!/usr/bin/env bash
# Sourced by the Wine test and the Wine relay benchmark: a throw-away Wine
# prefix in $work/prefix, copied from a template made once per build tree
# (keyed by Wine's version), every Wine call bounded, the prefix's wineserver
# killed and $work removed on every way out.
#
# Needs: wine64, wineserver, template_root set by the caller.

export WINEDEBUG=-all DISPLAY= WAYLAND_DISPLAY= WINEDLLOVERRIDES="mscoree,mshtml="
unset QT_QPA_PLATFORM
bounded() { timeout -k 5 "$@"; }

work=$(mktemp -d)
cleanup() {
  WINEPREFIX=$work/prefix bounded 10 "$wineserver" -k 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

# The template: made aside and renamed into place, under a lock, so that a
# parallel run never sees half of one.
version=$(bounded 30 "$wine64" --version | tr -c 'A-Za-z0-9.\n' '_')
template=$template_root/wine-template-$version
if [ ! -f "$template/system.reg" ]; then
  mkdir -p "$template_root"
  (
    flock 9
    if [ ! -f "$template/system.reg" ]; then
      made=$(mktemp -d "$template_root/wine-template.XXXXXX")
      if ! WINEPREFIX=$made bounded 180 "$wine64" wineboot -i >/dev/null 2>&1 ||
         ! WINEPREFIX=$made bounded 60 "$wineserver" -w; then
        WINEPREFIX=$made bounded 10 "$wineserver" -k 2>/dev/null || true
        rm -rf "$made"
        echo "wine-env: wineboot failed or took too long" >&2
        exit 1
      fi
      rm -rf "$template" && mv "$made" "$template"
    fi
  ) 9>"$template_root/wine-template.lock"
fi
# Copied, never hard-linked: Wine rewrites its registry files in place.
cp -a "$template" "$work/prefix"
export WINEPREFIX=$work/prefix
