#!/usr/bin/env bash
# Installs what the build and the packaging need (Debian 12, as root), builds the updater
# with Debian's compiler flags and makes its Debian package in the build folder.
# Usage: scripts/package.sh [build-dir]   (default build-pkg)
set -euo pipefail
cd "$(dirname "$0")/.."
build_dir=${1:-build-pkg}

packages=(cmake g++ make pkg-config qt6-base-dev qt6-svg-dev libgl-dev zlib1g-dev
          dpkg-dev file lintian desktop-file-utils appstream librsvg2-bin)
. scripts/install-packages.sh
install_packages "${packages[@]}"

# Debian's flags: hardening, and source paths made relative in the program.
export DEB_BUILD_MAINT_OPTIONS=hardening=+all
cxxflags="$(dpkg-buildflags --get CPPFLAGS) $(dpkg-buildflags --get CXXFLAGS)"
ldflags=$(dpkg-buildflags --get LDFLAGS)
cmake -S . -B "$build_dir" -DCMAKE_BUILD_TYPE=None -DQLM_BUILD_TESTS=OFF \
    -DCMAKE_CXX_FLAGS="$cxxflags" -DCMAKE_EXE_LINKER_FLAGS="$ldflags" >/dev/null
cmake --build "$build_dir" -j2
bash packaging/linux/make-deb.sh "$build_dir" "$build_dir"
