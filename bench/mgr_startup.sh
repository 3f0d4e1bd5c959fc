#!/bin/sh
# Time for the manager to start and show its window, on a virtual X display (Xvfb).
#
#   bench/mgr_startup.sh [build-dir] [runs]      limit: median within 1 s
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:-$root/build/dev}" && pwd)
[ -x "$build/src/mgr/PelorixMgr" ] || { echo "no PelorixMgr in $build" >&2; exit 2; }
exec xvfb-run -a -s "-screen 0 1280x1024x24" /usr/bin/python3 "$root/bench/mgr_startup.py" "$build" "${2:-10}"
