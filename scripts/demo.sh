#!/usr/bin/env bash
# Sets up, builds and starts the updater window.
set -euo pipefail
cd "$(dirname "$0")/.."
build_dir=${1:-build}
bash scripts/setup.sh "$build_dir"
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ] && [ -z "${QT_QPA_PLATFORM:-}" ]; then
    echo "No display. To look at the window, run this under a virtual display:" >&2
    echo "  xvfb-run -a -s '-screen 0 1024x768x24' bash scripts/demo.sh" >&2
    exit 1
fi
exec "$build_dir/src/updater/quillmoor-updater"
