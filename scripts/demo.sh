#!/usr/bin/env bash
# Installs what is missing, builds, and runs the program's main job on a demo disk.
set -euo pipefail
cd "$(dirname "$0")/.."

./scripts/install-deps.sh
cmake --preset default >/dev/null
cmake --build --preset default -j "$(nproc)"
exec ./scripts/run-demo.sh "$@"
