#!/usr/bin/env bash
# The whole update with the program unpacked from the package, with the build and source
# trees hidden from it: what it needs must come from the package and the system.
# Usage: unpacked_update.sh DEB BUILD_DIR SOURCE_DIR
set -euo pipefail
deb=$1
build=$(realpath "$2")
source=$(realpath "$3")

root=$(mktemp -d)
trap 'rm -rf "$root"' EXIT
dpkg-deb -x "$deb" "$root"
program=$root/usr/bin/quillmoor-updater

if readelf -d "$program" | grep -Eq 'R(UN)?PATH'; then
    echo "FAILED: the program carries a library search path: $(readelf -d "$program" | grep -E 'R(UN)?PATH')" >&2
    exit 1
fi

export QLM_BUILD_DIR=$build
exec python3 "$source/tests/acceptance/acceptance.py" --updater "$program" \
    --hide "$build" --hide "$source" update
