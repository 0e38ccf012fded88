#!/usr/bin/env bash
# Builds the Debian package from the build tree and has lintian check it: no
# error and no warning may be reported. Usage: package-lint-test.sh BUILD_DIR
set -euo pipefail
build=$(cd "$1" && pwd)
out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT

(cd "$build" && cpack -G DEB -B "$out" >"$out/cpack.log") || { cat "$out/cpack.log" >&2; exit 1; }
deb=$(ls "$out"/*.deb)
# Root is warned about (on stderr), not refused; the CI runs as root.
status=0
lintian --fail-on error,warning --display-level '>=warning' "$deb" >"$out/lintian.log" 2>&1 || status=$?
grep -v '^running with root privileges' "$out/lintian.log" >&2 || true
exit $status
