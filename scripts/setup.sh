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

cmake -S . -B "$build_dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo "$@" >/dev/null
cmake --build "$build_dir" -j"$(nproc)"
