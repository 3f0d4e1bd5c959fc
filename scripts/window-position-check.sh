#!/usr/bin/env bash
# The manager's window keys under a real window manager: ten starts and closes without moving
# the window leave Left and Top unchanged in Pelorix.ini; a window moved by the window manager
# stores its new place, and the next start and close keeps it.
#
#   scripts/window-position-check.sh [build-dir]     (default build/dev)
#
# Runs on a private Xvfb display with openbox; needs Xvfb, openbox and xdotool.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build/dev}
program=$build/src/mgr/PelorixMgr
[ -x "$program" ] || { echo "PelorixMgr fehlt: $program" >&2; exit 2; }

work=$(mktemp -d)
xvfb_pid=
wm_pid=
cleanup() {
    [ -n "$wm_pid" ] && kill "$wm_pid" 2>/dev/null || true
    [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT

# A display number nobody uses.
display=91
while [ -e "/tmp/.X$display-lock" ] || [ -e "/tmp/.X11-unix/X$display" ]; do
    display=$((display + 1))
done
export DISPLAY=:$display
Xvfb "$DISPLAY" -nolisten tcp -screen 0 1280x1024x24 >"$work/xvfb.log" 2>&1 &
xvfb_pid=$!
for _ in $(seq 50); do
    xdotool getdisplaygeometry >/dev/null 2>&1 && break
    sleep 0.1
done
openbox >"$work/openbox.log" 2>&1 &
wm_pid=$!
sleep 1

# The manager reads Pelorix.ini from its own directory.
cp "$program" "$work/PelorixMgr"
printf '[Settings]\r\nFTPHost=h\r\nMessages=0\r\nLeft=120\r\nTop=90\r\n' >"$work/Pelorix.ini"

key() {
    tr -d '\r' <"$work/Pelorix.ini" | sed -n "s/^$1=//p"
}

# One start and close; a geometry "X Y" moves the window there through the window manager first.
start_and_close() {
    local move=${1:-}
    (cd / && exec "$work/PelorixMgr") >>"$work/mgr.log" 2>&1 &
    local pid=$!
    local window=
    for _ in $(seq 100); do
        window=$(xdotool search --onlyvisible --pid "$pid" 2>/dev/null | head -1) || true
        [ -n "$window" ] && break
        sleep 0.1
    done
    [ -n "$window" ] || { echo "kein Fenster erschienen" >&2; kill "$pid"; return 1; }
    sleep 0.5 # the window manager has framed and placed it
    if [ -n "$move" ]; then
        # shellcheck disable=SC2086
        xdotool windowmove "$window" $move
        sleep 0.5
    fi
    xdotool windowactivate --sync "$window" key --clearmodifiers alt+F4
    for _ in $(seq 100); do
        kill -0 "$pid" 2>/dev/null || break
        sleep 0.1
    done
    if kill -0 "$pid" 2>/dev/null; then
        echo "Alt+F4 hat das Fenster nicht geschlossen" >&2
        kill "$pid"
        return 1
    fi
    wait "$pid"
}

failed=0
before=$(md5sum <"$work/Pelorix.ini")
for run in $(seq 10); do
    start_and_close
    left=$(key Left)
    top=$(key Top)
    echo "Start $run: Left=$left Top=$top"
    if [ "$left" != 120 ] || [ "$top" != 90 ]; then
        failed=1
    fi
done

# Nothing at all was written.
[ "$(md5sum <"$work/Pelorix.ini")" = "$before" ] || { echo "Pelorix.ini wurde geschrieben" >&2; failed=1; }

start_and_close "300 200"
moved_left=$(key Left)
moved_top=$(key Top)
echo "verschoben: Left=$moved_left Top=$moved_top"
[ "$moved_left" != 120 ] || [ "$moved_top" != 90 ] || failed=1
start_and_close
echo "danach: Left=$(key Left) Top=$(key Top)"
[ "$(key Left)" = "$moved_left" ] && [ "$(key Top)" = "$moved_top" ] || failed=1

if [ "$failed" != 0 ]; then
    echo "FEHLER: die Fensterposition wandert" >&2
    exit 1
fi
echo "OK"
