#!/bin/sh
# Builds and runs the address-scan benchmark: bench/address-scan.sh [build-dir]
# The scan and what it needs come from the build directory's libraries (default build/dev).
# Exits non-zero when a scan of a 99,999-character page takes 5 ms or more.
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:-$root/build/dev}" && pwd)
libs="svc net mail scm common platform base"
for lib in $libs; do
    [ -f "$build/src/$lib/libpelorix_$lib.a" ] || { echo "no libpelorix_$lib.a in $build" >&2; exit 2; }
done
out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT
g++ -std=c++20 -O2 -I"$root/src" -o "$out/bench" "$root/bench/AddressScanBench.cpp" \
    -Wl,--start-group $(for lib in $libs; do echo "$build/src/$lib/libpelorix_$lib.a"; done) -Wl,--end-group \
    -ldl -pthread
"$out/bench"
