#!/usr/bin/env bash
# Screenshots of PelorixMgr.exe's pages under Wine on a virtual screen, for the documentation:
#
#     scripts/windows-mgr-screens.sh [BUILD_DIR [OUT_DIR]]
#
# BUILD_DIR is the Windows build (default build/windows), OUT_DIR where the PNG files go
# (default docs). Needs wine64, Xvfb and ImageMagick's import.
set -euo pipefail

root=$(cd "$(dirname "$(readlink -f "$0")")/.." && pwd)
build=$(readlink -f "${1:-$root/build/windows}")
out=$(readlink -f "${2:-$root/docs}")
self=$(readlink -f "$0")
wine=$(command -v wine64 || echo /usr/lib/wine/wine64)
wineserver=$(command -v wineserver || echo /usr/lib/wine/wineserver)

if [ "${PELORIX_SCREENS_INSIDE:-}" != 1 ]; then
    export PELORIX_SCREENS_INSIDE=1
    exec "$root/scripts/netns-run.sh" xvfb-run -a -s "-screen 0 640x640x24 -nolisten tcp" "$self" "$build" "$out"
fi

work=$build/windows-mgr-screens
rm -rf "$work"
mkdir -p "$work" "$out"
export WINEPREFIX=$work/wineprefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree=;mshtml="
[ "$(locale charmap 2>/dev/null)" = UTF-8 ] || export LC_ALL=C.UTF-8
trap '"$wineserver" -k >/dev/null 2>&1' EXIT
"$wine" wineboot --init >/dev/null 2>&1
"$wineserver" -w
prog=$WINEPREFIX/drive_c/Pelorix
mkdir -p "$prog"
cp "$build/src/wmgr/PelorixMgr.exe" "$build/tests/windows/MgrDriver.exe" "$prog/"
# A filled-in example; the window at the top left corner of the screen.
printf '[Settings]\r\nFTPHost=ftp.example.org\r\nFTPUser=jörg\r\nFTPSite=/htdocs/ip.htm\r\nFTPMode=3\r\nMessages=1\r\nLeft=0\r\nTop=0\r\n' |
    iconv -f UTF-8 -t LATIN1 >"$prog/Pelorix.ini"
"$wine" 'C:\Pelorix\PelorixMgr.exe' >/dev/null 2>&1 &
sleep 4
names=(parameter monitor management)
for page in 0 1 2; do
    "$wine" 'C:\Pelorix\MgrDriver.exe' /TAB "$page" >/dev/null 2>&1
    sleep 1.5
    import -window root -crop 520x640+0+0 "$out/windows-${names[$page]}.png"
done
echo "Bilder in $out"
