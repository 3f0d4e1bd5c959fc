#!/usr/bin/env bash
# The main job, shown end to end on this machine: a program directory under build/demo, a
# private network namespace with a real FTP server on port 21 and an address-source page on
# port 80, the service publishing the address it finds there, then publishing again after
# the address changes. Ctrl-C ends it; nothing is left running.
#
#     scripts/demo.sh [BUILD_DIR] [--once]
set -euo pipefail

root=$(cd "$(dirname "$(readlink -f "$0")")/.." && pwd)
build=$(readlink -f "${1:-$root/build/dev}")
once=0
for arg in "$@"; do [ "$arg" = --once ] && once=1; done
[ -t 0 ] || once=1

if [ "${PELORIX_DEMO_INSIDE:-}" != 1 ]; then
    work=$root/build/demo
    rm -rf "$work"
    mkdir -p "$work/prog" "$work/ftp" "$work/www"
    for program in src/svc/PelorixSvc src/sc/pelorix-sc src/mgr/PelorixMgr; do
        [ -x "$build/$program" ] && cp "$build/$program" "$work/prog/"
    done
    if [ ! -x "$work/prog/PelorixSvc" ]; then
        echo "Der Dienst PelorixSvc ist nicht gebaut ($build)." >&2
        exit 1
    fi
    cp "$root"/dist/*.htm "$work/prog/"
    ini="$work/prog/Pelorix.ini"
    "$build/tests/support/pelorix-ini" "$ini" Settings \
        HTMLTemplate="$work/prog/Online.htm" TempSite="$work/prog/PelorixTmp.htm" \
        FTPHost=127.0.0.1 FTPUser=pelorix +FTPPass=geheim FTPSite=/myserver.htm FTPPassive=1 \
        Router=1 IPSource=127.0.0.1/ip.html Intervall=1 Messages=1 MsgLevel=3 LogFile=1 eMail=0 AddPages=0
    echo '<html><body>Current IP Address: 84.123.45.6</body></html>' > "$work/www/ip.html"
    export PELORIX_DEMO_INSIDE=1 PELORIX_DEMO_WORK=$work
    if [ "$(id -u)" = 0 ]; then
        exec unshare -n "$0" "$build" "$@"
    fi
    exec unshare -rn "$0" "$build" "$@"
fi

# Inside the private network namespace from here on.
work=$PELORIX_DEMO_WORK
ip link set lo up
pids=()
cleanup() {
    trap - INT TERM EXIT
    for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
    wait 2>/dev/null || true
    echo
    echo "Vorführung beendet."
}
trap cleanup EXIT
trap 'exit 0' INT TERM

wait_port() {
    for _ in $(seq 100); do
        (exec 3<>"/dev/tcp/127.0.0.1/$1") 2>/dev/null && return 0
        sleep 0.1
    done
    echo "Port $1 antwortet nicht." >&2
    return 1
}

show_page() {
    echo "---- veröffentlichte Seite (FTP-Server: /myserver.htm) ----"
    iconv -f latin1 -t utf-8 "$work/ftp/myserver.htm"
    echo "-----------------------------------------------------------"
}

wait_for_address() {
    for _ in $(seq 600); do
        grep -q "$1" "$work/ftp/myserver.htm" 2>/dev/null && return 0
        sleep 0.1
    done
    echo "Die Adresse $1 wurde nicht veröffentlicht." >&2
    return 1
}

/usr/bin/python3 -m pyftpdlib -i 127.0.0.1 -p 21 -w -d "$work/ftp" -u pelorix -P geheim \
    >"$work/ftp-server.log" 2>&1 &
pids+=($!)
/usr/bin/python3 -m http.server 80 --bind 127.0.0.1 --directory "$work/www" >"$work/http-server.log" 2>&1 &
pids+=($!)
wait_port 21
wait_port 80
echo "FTP-Server auf 127.0.0.1:21, Adressquelle http://127.0.0.1/ip.html (zeigt 84.123.45.6)"

if [ -n "${DISPLAY:-}" ] && [ -x "$work/prog/PelorixMgr" ]; then
    "$work/prog/PelorixMgr" >/dev/null 2>&1 &
    pids+=($!)
    sleep 1
fi

echo "Dienst startet (Statusmeldungen folgen):"
# The page shows the weekday in the computer's language; the demo speaks German.
locale -a 2>/dev/null | grep -qi '^de_DE.utf8$' && export LC_TIME=de_DE.UTF-8
"$work/prog/PelorixSvc" -foreground &
pids+=($!)

wait_for_address 84.123.45.6
show_page

echo "Die Adressquelle meldet jetzt 84.123.45.7 ..."
echo '<html><body>Current IP Address: 84.123.45.7</body></html>' > "$work/www/ip.html"
wait_for_address 84.123.45.7
show_page

if [ "$once" = 1 ]; then
    exit 0
fi
echo "Der Dienst läuft weiter; Strg-C beendet die Vorführung."
wait
