#!/usr/bin/env bash
# Signs Windows programs and installers with Authenticode (osslsigncode), so that Windows names
# the publisher instead of warning of an unknown one. The certificate comes from the
# environment:
#   QLM_SIGN_PFX            PKCS#12 file with the code-signing certificate and its key
#   QLM_SIGN_PASSWORD       its password (may be empty, but must be set)
#   QLM_SIGN_TIMESTAMP_URL  RFC 3161 time-stamp server (optional; without a time stamp the
#                           signatures count only as long as the certificate is valid)
# Usage: sign.sh --status      one line on what will be done; exit 0 when signing, 1 when
#                              nothing is given, 2 when the settings are incomplete
#        sign.sh FILE...       signs each file in place; fails when any cannot be signed
set -euo pipefail

status() {
    if [ -z "${QLM_SIGN_PFX:-}" ] && [ -z "${QLM_SIGN_PASSWORD+set}" ]; then
        echo "Not signed: QLM_SIGN_PFX and QLM_SIGN_PASSWORD are not set."
        return 1
    fi
    if [ -z "${QLM_SIGN_PFX:-}" ] || [ -z "${QLM_SIGN_PASSWORD+set}" ]; then
        echo "Cannot sign: QLM_SIGN_PFX and QLM_SIGN_PASSWORD must both be set." >&2
        return 2
    fi
    if [ ! -r "$QLM_SIGN_PFX" ]; then
        echo "Cannot sign: $QLM_SIGN_PFX cannot be read." >&2
        return 2
    fi
    echo "Signing with $QLM_SIGN_PFX${QLM_SIGN_TIMESTAMP_URL:+, time-stamped by $QLM_SIGN_TIMESTAMP_URL}."
}

if [ "${1:-}" = "--status" ]; then
    status
    exit
fi
[ $# -gt 0 ] || { echo "usage: sign.sh --status | FILE..." >&2; exit 2; }
status > /dev/null || exit 2

timestamp=()
[ -z "${QLM_SIGN_TIMESTAMP_URL:-}" ] || timestamp=(-ts "$QLM_SIGN_TIMESTAMP_URL")
work=$(mktemp -d "${TMPDIR:-/tmp}/qlm-sign.XXXXXX")
trap 'rm -rf "$work"' EXIT
for file in "$@"; do
    signed=$work/$(basename "$file")
    # The password goes through a pipe, never on a command line that others can list.
    if ! osslsigncode sign -pkcs12 "$QLM_SIGN_PFX" -readpass <(printf '%s' "$QLM_SIGN_PASSWORD") \
            -h sha256 -n "Quillmoor Firmware Updater" "${timestamp[@]}" \
            -in "$file" -out "$signed" > "$work/log" 2>&1; then
        cat "$work/log" >&2
        echo "Cannot sign $file." >&2
        exit 1
    fi
    chmod --reference="$file" "$signed"
    cp "$signed" "$file"
    rm -f "$signed"
    echo "signed $file"
done
