#!/usr/bin/env bash
# Sets up, builds and runs the demo: a local update server, the simulated device paced at
# the real line rate, and the updater window pointed at both.
# Options are passed to tools/demo/quillmoor_demo.py (--fast, --screenshot PNG, --keep).
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh build
export QLM_BUILD_DIR="$PWD/build"

if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ] && [[ " $* " != *" --screenshot "* ]]; then
    shot="$PWD/quillmoor-demo.png"
    echo "No display here, so the window runs on a virtual display of its own and a picture"
    echo "of it is taken mid-update: $shot"
    echo "To watch it live, run this command on a desktop, or under a display you can view."
    exec python3 tools/demo/quillmoor_demo.py --screenshot "$shot" "$@"
fi
exec python3 tools/demo/quillmoor_demo.py "$@"
