#!/usr/bin/env bash
# Builds Qt's base module for 64-bit Windows from Debian's source package, once, into a cache
# folder keyed by version and options. Prints the prefix on its last line.
# Usage: scripts/windows/build-qt.sh [prefix]
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
top=$(cd "$here/../.." && pwd)
qt_version=6.4.2
prefix=${1:-${QLM_QT_WIN_PREFIX:-$HOME/.cache/quillmoor/qt-$qt_version-mingw64}}
toolchain=$top/cmake/toolchains/mingw-w64-x86_64.cmake

options=(
    -DCMAKE_BUILD_TYPE=Release
    -DQT_BUILD_EXAMPLES=OFF -DQT_BUILD_TESTS=OFF
    -DQT_HOST_PATH=/usr -DQT_HOST_PATH_CMAKE_DIR=/usr/lib/x86_64-linux-gnu/cmake
    # Debian's source leaves out the tablet header the Windows plugin would include.
    -DFEATURE_tabletevent=OFF
    # The Windows platform plugin of this version does not compile without OpenGL.
    -DFEATURE_opengl=ON -DINPUT_opengl=desktop
    -DFEATURE_sql=OFF -DFEATURE_dbus=OFF -DFEATURE_vulkan=OFF -DFEATURE_printsupport=OFF
    -DFEATURE_concurrent=OFF -DFEATURE_xml=OFF -DFEATURE_testlib=ON
    -DFEATURE_openssl=OFF -DFEATURE_schannel=ON
    -DFEATURE_jpeg=OFF -DFEATURE_gif=OFF
)
# The key covers what decides the result: version, options and the toolchain file.
key=$( { echo "$qt_version"; printf '%s\n' "${options[@]}"; cat "$toolchain"; } | sha256sum | cut -c1-16)
stamp=$prefix/.quillmoor-build-key

if [ -f "$stamp" ] && [ "$(cat "$stamp")" = "$key" ] && [ -x "$prefix/bin/qt-cmake" ]; then
    echo "Qt for Windows: reusing $prefix"
    echo "$prefix"
    exit 0
fi

work=$(mktemp -d "${TMPDIR:-/tmp}/qlm-qt-build.XXXXXX")
trap 'rm -rf "$work"' EXIT
echo "Qt for Windows: building $qt_version into $prefix (key $key); this takes a while"
(cd "$work" && apt-get source -q --download-only qt6-base >/dev/null \
    && dpkg-source -x qt6-base_*.dsc qtbase >/dev/null)
rm -rf "$prefix"
start=$(date +%s)
cmake -G Ninja -S "$work/qtbase" -B "$work/build" \
    -DCMAKE_TOOLCHAIN_FILE="$toolchain" -DCMAKE_INSTALL_PREFIX="$prefix" "${options[@]}" \
    > "$work/configure.log" 2>&1 || { tail -n 60 "$work/configure.log"; exit 1; }
# The full output goes to a log; progress shows every hundred steps, the log's end on failure.
if ! cmake --build "$work/build" -j"$(nproc)" 2>&1 | tee "$work/build.log" |
    awk '/^\[[0-9]+\/[0-9]+\]/ { step = substr($1, 2, length($1) - 2); split(step, n, "/")
         if (n[1] % 100 == 0 || n[1] == n[2]) { print "Qt for Windows: step " step; fflush() } }'; then
    tail -n 60 "$work/build.log"
    exit 1
fi
cmake --install "$work/build" > /dev/null
echo "$key" > "$stamp"
echo "Qt for Windows: built in $(( $(date +%s) - start )) s"
echo "$prefix"
