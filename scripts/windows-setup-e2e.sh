#!/usr/bin/env bash
# PelorixSetup.exe under Wine: the silent install (/S) must put both programs, the templates
# and the help into "C:\Program Files\Pelorix", write Pelorix.ini, register the service and the
# uninstall key and make the Start-menu entries; the silent uninstall must remove service,
# programs and entries and keep the settings.
#
#     scripts/windows-setup-e2e.sh SETUP_EXE BUILD_DIR
#
# Exit code 0 on success, 77 when Wine or the installer is missing, 1 otherwise.
set -uo pipefail

root=$(cd "$(dirname "$(readlink -f "$0")")/.." && pwd)
setup=$(readlink -f "$1")
build=$(readlink -f "${2:-$root/build/windows}")
self=$(readlink -f "$0")

fail() {
    echo "windows-setup-e2e: FEHLGESCHLAGEN: $*" >&2
    exit 1
}

wine=$(command -v wine64 || echo /usr/lib/wine/wine64)
wineserver=$(command -v wineserver || echo /usr/lib/wine/wineserver)
if [ ! -x "$wine" ] || [ ! -x "$wineserver" ] || [ ! -f "$setup" ]; then
    echo "windows-setup-e2e: übersprungen, Wine oder PelorixSetup.exe fehlt" >&2
    exit 77
fi
if [ "${PELORIX_SETUP_E2E_INSIDE:-}" != 1 ]; then
    export PELORIX_SETUP_E2E_INSIDE=1
    exec timeout -k 20 170 "$root/scripts/netns-run.sh" "$self" "$setup" "$build"
fi

work=$build/windows-setup-e2e
rm -rf "$work"
mkdir -p "$work"
export WINEPREFIX=$work/wineprefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree=;mshtml="
[ "$(locale charmap 2>/dev/null)" = UTF-8 ] || export LC_ALL=C.UTF-8
trap '"$wineserver" -k >/dev/null 2>&1' EXIT
"$wine" wineboot --init >/dev/null 2>&1
"$wineserver" -w
dir="$WINEPREFIX/drive_c/Program Files/Pelorix"
service_key='HKLM\System\CurrentControlSet\Services\PelorixService'
uninstall_key='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\Pelorix'

"$wine" "$setup" /S || fail "PelorixSetup.exe /S endete mit Fehler"
"$wineserver" -w
for f in PelorixSvc.exe PelorixMgr.exe LiesMich.htm Online.htm Offline.htm Pelorix.ini Deinstallieren.exe; do
    [ -f "$dir/$f" ] || fail "$f fehlt nach der Installation"
done
"$wine" reg query "$service_key" >/dev/null 2>&1 || fail "Dienst nicht registriert"
"$wine" reg query "$uninstall_key" >/dev/null 2>&1 || fail "Deinstallationsschlüssel fehlt"
find "$WINEPREFIX/drive_c" -path '*Pelorix/Pelorix-Manager.lnk' | grep -q . || fail "Startmenü-Eintrag fehlt"
echo "ok: installiert"

printf '[Settings]\r\nFTPHost=ftp.example.org\r\n' >"$dir/Pelorix.ini"
"$wine" 'C:\Program Files\Pelorix\Deinstallieren.exe' /S || fail "Deinstallieren.exe /S endete mit Fehler"
# The uninstaller runs on from a copy of itself.
for _ in $(seq 100); do
    [ -f "$dir/PelorixSvc.exe" ] || break
    sleep 0.2
done
"$wineserver" -w
[ ! -f "$dir/PelorixSvc.exe" ] && [ ! -f "$dir/PelorixMgr.exe" ] || fail "Programme nach der Deinstallation noch da"
"$wine" reg query "$service_key" >/dev/null 2>&1 && fail "Dienst nach der Deinstallation noch registriert"
"$wine" reg query "$uninstall_key" >/dev/null 2>&1 && fail "Deinstallationsschlüssel noch da"
grep -q "FTPHost=ftp.example.org" "$dir/Pelorix.ini" || fail "Einstellungen nicht behalten"
echo "ok: deinstalliert, Einstellungen behalten"
echo "windows-setup-e2e: alles in Ordnung"
