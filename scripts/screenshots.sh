#!/usr/bin/env bash
# Photographs every page of the manager's main window and its dialogs under a private Xvfb
# display into docs/ (PNG), for the README. Builds the layout test if needed and runs it on the
# X11 platform with PELORIX_SHOTS_DIR set; the test shows each page and dialog and takes the
# picture of its window with ImageMagick's import.
#
#     scripts/screenshots.sh [build-dir]      (default: build/dev)
set -euo pipefail
cd "$(dirname "$(readlink -f "$0")")/.."

BUILD=${1:-build/dev}
OUT=$PWD/docs
DISPLAY_NO=${PELORIX_SHOTS_DISPLAY:-97}

if [ ! -d "$BUILD" ]; then
    cmake -S . -B "$BUILD" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
fi
cmake --build "$BUILD" --target LayoutTest -j2 >/dev/null

RUNTIME=$(mktemp -d /tmp/pelorix-shots-XXXXXX)
chmod 700 "$RUNTIME"
Xvfb ":$DISPLAY_NO" -screen 0 1024x768x24 -nolisten tcp >/dev/null 2>&1 &
XVFB=$!
cleanup() {
    kill "$XVFB" 2>/dev/null || true
    wait "$XVFB" 2>/dev/null || true
    rm -rf "$RUNTIME"
}
trap cleanup EXIT
for _ in $(seq 50); do
    [ -e "/tmp/.X11-unix/X$DISPLAY_NO" ] && break
    sleep 0.1
done

mkdir -p "$OUT"
DISPLAY=":$DISPLAY_NO" QT_QPA_PLATFORM=xcb XDG_RUNTIME_DIR="$RUNTIME" PELORIX_SHOTS_DIR="$OUT" \
    "$BUILD/tests/mgr/LayoutTest" -silent
ls -1 "$OUT"/page*.png "$OUT"/dialog-*.png
