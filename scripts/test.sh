#!/usr/bin/env bash
# Sets up, builds and runs every test.
# Usage: scripts/test.sh [--sanitize] [build-dir]
#   --sanitize  builds and runs the same suite with AddressSanitizer and
#               UndefinedBehaviorSanitizer (default folder build-asan)
set -euo pipefail
cd "$(dirname "$0")/.."
sanitize=0
if [ "${1:-}" = "--sanitize" ]; then
    sanitize=1
    shift
fi
if [ $sanitize -eq 1 ]; then
    build_dir=${1:-build-asan}
    bash scripts/setup.sh "$build_dir" -DQLM_SANITIZE=ON
    # Any finding fails its test: leaks included, nothing suppressed.
    export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
    export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
    # A virtual display has no session bus; without an address the D-Bus library would try
    # to start one through the X server, and that attempt leaks (outside this project).
    export DBUS_SESSION_BUS_ADDRESS=${DBUS_SESSION_BUS_ADDRESS:-disabled:}
else
    build_dir=${1:-build}
    bash scripts/setup.sh "$build_dir"
fi
export QT_QPA_PLATFORM=offscreen
cd "$build_dir"
ctest --output-on-failure --timeout 300 -j2
