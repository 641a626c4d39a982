# Sourced by the set-up scripts: install_packages PACKAGE... installs those of the Debian
# packages that are missing (as root), retrying while another installation holds apt's lock.
install_packages() {
    local missing=() p attempt
    for p in "$@"; do
        dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" ||
            missing+=("$p")
    done
    [ ${#missing[@]} -eq 0 ] && return 0
    echo "Installing: ${missing[*]}"
    if [ "$(id -u)" -ne 0 ]; then
        echo "Missing packages and not root: run as root, or install them with apt-get." >&2
        return 1
    fi
    export DEBIAN_FRONTEND=noninteractive
    for attempt in 1 2 3 4 5; do
        if apt-get update -q && apt-get install -y -q --no-install-recommends "${missing[@]}"; then
            return 0
        fi
        [ $attempt -eq 5 ] && return 1
        sleep 30
    done
}
