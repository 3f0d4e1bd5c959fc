#!/usr/bin/env bash
# The manager's windows on small screens under a real window manager: at 1024x600 and at
# QT_SCALE_FACTOR=1.5 on 1280x800 every window's frame lies on the screen, every control of a
# page or dialog can be scrolled into view, OK and Abbrechen are on the screen, a position off
# the screen comes back with the title bar on it (WindowFitTest on the X11 platform), the program
# itself started with Left=1, Top=1 keeps its frame on the screen (measured with xwininfo and
# the frame extents the window manager sets), and a close by Alt+F4 during an upload to a
# silent server closes the window after it (NetworkActionNetTest, that one test).
#
#   scripts/window-fit-check.sh [build-dir]     (default build/dev)
#
# With PELORIX_FIT_SHOTS set to a directory, a picture of the screen with the program's main
# window is left there for each screen. Needs Xvfb, openbox, xdotool, xwininfo and xprop.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build/dev}
program=$build/src/mgr/PelorixMgr
fit_test=$build/tests/mgr/WindowFitTest
close_test=$build/tests/mgr/NetworkActionNetTest
for file in "$program" "$fit_test" "$close_test"; do
    [ -x "$file" ] || { echo "fehlt: $file" >&2; exit 2; }
done

work=$(mktemp -d)
chmod 700 "$work"
xvfb_pid=
wm_pid=
stop_display() {
    [ -n "$wm_pid" ] && kill "$wm_pid" 2>/dev/null && wait "$wm_pid" 2>/dev/null || true
    [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null && wait "$xvfb_pid" 2>/dev/null || true
    wm_pid=
    xvfb_pid=
}
cleanup() {
    stop_display
    rm -rf "$work"
}
trap cleanup EXIT

# A private display of the given size with openbox on it.
start_display() {
    local display=91
    while [ -e "/tmp/.X$display-lock" ] || [ -e "/tmp/.X11-unix/X$display" ]; do
        display=$((display + 1))
    done
    export DISPLAY=:$display
    Xvfb "$DISPLAY" -nolisten tcp -screen 0 "$1x24" >"$work/xvfb.log" 2>&1 &
    xvfb_pid=$!
    for _ in $(seq 50); do
        xdotool getdisplaygeometry >/dev/null 2>&1 && break
        sleep 0.1
    done
    openbox >"$work/openbox.log" 2>&1 &
    wm_pid=$!
    sleep 1
}

# The program on its first start: its frame (client area plus the extents openbox reports)
# lies whole on the screen.
check_program() {
    local size=$1 name=$2
    local dir=$work/program
    rm -rf "$dir"
    mkdir -p "$dir"
    cp "$program" "$dir/PelorixMgr"
    printf '[Settings]\r\nMessages=0\r\nRouter=0\r\nLeft=1\r\nTop=1\r\n' >"$dir/Pelorix.ini"
    (cd / && XDG_RUNTIME_DIR=$work exec "$dir/PelorixMgr") >>"$work/mgr.log" 2>&1 &
    local pid=$! window=
    for _ in $(seq 100); do
        window=$(xdotool search --onlyvisible --pid "$pid" 2>/dev/null | head -1) || true
        [ -n "$window" ] && break
        sleep 0.1
    done
    [ -n "$window" ] || { echo "kein Fenster erschienen" >&2; kill "$pid"; return 1; }
    sleep 1.5 # framed, placed and put onto the screen
    local x y w h
    x=$(xwininfo -id "$window" | sed -n 's/.*Absolute upper-left X: *//p')
    y=$(xwininfo -id "$window" | sed -n 's/.*Absolute upper-left Y: *//p')
    w=$(xwininfo -id "$window" | sed -n 's/.*Width: *//p')
    h=$(xwininfo -id "$window" | sed -n 's/.*Height: *//p')
    local extents
    extents=$(xprop -id "$window" _NET_FRAME_EXTENTS | sed -n 's/.*= *//p' | tr -d ' ')
    local left right top bottom
    IFS=, read -r left right top bottom <<<"$extents"
    local fx=$((x - left)) fy=$((y - top)) fw=$((w + left + right)) fh=$((h + top + bottom))
    local sw=${size%x*} sh=${size#*x}
    echo "$name: Rahmen ${fw}x${fh} bei $fx,$fy auf ${sw}x${sh}"
    if [ -n "${PELORIX_FIT_SHOTS:-}" ]; then
        mkdir -p "$PELORIX_FIT_SHOTS"
        import -window root "$PELORIX_FIT_SHOTS/$name.png"
    fi
    xdotool windowactivate --sync "$window" key --clearmodifiers alt+F4
    for _ in $(seq 100); do
        kill -0 "$pid" 2>/dev/null || break
        sleep 0.1
    done
    kill "$pid" 2>/dev/null || true
    wait "$pid" || true
    [ "$fx" -ge 0 ] && [ "$fy" -ge 0 ] && [ $((fx + fw)) -le "$sw" ] && [ $((fy + fh)) -le "$sh" ]
}

failed=0
run() {
    local size=$1 scale=$2 name=$3
    echo "== $name: ${size}, QT_SCALE_FACTOR=$scale"
    start_display "$size"
    export QT_SCALE_FACTOR=$scale
    check_program "$size" "$name" || { echo "FEHLER: $name: Fenster ragt über den Bildschirm" >&2; failed=1; }
    QT_QPA_PLATFORM=xcb XDG_RUNTIME_DIR=$work "$fit_test" -silent ||
        { echo "FEHLER: $name: WindowFitTest" >&2; failed=1; }
    QT_QPA_PLATFORM=xcb XDG_RUNTIME_DIR=$work "$close_test" -silent \
        aCloseDuringAnUploadToASilentServerClosesTheWindowAfterIt ||
        { echo "FEHLER: $name: Schließen während einer Netzwerkaktion" >&2; failed=1; }
    unset QT_SCALE_FACTOR
    stop_display
}

run 1024x600 1 fit-1024x600
run 1280x800 1.5 fit-1280x800-scale1.5

if [ "$failed" != 0 ]; then
    exit 1
fi
echo "OK"
