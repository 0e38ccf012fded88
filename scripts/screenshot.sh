#!/usr/bin/env bash
# Redraws the pictures in docs/screenshots/ under a virtual X display: the main
# window on a disk image with a few routines, during an import, and a question.
set -euo pipefail
cd "$(dirname "$0")/.."
cmake --build --preset default --target ui_screenshot >/dev/null
mkdir -p docs/screenshots
QT_QPA_PLATFORM=xcb xvfb-run -a -s "-screen 0 1024x768x24" \
  ./build/default/tests/ui/ui_screenshot docs/screenshots
ls docs/screenshots/*.png
