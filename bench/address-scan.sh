#!/bin/sh
# Builds and runs the address-scan benchmark: bench/address-scan.sh
# Exits non-zero when a scan of a 99,999-character page takes 5 ms or more.
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT
g++ -std=c++20 -O2 -I"$root/src" -o "$out/bench" "$root/bench/AddressScanBench.cpp" \
    "$root/src/svc/AddressScan.cpp" "$root/src/net/SimpSock.cpp" "$root/src/platform/TcpSocket.cpp" \
    "$root/src/common/Latin1.cpp"
"$out/bench"
