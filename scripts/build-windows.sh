#!/usr/bin/env bash
# Builds the Windows program on this machine (Debian 12): Qt for Windows once into a cache,
# GoogleTest for MinGW-w64, the updater and its tests cross-built with MinGW-w64, then a
# self-contained folder, its ZIP and its installer (MSI). Installs what is missing (as root).
# Usage: scripts/build-windows.sh [build-dir]            (default build-win)
# Environment:
#   QLM_WIN_CACHE         cache folder (default ~/.cache/quillmoor)
#   QLM_QT_WIN_PREFIX     Qt for Windows (default $QLM_WIN_CACHE/qt-6.4.2-mingw64)
#   QLM_GTEST_WIN_PREFIX  GoogleTest for MinGW-w64 (default $QLM_WIN_CACHE/googletest-mingw64)
#   QLM_SIGN_PFX, QLM_SIGN_PASSWORD, QLM_SIGN_TIMESTAMP_URL
#                         sign both programs and the MSI with Authenticode (see
#                         scripts/windows/sign.sh); without them nothing is signed
# The tests then run under Wine with: ctest --test-dir build-win
set -euo pipefail
cd "$(dirname "$0")/.."
top=$PWD
build_dir=$(realpath -m "${1:-build-win}")
cache=${QLM_WIN_CACHE:-$HOME/.cache/quillmoor}
export QLM_QT_WIN_PREFIX=${QLM_QT_WIN_PREFIX:-$cache/qt-6.4.2-mingw64}
gtest_prefix=${QLM_GTEST_WIN_PREFIX:-$cache/googletest-mingw64}
toolchain=$top/cmake/toolchains/mingw-w64-x86_64.cmake
# The version is the CMake project's.
version=$(sed -n 's/^project([A-Za-z]* VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
package=quillmoor-updater-$version-win64
jobs=${QLM_JOBS:-$(nproc)}

step() { echo "== $* ($(date -u +%H:%M:%S))"; }

# Cross compilers and Ninja; Qt's host tools and its Windows sources; zlib and GoogleTest for
# MinGW; Wine for the tests; the host build of the simulated device; the pictures' renderer;
# the acceptance runs' virtual display and driver; the program's icon (icotool, and wrestool
# to read resources back), the installer's builder and the Authenticode signer (with openssl
# for the signing test's certificates).
packages=(cmake ninja-build dpkg-dev g++-mingw-w64-x86-64-posix gcc-mingw-w64-x86-64-posix
          qt6-base-dev-tools libz-mingw-w64-dev googletest wine wine64 fonts-wine
          librsvg2-bin zip python3 g++ qt6-base-dev libgl-dev zlib1g-dev
          xvfb xauth xdotool imagemagick icoutils wixl msitools osslsigncode openssl)
# Qt's Windows sources come from Debian's source packages.
if ! grep -rqs '^Types:.*deb-src' /etc/apt/sources.list.d/ && \
   ! grep -qs '^deb-src' /etc/apt/sources.list; then
    if [ "$(id -u)" -ne 0 ]; then
        echo "No deb-src entry for Qt's sources; run as root." >&2
        exit 1
    fi
    sed 's/^Types: deb$/Types: deb-src/' /etc/apt/sources.list.d/debian.sources \
        > /etc/apt/sources.list.d/debian-src.sources
    apt-get update -q >/dev/null
fi
step "packages"
. scripts/install-packages.sh
install_packages "${packages[@]}"

step "Qt for Windows"
bash scripts/windows/build-qt.sh "$QLM_QT_WIN_PREFIX"

step "GoogleTest for MinGW-w64"
gtest_key=$( { echo googletest-1.12.1; cat "$toolchain"; } | sha256sum | cut -c1-16)
if [ "$(cat "$gtest_prefix/.quillmoor-build-key" 2>/dev/null)" != "$gtest_key" ]; then
    work=$(mktemp -d "${TMPDIR:-/tmp}/qlm-gtest-build.XXXXXX")
    rm -rf "$gtest_prefix"
    cmake -G Ninja -S /usr/src/googletest -B "$work" -DCMAKE_TOOLCHAIN_FILE="$toolchain" \
        -DCMAKE_BUILD_TYPE=Release -DBUILD_SHARED_LIBS=OFF -DCMAKE_INSTALL_PREFIX="$gtest_prefix" \
        > "$work.log" 2>&1 || { tail -n 30 "$work.log"; exit 1; }
    cmake --build "$work" -j"$jobs" >> "$work.log" 2>&1 || { tail -n 30 "$work.log"; exit 1; }
    cmake --install "$work" > /dev/null
    echo "$gtest_key" > "$gtest_prefix/.quillmoor-build-key"
    rm -rf "$work" "$work.log"
fi

# The simulated device runs on this machine, next to the Windows program under Wine.
step "simulated device (host build)"
cmake -G Ninja -S . -B "$build_dir/host" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DQLM_BUILD_TESTS=OFF > /dev/null
cmake --build "$build_dir/host" -j"$jobs" --target quillmoor-sim > /dev/null

step "updater and tests for Windows"
start=$(date +%s)
"$QLM_QT_WIN_PREFIX/bin/qt-cmake" -G Ninja -S . -B "$build_dir" -DCMAKE_BUILD_TYPE=Release \
    -DQT_CHAINLOAD_TOOLCHAIN_FILE="$toolchain" \
    -DQT_ADDITIONAL_PACKAGES_PREFIX_PATH="$gtest_prefix" \
    -DQLM_HOST_SIM="$build_dir/host/tools/sim/quillmoor-sim" > /dev/null
cmake --build "$build_dir" -j"$jobs"
echo "cross build: $(( $(date +%s) - start )) s"

step "gathering $package"
python3 scripts/windows/gather.py "$build_dir/src/updater/quillmoor-updater.exe" \
    "$build_dir/src/cli/quillmoor-flash.exe" "$build_dir/$package" --qt "$QLM_QT_WIN_PREFIX"
# The programs are signed before they go into the ZIP and the MSI, the MSI once it is made.
signing=0
bash scripts/windows/sign.sh --status || signing=$?
[ $signing -le 1 ] || exit 1 # incomplete settings: no release goes out unsigned by mistake
sign() { [ $signing -ne 0 ] || bash scripts/windows/sign.sh "$@"; }
sign "$build_dir/$package"/*.exe
(cd "$build_dir" && rm -f "$package.zip" && zip -qr "$package.zip" "$package")
echo "$build_dir/$package.zip"

step "installer $package.msi"
python3 scripts/windows/make_msi.py "$build_dir/$package" "$build_dir/$package.msi" \
    --version "$version" --program quillmoor-updater.exe \
    --icon "$build_dir/src/updater/quillmoor-updater-resources/quillmoor-updater.ico"
sign "$build_dir/$package.msi"
