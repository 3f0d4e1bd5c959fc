#!/bin/sh
# Time from a changed address at the source to the page on the FTP server (router mode,
# Intervall=1), in a private network namespace with real servers on ports 80 and 21.
#
#   bench/publish_latency.sh [build-dir] [changes]      limit: every change within 11 s
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:-$root/build/dev}" && pwd)
for program in src/svc/PelorixSvc tests/support/pelorix-ini; do
    [ -x "$build/$program" ] || { echo "no $program in $build" >&2; exit 2; }
done
exec "$root/scripts/netns-run.sh" /usr/bin/python3 "$root/bench/publish_latency.py" "$build" "${2:-8}"
