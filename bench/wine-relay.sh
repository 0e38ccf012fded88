#!/usr/bin/env bash
# Live relay under Wine beside the native relay: 10,000 blocks of 126 payload
# bytes, data ready -> data done, median and p99.
#
#   Wine:   the Windows editor stand-in (tests/server/wine/EditorStandIn.c)
#           under wine64 -> vorn3manager.exe.so -> unit simulator
#   peer:   relay_bench, the native client -> vorn3manager -> unit simulator,
#           run by this script on the same machine just before
#   floor:  the stand-in's bare event handshake with a copy of itself under
#           wine64 (no manager, no unit): what Wine's server costs per round
#           trip on this machine, which the relay cannot go below
#
# usage: bench/wine-relay.sh [BUILD_DIR]   (default build/default; needs the
# relay_bench, vorn3ctl, the Wine module and the stand-in built there)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:-$root/build/default}" && pwd)
wine64=/usr/lib/wine/wine64 wineserver=/usr/lib/wine/wineserver template_root=$build/wine
standin=$build/tests/server/zov-standin.exe
for f in "$build/bench/relay_bench" "$build/tools/vorn3ctl" "$build/app/vorn3manager.exe.so" "$standin"; do
  [ -e "$f" ] || { echo "wine-relay: $f is not built" >&2; exit 1; }
done

native=$("$build/bench/relay_bench")
read -r native_median native_p99 < <(sed -n 's/.*client -> server -> simulator: *median *\([0-9.]*\) us *p99 *\([0-9.]*\) us/\1 \2/p' <<<"$native")

source "$root/tests/server/wine/wine-env.sh"
export VORN_WINE_MODULE=$build/app/vorn3manager.exe.so
exe=$("$build/tools/vorn3ctl" wine-setup "$WINEPREFIX")
mkdir -m 700 "$work/run"
printf 'bus 001\nunit 250\nmanufacturer Calverin\nproduct "VORN unit"\ncapture %s/capture.bin\n' "$work" >"$work/sim.conf"
# One short run first: Wine's start-up (wineserver, the prefix) is not relay time.
XDG_RUNTIME_DIR=$work/run LD_PRELOAD=$build/sim/libvornusbsim.so VORN_USB_SIM_CONFIG=$work/sim.conf \
  timeout -k 5 60 "$wine64" "$standin" bench "$exe" VORN250 38400 100 >/dev/null
out=$(XDG_RUNTIME_DIR=$work/run LD_PRELOAD=$build/sim/libvornusbsim.so VORN_USB_SIM_CONFIG=$work/sim.conf \
  timeout -k 5 300 "$wine64" "$standin" bench "$exe" VORN250 38400 10000 | tr -d '\r')
read -r wine_median wine_p99 < <(sed -n 's/^median \([0-9.]*\) p99 \([0-9.]*\)$/\1 \2/p' <<<"$out")
[ -n "${wine_median:-}" ] || { echo "wine-relay: the Wine run failed: $out" >&2; exit 1; }
floor=$(timeout -k 5 120 "$wine64" "$standin" handshake 10000 | tr -d '\r')
read -r floor_median floor_p99 < <(sed -n 's/^median \([0-9.]*\) p99 \([0-9.]*\)$/\1 \2/p' <<<"$floor")
[ -n "${floor_median:-}" ] || { echo "wine-relay: the Wine handshake failed: $floor" >&2; exit 1; }

echo "live relay, 10000 blocks of 126 payload bytes, data ready -> data done:"
printf '  Wine editor -> vorn3manager.exe.so -> simulator: median %8.1f us   p99 %8.1f us\n' "$wine_median" "$wine_p99"
printf '  peer: native client -> vorn3manager -> simulator: median %8.1f us   p99 %8.1f us\n' "$native_median" "$native_p99"
printf '  peer: bare Wine event handshake, two processes:  median %8.1f us   p99 %8.1f us\n' "$floor_median" "$floor_p99"
awk -v wm="$wine_median" -v wp="$wine_p99" -v nm="$native_median" -v np="$native_p99" \
    -v fm="$floor_median" -v fp="$floor_p99" 'BEGIN {
  printf "  ratio Wine / native:                             median %8.2f      p99 %8.2f\n", wm / nm, wp / np
  printf "  ratio Wine relay / bare Wine handshake:          median %8.2f      p99 %8.2f\n", wm / fm, wp / fp
  printf "  goal: Wine median below 100 us: %s\n", (wm < 100 ? "met" : "NOT met")
}'
echo "  (load average: $(cut -d' ' -f1-3 /proc/loadavg))"
