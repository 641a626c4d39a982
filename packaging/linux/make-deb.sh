#!/usr/bin/env bash
# Makes the Debian package from a built tree and checks it: lintian, the menu entry, the
# AppStream metadata, the files it holds and the dependencies found for the program.
# Usage: packaging/linux/make-deb.sh BUILD_DIR OUT_DIR
set -euo pipefail
build=$(realpath "$1")
mkdir -p "$2"
out=$(realpath "$2")
app_id=example.quillmoor.FirmwareUpdater

fail() {
    echo "FAILED: $*" >&2
    exit 1
}

rm -f "$out"/quillmoor-updater_*.deb
if ! cpack --config "$build/CPackConfig.cmake" -B "$out" >"$out/cpack.log" 2>&1; then
    cat "$out/cpack.log" >&2
    fail "cpack could not make the package"
fi
debs=("$out"/quillmoor-updater_*.deb)
[ ${#debs[@]} -eq 1 ] && [ -f "${debs[0]}" ] || fail "cpack made no package in $out"
deb=${debs[0]}
echo "package: $deb ($(stat -c %s "$deb") bytes)"

root=$(mktemp -d)
trap 'rm -rf "$root"' EXIT
dpkg-deb -x "$deb" "$root"

expected=(
    usr/bin/quillmoor-updater
    usr/bin/quillmoor-flash
    "usr/share/applications/$app_id.desktop"
    "usr/share/icons/hicolor/scalable/apps/$app_id.svg"
    "usr/share/icons/hicolor/48x48/apps/$app_id.png"
    "usr/share/icons/hicolor/256x256/apps/$app_id.png"
    "usr/share/metainfo/$app_id.metainfo.xml"
    usr/share/man/man1/quillmoor-updater.1.gz
    usr/share/man/man1/quillmoor-flash.1.gz
    usr/share/doc/quillmoor-updater/copyright
    usr/share/doc/quillmoor-updater/changelog.gz
    usr/share/doc/quillmoor-updater/changelog.Debian.gz
)
for path in "${expected[@]}"; do
    [ -f "$root/$path" ] || fail "the package lacks /$path"
done
held=$(cd "$root" && find . -type f | wc -l)
[ "$held" -eq ${#expected[@]} ] || fail "the package holds $held files, not ${#expected[@]}: $(cd "$root" && find . -type f)"
for size in 48 256; do
    file -b "$root/usr/share/icons/hicolor/${size}x${size}/apps/$app_id.png" |
        grep -q "PNG image data, $size x $size," || fail "the $size px icon is not a $size px PNG"
done

# The library dependencies are dpkg-shlibdeps' findings for the program.
depends=$(dpkg-deb -f "$deb" Depends)
echo "Depends: $depends"
for lib in libc6 libqt6core6 libqt6gui6 libqt6widgets6 libqt6network6 libqt6svg6 zlib1g; do
    grep -Eq "(^|, )$lib \(>= [^)]+\)" <<<"$depends" || fail "Depends lacks a versioned $lib"
done

desktop-file-validate "$root/usr/share/applications/$app_id.desktop" ||
    fail "desktop-file-validate"
appstreamcli validate --no-net "$root/usr/share/metainfo/$app_id.metainfo.xml" ||
    fail "appstreamcli validate"
# The metadata, the menu entry and the icons as one installed tree.
appstreamcli validate-tree --no-net "$root" || fail "appstreamcli validate-tree"

# Errors fail; the warnings and notes are shown.
lintian --fail-on error --info "$deb" || fail "lintian found errors"
echo "package checks passed"
