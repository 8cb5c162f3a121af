#!/usr/bin/env bash
# Refreshes the screenshots in docs/ from the built program, on a virtual X
# display (Debian: xvfb and xauth; with openbox installed the windows get
# their title bars, as on a desktop).
set -euo pipefail
cd "$(dirname "$0")/.."
BUILD_DIR=${PLUMORA_BUILD_DIR:-build}
cmake --build "$BUILD_DIR" --target plumora_screenshots
session='
  if command -v openbox >/dev/null; then openbox & sleep 1; fi
  "$0" docs "$1"'
# Settings of its own: what the windows remember is not the user's.
config=$(mktemp -d)
trap 'rm -rf "$config"' EXIT
for palette in light dark; do
  XDG_CONFIG_HOME=$config QT_QPA_PLATFORM=xcb xvfb-run -a -s "-screen 0 1100x760x24" bash -c "$session" "$BUILD_DIR/plumora_screenshots" "$palette"
done
