#!/usr/bin/env bash
# Installs what the build needs, builds, puts the sample sources beside the program and starts
# it. Without a display, runs it for a few seconds under a virtual one and saves a screenshot.
set -euo pipefail
cd "$(dirname "$0")"
source scripts/install-deps.sh
if [ -n "${DISPLAY:-}" ] || [ -n "${WAYLAND_DISPLAY:-}" ]; then
  vellomar_install_deps
  vellomar_build
  exec ./build/vellomar
fi
vellomar_install_deps xvfb xauth imagemagick x11-utils
vellomar_build
shot="$PWD/build/screenshot.png"
xvfb-run -a -s "-screen 0 800x600x24" bash -c '
  ./build/vellomar & pid=$!
  for _ in $(seq 50); do xwininfo -root -tree 2>/dev/null | grep -q "Vellomar - v" && break; sleep 0.2; done
  sleep 2
  import -window root "$1"
  kill "$pid"; wait "$pid" 2>/dev/null || true' _ "$shot"
echo "No display: ran the program under Xvfb and saved a screenshot to build/screenshot.png"
