#!/usr/bin/env bash
# Sets up, builds and runs every test.
set -euo pipefail
cd "$(dirname "$0")/.."
build_dir=${1:-build}
bash scripts/setup.sh "$build_dir"
export QT_QPA_PLATFORM=offscreen
cd "$build_dir"
ctest --output-on-failure --timeout 300 -j2
