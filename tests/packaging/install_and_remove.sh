#!/usr/bin/env bash
# Installs the package with apt-get as a user would, checks the menu entry, the icons and
# the manual page, runs the installed program, and removes the package again.
# Usage: install_and_remove.sh DEB
set -euo pipefail
deb=$(realpath "$1")
app_id=example.quillmoor.FirmwareUpdater
skip=77

if [ "$(id -u)" -ne 0 ]; then
    echo "SKIPPED: installing a package needs root; run the tests as root to include this one."
    exit $skip
fi
if dpkg-query -W -f='${Status}' quillmoor-updater 2>/dev/null | grep -q "install ok installed"; then
    echo "SKIPPED: quillmoor-updater is installed already; it is left as it is."
    exit $skip
fi

fail() {
    echo "FAILED: $*" >&2
    exit 1
}
export DEBIAN_FRONTEND=noninteractive
remove() {
    apt-get purge -y -q quillmoor-updater >/dev/null 2>&1 || true
}
trap remove EXIT

apt-get install -y -q --no-install-recommends "$deb" || fail "apt-get install"

desktop=/usr/share/applications/$app_id.desktop
[ -f "$desktop" ] || fail "no menu entry $desktop"
desktop-file-validate "$desktop" || fail "desktop-file-validate $desktop"
grep -qx "Exec=quillmoor-updater %F" "$desktop" || fail "the menu entry does not start the program"
# The desktop database now offers the program for firmware packages.
grep -q "^application/zip=.*$app_id.desktop" /usr/share/applications/mimeinfo.cache ||
    fail "the program is not offered for application/zip"
for icon in 48x48/apps/$app_id.png 256x256/apps/$app_id.png scalable/apps/$app_id.svg; do
    [ -f "/usr/share/icons/hicolor/$icon" ] || fail "no icon /usr/share/icons/hicolor/$icon"
done
[ "$(man -w quillmoor-updater)" = /usr/share/man/man1/quillmoor-updater.1.gz ] ||
    fail "man finds no manual page"
[ "$(command -v quillmoor-updater)" = /usr/bin/quillmoor-updater ] ||
    fail "quillmoor-updater is not the installed program"

version=$(QT_QPA_PLATFORM=offscreen timeout 10 quillmoor-updater --version) ||
    fail "quillmoor-updater --version ended with status $?"
[ "$version" = "quillmoor-updater 1.01" ] || fail "--version printed '$version'"
echo "installed program: $version"
[ "$(man -w quillmoor-flash)" = /usr/share/man/man1/quillmoor-flash.1.gz ] ||
    fail "man finds no manual page of quillmoor-flash"
# The command-line program needs no display: no platform is named for it.
flash_version=$(env -u QT_QPA_PLATFORM -u DISPLAY -u WAYLAND_DISPLAY timeout 10 quillmoor-flash --version) ||
    fail "quillmoor-flash --version ended with status $?"
[ "$flash_version" = "quillmoor-flash 1.01" ] || fail "quillmoor-flash --version printed '$flash_version'"
status=0
env -u QT_QPA_PLATFORM -u DISPLAY -u WAYLAND_DISPLAY QLM_EXTRA_PORTS= timeout 20 quillmoor-flash --list >/dev/null 2>&1 || status=$?
[ "$status" -eq 0 ] || [ "$status" -eq 3 ] || fail "quillmoor-flash --list ended with status $status"

trap - EXIT
apt-get purge -y -q quillmoor-updater || fail "apt-get purge"
[ ! -e /usr/bin/quillmoor-updater ] && [ ! -e /usr/bin/quillmoor-flash ] && [ ! -e "$desktop" ] || fail "files left after removal"
! grep -q "$app_id.desktop" /usr/share/applications/mimeinfo.cache || fail "the desktop database still lists the program"
echo "installed, checked and removed"
