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
# Missing hardening is only informed about: those tags fail the test as well.
status=0
lintian --fail-on error,warning --display-level '>=info' "$deb" >"$out/lintian.log" 2>&1 || status=$?
grep -E '^(E|W): |hardening-no-' "$out/lintian.log" >&2 && status=1
exit $status
