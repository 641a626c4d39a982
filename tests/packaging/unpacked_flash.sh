#!/usr/bin/env bash
# quillmoor-flash unpacked from the package updates a simulated device, with no display.
# Usage: unpacked_flash.sh DEB BUILD_DIR SOURCE_DIR
set -euo pipefail
deb=$1
build=$(realpath "$2")
source=$(realpath "$3")

root=$(mktemp -d)
trap 'rm -rf "$root"' EXIT
dpkg-deb -x "$deb" "$root"

unset DISPLAY WAYLAND_DISPLAY QT_QPA_PLATFORM
export QLM_BUILD_DIR=$build QLM_FLASH_PROGRAM=$root/usr/bin/quillmoor-flash
python3 "$source/tests/cli/flash_program.py" single-port
