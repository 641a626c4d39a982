#!/usr/bin/env bash
# Installs what the build and the packaging need (Debian 12, as root), builds the updater
# with Debian's compiler flags and makes its Debian package in the build folder.
# Usage: scripts/package.sh [build-dir]   (default build-pkg)
set -euo pipefail
cd "$(dirname "$0")/.."
build_dir=${1:-build-pkg}

packages=(cmake g++ make pkg-config qt6-base-dev qt6-svg-dev libgl-dev zlib1g-dev
          dpkg-dev file lintian desktop-file-utils appstream librsvg2-bin)
missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
    echo "Installing: ${missing[*]}"
    if [ "$(id -u)" -ne 0 ]; then
        echo "Missing packages and not root: run as root, or install them with apt-get." >&2
        exit 1
    fi
    export DEBIAN_FRONTEND=noninteractive
    apt-get update -q
    apt-get install -y -q --no-install-recommends "${missing[@]}"
fi

# Debian's flags: hardening, and source paths made relative in the program.
export DEB_BUILD_MAINT_OPTIONS=hardening=+all
cxxflags="$(dpkg-buildflags --get CPPFLAGS) $(dpkg-buildflags --get CXXFLAGS)"
ldflags=$(dpkg-buildflags --get LDFLAGS)
cmake -S . -B "$build_dir" -DCMAKE_BUILD_TYPE=None -DQLM_BUILD_TESTS=OFF \
    -DCMAKE_CXX_FLAGS="$cxxflags" -DCMAKE_EXE_LINKER_FLAGS="$ldflags" >/dev/null
cmake --build "$build_dir" -j2
bash packaging/linux/make-deb.sh "$build_dir" "$build_dir"
