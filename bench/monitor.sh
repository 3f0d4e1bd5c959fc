#!/bin/sh
# Builds and runs the monitor receiver benchmark: bench/monitor.sh [build-dir]
# The manager's libraries come from the build directory (configured when missing); the
# benchmark runs in a private network namespace, where it may listen on port 60123.
# Exits non-zero when a line is missing or the window took 100 ms or more to answer a click.
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build/bench}
[ -f "$build/build.ninja" ] || cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" -j2 --target pelorix_mgr >/dev/null
out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT
g++ -std=c++20 -O2 -fPIC -I"$root/src" $(pkg-config --cflags Qt6Widgets Qt6Network) -o "$out/bench" \
    "$root/bench/MonitorBench.cpp" \
    -Wl,--start-group "$build/src/mgr/libpelorix_mgr.a" "$build/src/mgrcore/libpelorix_mgrcore.a" "$build/src/svc/libpelorix_svc.a" "$build/src/mail/libpelorix_mail.a" \
    "$build/src/net/libpelorix_net.a" "$build/src/platform/libpelorix_platform.a" \
    "$build/src/scm/libpelorix_scm.a" "$build/src/common/libpelorix_common.a" "$build/src/base/libpelorix_base.a" \
    -Wl,--end-group \
    $(pkg-config --libs Qt6Widgets Qt6Network) -lcurl -lpthread
"$root/scripts/netns-run.sh" "$out/bench"
