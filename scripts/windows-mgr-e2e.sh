#!/usr/bin/env bash
# PelorixMgr.exe worked from outside under Wine on a virtual screen (Xvfb), inside a private
# network namespace: MgrDriver.exe types FTP host, user and password into the real window,
# saves by changing the page ("pw€x" must be refused with the Latin-1 warning, "Jörg-1"
# accepted), switches the monitor on and sends it a status line, then installs, starts, stops
# and removes PelorixSvc.exe on the page "Management" through Wine's service control manager. Then Pelorix.ini must hold
# the password scrambled byte for byte as the Linux manager stores it (pelorix-ini of the dev
# build scrambles through the same code).
#
#     scripts/windows-mgr-e2e.sh BUILD_DIR
#
# Exit code 0 on success, 77 when Wine or Xvfb is missing, 1 otherwise.
set -uo pipefail

root=$(cd "$(dirname "$(readlink -f "$0")")/.." && pwd)
build=$(readlink -f "${1:-$root/build/windows}")
self=$(readlink -f "$0")

fail() {
    echo "windows-mgr-e2e: FEHLGESCHLAGEN: $*" >&2
    exit 1
}

wine=$(command -v wine64 || echo /usr/lib/wine/wine64)
wineserver=$(command -v wineserver || echo /usr/lib/wine/wineserver)
if [ ! -x "$wine" ] || [ ! -x "$wineserver" ] || ! command -v xvfb-run >/dev/null; then
    echo "windows-mgr-e2e: übersprungen, Wine oder Xvfb fehlt" >&2
    exit 77
fi

case "${PELORIX_MGR_E2E_STAGE:-}" in
"")
    [ -f "$build/src/wmgr/PelorixMgr.exe" ] || fail "PelorixMgr.exe ist nicht gebaut ($build)"
    [ -f "$build/tests/windows/MgrDriver.exe" ] || fail "MgrDriver.exe ist nicht gebaut ($build)"
    [ -f "$build/src/svc/PelorixSvc.exe" ] || fail "PelorixSvc.exe ist nicht gebaut ($build)"
    export PELORIX_MGR_E2E_STAGE=netns
    exec timeout -k 20 170 "$root/scripts/netns-run.sh" "$self" "$build"
    ;;
netns)
    export PELORIX_MGR_E2E_STAGE=screen
    exec xvfb-run -a -s "-screen 0 1024x768x24 -nolisten tcp" "$self" "$build"
    ;;
esac

work=$build/windows-mgr-e2e
rm -rf "$work"
mkdir -p "$work" || fail "Arbeitsverzeichnis $work nicht anzulegen"
export WINEPREFIX=$work/wineprefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree=;mshtml="
if [ "$(locale charmap 2>/dev/null)" != UTF-8 ]; then
    export LC_ALL=C.UTF-8
fi
trap '"$wineserver" -k >/dev/null 2>&1' EXIT
"$wine" wineboot --init >/dev/null 2>&1
"$wineserver" -w
prog=$WINEPREFIX/drive_c/Pelorix
mkdir -p "$prog"
cp "$build/src/wmgr/PelorixMgr.exe" "$build/src/svc/PelorixSvc.exe" "$build/tests/windows/MgrDriver.exe" "$prog/"

"$wine" 'C:\Pelorix\PelorixMgr.exe' >"$work/mgr.log" 2>&1 &
manager=$!
"$wine" 'C:\Pelorix\MgrDriver.exe' | tee "$work/driver.log"
driver=${PIPESTATUS[0]}
for _ in $(seq 50); do
    kill -0 "$manager" 2>/dev/null || break
    sleep 0.2
done
[ "$driver" = 0 ] || fail "der Treiber meldet Fehler (siehe oben)"

ini=$prog/Pelorix.ini
[ -f "$ini" ] || fail "kein Pelorix.ini geschrieben"
value() { tr -d '\r' <"$1" | grep -a "^$2=" | head -n1; }
[ "$(value "$ini" FTPUser)" = "$(printf 'FTPUser=J\xf6rg-1')" ] || fail "FTPUser nicht als Latin-1 'Jörg-1' gespeichert"
[ "$(value "$ini" FTPHost)" = "FTPHost=127.0.0.1" ] || fail "FTPHost nicht gespeichert"
ini_tool=$root/build/dev/tests/support/pelorix-ini
if [ -x "$ini_tool" ]; then
    "$ini_tool" "$work/linux.ini" Settings "+FTPPass=Jörg-1" || fail "pelorix-ini gescheitert"
    [ "$(value "$ini" FTPPass)" = "$(value "$work/linux.ini" FTPPass)" ] ||
        fail "FTPPass weicht vom Linux-Manager ab: $(value "$ini" FTPPass | od -c | head -2)"
    echo "ok: FTPPass Byte für Byte wie unter Linux"
else
    echo "Hinweis: $ini_tool fehlt (dev-Build), Vergleich mit Linux übersprungen"
fi
echo "windows-mgr-e2e: alles in Ordnung"
