#!/usr/bin/env bash
# Installs what is missing, builds the programs the demo runs (not the tests),
# and runs the program's main job on a demo disk kept between runs.
set -euo pipefail
cd "$(dirname "$0")/.."

./scripts/install-deps.sh
cmake --preset default >/dev/null
cmake --build --preset default -j "$(nproc)" --target vorn3manager vorn3ctl vornusbsim
exec ./scripts/run-demo.sh "$@"
