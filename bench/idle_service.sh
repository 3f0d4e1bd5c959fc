#!/bin/sh
# Measures the idle PelorixSvc: resident memory and processor use of the foreground service
# with its worker ticking, over DURATION seconds (default 60). The service runs from a copy in
# a scratch directory with settings that keep every stage on this machine: the FTP host is
# 127.0.0.1 (nobody listens, so probes fail at once) and the monitor is on (nobody listens).
#
#   bench/idle_service.sh [build-dir]      limits: VmRSS <= 4 MiB, CPU <= 0.1 % of one core
set -eu

BUILD=${1:-$(dirname "$0")/../build/svc}
DURATION=${DURATION:-60}
PROGRAM="$BUILD/src/svc/PelorixSvc"
[ -x "$PROGRAM" ] || { echo "no PelorixSvc in $BUILD" >&2; exit 2; }

DIR=$(mktemp -d /tmp/pelorix-bench-XXXXXX)
PID=
cleanup() {
    [ -n "$PID" ] && kill -TERM "$PID" 2>/dev/null && wait "$PID" 2>/dev/null || true
    rm -rf "$DIR"
}
trap cleanup EXIT INT TERM

cp "$PROGRAM" "$DIR/PelorixSvc"
printf '[Settings]\r\nFTPHost=127.0.0.1\r\nFTPUser=pelorix\r\nFTPPass=x\r\nMessages=1\r\nMsgLevel=4\r\nLogFile=1\r\nIntervall=1\r\n' \
    >"$DIR/Pelorix.ini"

"$DIR/PelorixSvc" -foreground 2>"$DIR/console.txt" &
PID=$!
HZ=$(getconf CLK_TCK)

cpu_ticks() { awk '{ print $14 + $15 }' "/proc/$PID/stat"; }
status_kib() { awk -v key="$1:" '$1 == key { print $2 }' "/proc/$PID/status"; }

# Past the start delay, so the measurement covers ticking, not start-up.
sleep 6
T0=$(cpu_ticks)
S0=$(date +%s.%N)
MAXRSS=0
i=0
while [ "$i" -lt "$DURATION" ]; do
    sleep 1
    RSS=$(status_kib VmRSS)
    [ "$RSS" -gt "$MAXRSS" ] && MAXRSS=$RSS
    i=$((i + 1))
done
T1=$(cpu_ticks)
S1=$(date +%s.%N)
HWM=$(status_kib VmHWM)

CPU=$(awk -v t="$((T1 - T0))" -v hz="$HZ" -v s0="$S0" -v s1="$S1" 'BEGIN { printf "%.4f", 100 * t / hz / (s1 - s0) }')
echo "PelorixSvc idle over ${DURATION} s: max VmRSS ${MAXRSS} KiB (VmHWM ${HWM} KiB), CPU ${CPU} % of one core"
echo "lines written to the log meanwhile: $(tr '\r' '\n' <"$DIR/Pelorix.log" | grep -c '^\[')"

OK=1
[ "$MAXRSS" -le 4096 ] || { echo "resident memory above 4 MiB" >&2; OK=0; }
awk -v c="$CPU" 'BEGIN { exit !(c <= 0.1) }' || { echo "processor use above 0.1 %" >&2; OK=0; }
[ "$OK" = 1 ]
