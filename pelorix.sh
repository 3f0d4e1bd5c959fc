#!/usr/bin/env bash
# The one entry point: "./pelorix.sh run" builds and runs the main job, "./pelorix.sh test"
# builds and runs every test (the Windows build's under Wine too). Both install whatever Debian
# packages are missing first.
set -euo pipefail
cd "$(dirname "$(readlink -f "$0")")"

PACKAGES=(
    cmake ninja-build g++ pkg-config git
    libgtest-dev libgmock-dev clang-format
    libcurl4-openssl-dev libssh-dev libssl-dev openssl
    qt6-base-dev qt6-translations-l10n libgl-dev
    python3 python3-pyftpdlib python3-aiosmtpd dovecot-pop3d
    iproute2 util-linux procps locales-all
    dpkg-dev file adduser systemd libsystemd-dev debootstrap systemd-container
    xvfb xdotool imagemagick openbox xauth x11-utils
    vsftpd openssh-server openssh-client openssl passwd
    g++-mingw-w64-x86-64-posix googletest wine64 nsis
)

as_root() {
    if [ "$(id -u)" = 0 ]; then "$@"; else sudo "$@"; fi
}

# Servers the tests start themselves, on loopback inside a private network namespace. Debian
# enables and starts a server as a system service as soon as it is installed; installed here,
# they stay off: installed without starting and disabled afterwards.
SERVER_UNITS=(
    openssh-server:ssh.service
    vsftpd:vsftpd.service
    dovecot-pop3d:dovecot.service
)
policy_made=

remove_policy() {
    if [ -n "$policy_made" ]; then as_root rm -f /usr/sbin/policy-rc.d; fi
    policy_made=
}

# Forbids every start and restart while the packages are installed (policy-rc.d, which both
# invoke-rc.d and deb-systemd-invoke ask); an administrator's own policy stays as it is.
forbid_service_starts() {
    if [ ! -e /usr/sbin/policy-rc.d ]; then
        printf '#!/bin/sh\n# made by pelorix.sh while it installs packages\nexit 101\n' |
            as_root tee /usr/sbin/policy-rc.d >/dev/null
        as_root chmod 0755 /usr/sbin/policy-rc.d
        policy_made=1
        trap remove_policy EXIT
    fi
}

# Disables and stops the servers among the packages just installed; servers installed earlier
# are the administrator's and stay as they are.
quiet_new_servers() {
    local entry package unit
    for entry in "${SERVER_UNITS[@]}"; do
        package=${entry%%:*}
        unit=${entry#*:}
        [[ " $* " == *" $package "* ]] || continue
        as_root systemctl disable --quiet "$unit" 2>/dev/null || true
        if [ -d /run/systemd/system ]; then
            as_root systemctl stop "$unit" 2>/dev/null || true
        elif [ -x "/etc/init.d/${unit%.service}" ]; then
            as_root "/etc/init.d/${unit%.service}" stop >/dev/null 2>&1 || true
        fi
        echo "Server $unit installiert, nicht aktiviert und nicht gestartet (die Tests starten ihn selbst)"
    done
}

install_missing() {
    local missing=()
    for p in "${PACKAGES[@]}"; do
        dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
    done
    if [ ${#missing[@]} -gt 0 ]; then
        echo "Installiere fehlende Pakete: ${missing[*]}"
        as_root apt-get update -qq
        forbid_service_starts
        as_root env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${missing[@]}"
        remove_policy
        quiet_new_servers "${missing[@]}"
    fi
}

build() {
    local preset=$1
    # The Windows program links libraries built from Debian's sources; done once per version.
    if [ "$preset" = windows ]; then scripts/windows-deps.sh; fi
    cmake --preset "$preset" >/dev/null && cmake --build --preset "$preset"
}

run_tests() {
    local preset=$1
    build "$preset" && ctest --preset "$preset" -j "$(nproc)"
}

# Every stage runs, whatever an earlier one gave; the summary at the end names each.
stage_names=()
stage_results=()
failed=0

stage() { # stage NAME COMMAND...
    local name=$1
    shift
    echo "=== $name ==="
    if "$@"; then
        stage_results+=("bestanden")
    else
        stage_results+=("FEHLGESCHLAGEN")
        failed=1
    fi
    stage_names+=("$name")
}

summary() {
    echo
    echo "Zusammenfassung:"
    local i
    for i in "${!stage_names[@]}"; do
        echo "  ${stage_names[$i]}: ${stage_results[$i]}"
    done
    if [ "$failed" = 0 ]; then echo "Alle Stufen bestanden."; else echo "Mindestens eine Stufe ist fehlgeschlagen."; fi
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
        stage "Tests mit AddressSanitizer (asan)" run_tests asan
    else
        stage "Tests (dev)" run_tests dev
        stage "Lange Tests mit echten Zeitgrenzen (long)" ctest --preset long
        # PelorixSvc.exe from the same sources, its tests and the service under Wine.
        stage "Windows-Build und Tests unter Wine (windows)" run_tests windows
    fi
    summary
    exit "$failed"
    ;;
*)
    echo "Aufruf: $0 run | test [--asan]" >&2
    exit 2
    ;;
esac
