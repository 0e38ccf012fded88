#!/usr/bin/env bash
# Redraws docs/screenshots/main-window.png: the main window on a disk image with
# a few routines, under a virtual X display.
set -euo pipefail
cd "$(dirname "$0")/.."
cmake --build --preset default --target ui_screenshot >/dev/null
mkdir -p docs/screenshots
QT_QPA_PLATFORM=xcb xvfb-run -a -s "-screen 0 1024x768x24" \
  ./build/default/tests/ui/ui_screenshot docs/screenshots/main-window.png
echo "docs/screenshots/main-window.png"
