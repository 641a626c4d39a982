#!/usr/bin/env bash
# Installs what the build needs (Debian 12, as root), then configures and builds.
# Usage: scripts/setup.sh [build-dir [cmake options...]]
set -euo pipefail
cd "$(dirname "$0")/.."
build_dir=${1:-build}
shift || true

packages=(cmake g++ make pkg-config qt6-base-dev qt6-svg-dev libgl-dev zlib1g-dev
          libgtest-dev libgmock-dev python3 zip xvfb xauth xdotool x11-utils
          fonts-dejavu-core fonts-liberation imagemagick openssl
          dpkg-dev file lintian desktop-file-utils appstream librsvg2-bin
          dbus-daemon at-spi2-core python3-gi gir1.2-atspi-2.0
          openbox xclip)
. scripts/install-packages.sh
install_packages "${packages[@]}"

cmake -S . -B "$build_dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo "$@" >/dev/null
cmake --build "$build_dir" -j"$(nproc)"
