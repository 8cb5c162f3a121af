#!/usr/bin/env bash
# Refreshes the screenshots in docs/ from the built program, on a virtual X
# display (Debian: xvfb and xauth).
set -euo pipefail
cd "$(dirname "$0")/.."
BUILD_DIR=${PLUMORA_BUILD_DIR:-build}
cmake --build "$BUILD_DIR" --target plumora_screenshots
QT_QPA_PLATFORM=xcb xvfb-run -a -s "-screen 0 1100x760x24" "$BUILD_DIR/plumora_screenshots" docs
