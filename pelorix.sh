#!/usr/bin/env bash
# The one entry point: "./pelorix.sh run" builds and runs the main job, "./pelorix.sh test"
# builds and runs every test (the Windows build's under Wine too). Both install whatever Debian
# packages are missing first.
set -euo pipefail
cd "$(dirname "$(readlink -f "$0")")"

PACKAGES=(
    cmake ninja-build g++ pkg-config git
    libgtest-dev libgmock-dev clang-format
    libcurl4-openssl-dev libssl-dev openssl
    qt6-base-dev qt6-translations-l10n libgl-dev
    python3 python3-pyftpdlib python3-aiosmtpd dovecot-pop3d
    iproute2 util-linux procps locales-all
    dpkg-dev file adduser systemd libsystemd-dev debootstrap systemd-container
    xvfb xdotool imagemagick openbox xauth x11-utils
    vsftpd openssh-server openssh-client openssl passwd
    g++-mingw-w64-x86-64-posix googletest wine64
)

as_root() {
    if [ "$(id -u)" = 0 ]; then "$@"; else sudo "$@"; fi
}

install_missing() {
    local missing=()
    for p in "${PACKAGES[@]}"; do
        dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
    done
    if [ ${#missing[@]} -gt 0 ]; then
        echo "Installiere fehlende Pakete: ${missing[*]}"
        as_root apt-get update -qq
        as_root env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${missing[@]}"
    fi
}

build() {
    local preset=$1
    cmake --preset "$preset" >/dev/null
    cmake --build --preset "$preset"
}

run_tests() {
    local preset=$1
    build "$preset"
    ctest --preset "$preset" -j "$(nproc)"
}

cmd=${1:-}
shift || true
case "$cmd" in
run)
    install_missing
    build dev
    exec scripts/demo.sh build/dev "$@"
    ;;
test)
    install_missing
    if [ "${1:-}" = "--asan" ]; then
        run_tests asan
    else
        run_tests dev
        # PelorixSvc.exe from the same sources, its tests and the service under Wine.
        run_tests windows
    fi
    ;;
*)
    echo "Aufruf: $0 run | test [--asan]" >&2
    exit 2
    ;;
esac
