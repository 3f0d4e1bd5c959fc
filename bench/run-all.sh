#!/usr/bin/env bash
# Runs every benchmark of Pelorix and writes every figure, with how it was taken and the raw
# output, to docs/benchmarks.md; nothing in that file is written by hand.
#
#   bench/run-all.sh [build-dir]           (default build/bench; configured and built as needed)
#   QUICK=1 bench/run-all.sh [build-dir]   a short try of the script (15 s idle, few runs, no
#                                          monitor), written to BUILD/benchmarks-quick.md
#
# IDLE_SECONDS (default 300, with QUICK=1 15) sets how long each idle service is watched;
# BENCH_DOC names another file to write. The idle measurements (router mode, the FTPS and SFTP
# uploads, the TLS mail, the probe at every tick) run in the background while the other
# benchmarks run: they measure the idle process's own processor time, which the others do not
# add to. Needs root or unprivileged user namespaces (private network namespaces for the fixed
# ports), root for the FTPS and SFTP figures (a user made for the login), Xvfb and xdotool.
set -uo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build/bench}
QUICK=${QUICK:-}
if [ -n "$QUICK" ]; then
    IDLE_SECONDS=${IDLE_SECONDS:-15}
    smtp_count=5 startup_runs=3 latency_changes=2
else
    IDLE_SECONDS=${IDLE_SECONDS:-300}
    smtp_count=20 startup_runs=10 latency_changes=8
fi
out=$(mktemp -d /tmp/pelorix-bench-all-XXXXXX)
trap 'rm -rf "$out"' EXIT

[ -f "$build/build.ninja" ] || cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" -j2 --target PelorixSvc PelorixMgr pelorix-ini pelorix_svc pelorix_mail pelorix_net \
    pelorix_scm pelorix_platform pelorix_common pelorix_base pelorix_mgrcore >"$out/build.log" 2>&1 || { cat "$out/build.log" >&2; exit 2; }
build=$(cd "$build" && pwd)
if [ -n "$QUICK" ]; then doc=${BENCH_DOC:-$build/benchmarks-quick.md}; else doc=${BENCH_DOC:-$root/docs/benchmarks.md}; fi

# ---- Measuring ----

load_before=$(cut -d' ' -f1-3 /proc/loadavg)
idle_names=(idle_router idle_probe idle_tlsmail)
secure_note=
if [ "$(id -u)" = 0 ]; then
    idle_names+=(idle_ftps idle_sftp)
else
    secure_note="not measured (needs root)"
fi
declare -A idle_pids
echo "idle service, ${IDLE_SECONDS} s each (background): ${idle_names[*]} ..."
for name in "${idle_names[@]}"; do
    case $name in
    idle_ftps) mode=router secure=ftps ;;
    idle_sftp) mode=router secure=sftp ;;
    *) mode=${name#idle_} secure= ;;
    esac
    MODE=$mode SECURE=$secure DURATION=$IDLE_SECONDS bash "$root/bench/idle_service.sh" "$build" \
        >"$out/$name.txt" 2>&1 &
    idle_pids[$name]=$!
done

run() { # name command...
    local name=$1
    shift
    echo "$name ..."
    "$@" >"$out/$name.txt" 2>&1
    echo "exit $?" >>"$out/$name.txt"
}
run address_scan bash "$root/bench/address-scan.sh" "$build"
run smtp bash "$root/bench/smtp_dialogue.sh" "$build" "$smtp_count"
run mgr_startup bash "$root/bench/mgr_startup.sh" "$build" "$startup_runs"
run publish_latency bash "$root/bench/publish_latency.sh" "$build" "$latency_changes"
[ -n "$QUICK" ] || run monitor bash "$root/bench/monitor.sh" "$build"
# The floor libcurl alone sets: a program that only initialises libcurl and waits.
printf '#include <curl/curl.h>\n#include <unistd.h>\nint main(void) { curl_global_init(CURL_GLOBAL_DEFAULT); curl_easy_init(); pause(); return 0; }\n' >"$out/floor.c"
curl_floor=
if gcc -O2 -o "$out/floor" "$out/floor.c" -lcurl 2>/dev/null; then
    "$out/floor" &
    floor_pid=$!
    sleep 1
    curl_floor=$(awk '$1 == "VmRSS:" { print $2 }' "/proc/$floor_pid/status")
    kill "$floor_pid"
    wait "$floor_pid" 2>/dev/null
fi
for name in "${idle_names[@]}"; do
    wait "${idle_pids[$name]}"
    echo "exit $?" >>"$out/$name.txt"
done
load_after=$(cut -d' ' -f1-3 /proc/loadavg)

# ---- Figures ----

# Field n of the RESULT line named key in file (empty when missing).
field() { [ -f "$out/$1.txt" ] && awk -v key="$2" -v n="$3" '$1 == "RESULT" && $2 == key { print $(n + 2) }' "$out/$1.txt"; }
verdict() { # value limit: "met" when value <= limit
    if [ -z "$1" ]; then echo "no figure"; else awk -v v="$1" -v l="$2" 'BEGIN { print (v <= l) ? "met" : "**missed**" }'; fi
}
verdict2() { # value-by-max value-by-median limit: judged on the worst run, else on the median
    local worst median
    worst=$(verdict "$1" "$3")
    median=$(verdict "$2" "$3")
    if [ "$worst" = met ] || [ "$median" != met ]; then echo "$worst"; else echo "met by the median; the slowest run missed it (machine load)"; fi
}
mib() { if [ -n "$1" ]; then awk -v k="$1" 'BEGIN { printf "%.1f MiB", k / 1024 }'; else echo "?"; fi; }
# "never mapped" or "mapped" for a library the idle script looked for in the service (name lib).
mapped() {
    local said
    said=$(sed -n "s/^  $2 mapped: //p" "$out/$1.txt" 2>/dev/null)
    case $said in no) echo "$2 never mapped" ;; yes) echo "$2 mapped" ;; *) echo "$2 ?" ;; esac
}
# The row of an idle service after a secure upload: name protocol server.
secure_row() {
    local name=$1 what="idle service after publishing over $2 ($3; ${IDLE_SECONDS} s)" key rss anon private hwm
    key=idle_router_${name#idle_}
    rss=$(field "$name" "$key" 1)
    anon=$(field "$name" "$key" 3)
    private=$(field "$name" "$key" 6)
    hwm=$(field "$name" "$key" 7)
    if [ -n "$secure_note" ]; then
        echo "| $what | $secure_note | < 4.6 MiB | no figure |"
    else
        echo "| $what | $(mib "$rss") VmRSS (${rss:-?} KiB; ${anon:-?} KiB anonymous, private $(mib "$private"); VmHWM ${hwm:-?} KiB; $(mapped "$name" libcurl)) | < 4.6 MiB | $(verdict "$rss" 4710) |"
    fi
}

rss=$(field idle_router idle_router 1)
cpu=$(field idle_router idle_router 2)
anon=$(field idle_router idle_router 3)
pss=$(field idle_router idle_router 5)
private=$(field idle_router idle_router 6)
hwm=$(field idle_router idle_router 7)
rss_probe=$(field idle_probe idle_probe 1)
cpu_probe=$(field idle_probe idle_probe 2)
private_probe=$(field idle_probe idle_probe 6)
rss_tls=$(field idle_tlsmail idle_tlsmail 1)
private_tls=$(field idle_tlsmail idle_tlsmail 6)
lat_min=$(field publish_latency publish_latency 1)
lat_med=$(field publish_latency publish_latency 2)
lat_max=$(field publish_latency publish_latency 3)
lat_n=$(field publish_latency publish_latency 4)
st_min=$(field mgr_startup mgr_startup 1)
st_med=$(field mgr_startup mgr_startup 2)
st_max=$(field mgr_startup mgr_startup 3)
st_n=$(field mgr_startup mgr_startup 4)
st_first=$(field mgr_startup mgr_startup 5)
st_cpu=$(field mgr_startup mgr_startup 6)
scan_max=$(field address_scan address_scan 1)
scan_med=$(field address_scan address_scan 2)
smtp_min=$(field smtp smtp_mail 1)
smtp_med=$(field smtp smtp_mail 2)
smtp_max=$(field smtp smtp_mail 3)
smtp_n=$(field smtp smtp_mail 5)
smtp_nd=$(field smtp smtp_mail_nodelay 2)

{
    echo "# Pelorix: measured figures"
    echo
    echo "Written by \`bench/run-all.sh\`${QUICK:+ (QUICK=1: a short try, not for publishing)} on $(date -u '+%Y-%m-%d %H:%M UTC') from commit" \
        "\`$(git -C "$root" rev-parse --short HEAD 2>/dev/null || echo unknown)\` (build type RelWithDebInfo);" \
        "everything below comes from that run."
    echo
    echo "| machine | |"
    echo "| --- | --- |"
    echo "| processors (nproc) | $(nproc) |"
    echo "| CPU model | $(awk -F': ' '/^model name/ { print $2; exit }' /proc/cpuinfo) |"
    echo "| memory | $(awk '/^MemTotal/ { printf "%.1f GiB", $2 / 1048576 }' /proc/meminfo) |"
    echo "| system | $(. /etc/os-release && echo "$PRETTY_NAME"), Linux $(uname -r) |"
    echo "| load average (1, 5, 15 min) | before: $load_before; after: $load_after |"
    echo
    echo "| figure | measured | target | verdict |"
    echo "| --- | --- | --- | --- |"
    echo "| idle service, resident memory (VmRSS, max over ${IDLE_SECONDS} s; router mode, idling after publishing) | $(mib "$rss") (${anon:-?} KiB anonymous, proportional share $(mib "$pss"), private $(mib "$private"); VmHWM $(mib "$hwm"), $(mapped idle_router libcurl): the upload runs in a child process) | ≤ 6 MiB | $(verdict "$rss" 6144) |"
    secure_row idle_ftps FTPS "vsftpd, implicit TLS, pinned certificate"
    secure_row idle_sftp SFTP "sshd with internal-sftp, pinned host key"
    echo "| idle service, processor (utime+stime over ${IDLE_SECONDS} s; router mode, idling) | ${cpu:-?} % of one core | ≤ 0.1 % | $(verdict "$cpu" 0.1) |"
    echo "| idle service after publishing and a TLS mail (Security=tls, aiosmtpd on 465; ${IDLE_SECONDS} s) | $(mib "$rss_tls") VmRSS (${rss_tls:-?} KiB; private $(mib "$private_tls")); the mail runs in a child process, $(mapped idle_tlsmail libssl) | < 4.6 MiB | $(verdict "$rss_tls" 4710) |"
    echo "| idle service checking at every tick (failing FTP probe, Intervall=1) | $(mib "$rss_probe") VmRSS (private $(mib "$private_probe")), ${cpu_probe:-?} % of one core | ≤ 6 MiB, ≤ 0.1 % | $(verdict "$rss_probe" 6144) / $(verdict "$cpu_probe" 0.1) |"
    echo "| changed address at the source → page on the FTP server (router mode, Intervall=1; ${lat_n:-?} changes at random moments of the tick) | min ${lat_min:-?} s, median ${lat_med:-?} s, max ${lat_max:-?} s | ≤ 11 s | $(verdict "$lat_max" 11) |"
    echo "| manager start → main window shown (Xvfb, ${st_n:-?} runs) | min ${st_min:-?} s, median ${st_med:-?} s, max ${st_max:-?} s (first run ${st_first:-?} s); processor time used meanwhile: median ${st_cpu:-?} s | ≤ 1 s | $(verdict2 "$st_max" "$st_med" 1) |"
    echo "| address scan of a 99,999-character page without an address (9 kinds of page, 20 runs each) | slowest run ${scan_max:-?} ms, largest median ${scan_med:-?} ms | < 5 ms | $(verdict2 "$scan_max" "$scan_med" 4.999) |"
    if [ -f "$out/monitor.txt" ]; then
        mon_clicks=$(grep 'clicks answered' "$out/monitor.txt" | tail -1 | sed 's/^ *[0-9]* clicks answered: //')
        mon_rate=$(grep -o '[0-9.]* connections/s' "$out/monitor.txt" | tail -1)
        mon_exit=$(awk '/^exit / { print $2 }' "$out/monitor.txt")
        echo "| manager's monitor receiver: 2,000 lines, one connection each, while the user clicks (\`bench/monitor.sh\`, full list) | every line shown at ${mon_rate:-?}; clicks answered: ${mon_clicks:-?} | every line shown, clicks < 100 ms | $([ "$mon_exit" = 0 ] && echo met || echo '**missed**') |"
    else
        echo "| manager's monitor receiver: 2,000 lines, one connection each, while the user clicks (\`bench/monitor.sh\`) | not measured (QUICK=1) | every line shown, clicks < 100 ms | no figure |"
    fi
    echo "| SMTP dialogue with aiosmtpd on loopback, connect to QUIT (${smtp_n:-?} mails) | min ${smtp_min:-?} ms, median ${smtp_med:-?} ms, max ${smtp_max:-?} ms per mail; with TCP_NODELAY forced on by a preloaded connect(): median ${smtp_nd:-?} ms | — | — |"
    echo
    echo "The Windows program (\`cmake --preset windows\`, see \`docs/windows.md\`) is not measured here: it"
    echo "runs only under Wine on this machine."
    echo
    echo "## How each figure is taken"
    echo
    echo "- \`bench/idle_service.sh\` (MODE=router): PelorixSvc in foreground mode from a scratch program"
    echo "  directory, in a private network namespace with a real address page (http.server, port 80) and"
    echo "  FTP server (pyftpdlib, port 21). The first check publishes; with Intervall=60 the worker then"
    echo "  ticks every ten seconds without checking. VmRSS is read from /proc/PID/status every second,"
    echo "  processor time from /proc/PID/stat (utime+stime) over the whole span. With SECURE=ftps or"
    echo "  SECURE=sftp the page goes to vsftpd (implicit TLS on 990, certificate pinned in FTPTrust) or"
    echo "  to OpenSSH's sshd (internal-sftp on 22, host key pinned) instead, logging in a user the"
    echo "  script makes. MODE=tlsmail is MODE=router with the address mail over TLS (aiosmtpd with a"
    echo "  certificate made by the script, trusted by its pin). MODE=probe checks at every tick"
    echo "  against an FTP host where nobody listens."
    echo "- \`bench/publish_latency.sh\`: the same set-up with Intervall=1; the address page is replaced"
    echo "  (atomically) at a random moment of the tick, and the time until the new address stands in the"
    echo "  page on the FTP server's disk is taken (polled every 10 ms)."
    echo "- \`bench/mgr_startup.sh\`: a copy of PelorixMgr in a scratch program directory under Xvfb; from"
    echo "  the process start until xdotool finds its main window mapped and viewable (polled every 20 ms)."
    echo "- \`bench/address-scan.sh\`: the scan over 99,999 characters of nine kinds of text without an"
    echo "  address; slowest and median of 20 runs per page."
    echo "- \`bench/monitor.sh\`: the manager's monitor receiver in a private network namespace, 2,000"
    echo "  status lines sent one connection each while clicks are timed, twice (empty and nearly full list)."
    echo "- \`bench/smtp_dialogue.sh\`: one TSMTPObject per mail, as the service sends it, to"
    echo "  tests/support/smtp_server.py (aiosmtpd, stores every mail) on a loopback port; then the same"
    echo "  with TCP_NODELAY forced on by a preloaded connect() for comparison."
    echo
    echo "## Findings"
    echo
    if [ "$(mapped idle_router libcurl)" = "libcurl never mapped" ]; then
        echo "- **Resident memory.** The service uploads from a child process: libcurl and its dependency"
        echo "  closure (libcrypto, GnuTLS, Kerberos, LDAP, libssh2 …, about 35 libraries) are loaded only"
        echo "  there and leave with the child, so even the peak of the service itself stays at"
        echo "  $(mib "$hwm") (VmHWM). The service's own memory is ${anon:-?} KiB anonymous; the rest of"
        echo "  its VmRSS is pages of the C library and of the program file. For comparison, a program"
        echo "  that does nothing but initialise libcurl is at $(mib "$curl_floor") VmRSS on this machine."
    else
        echo "- **Resident memory.** libcurl was mapped in the idle service: most of its VmRSS is pages of"
        echo "  shared libraries (anonymous ${anon:-?} KiB, private ${private:-?} KiB); a program that does"
        echo "  nothing but initialise libcurl is at $(mib "$curl_floor") VmRSS on this machine."
    fi
    # The delayed acknowledgement costs about 40 ms per mail; a gap of that size is the wait.
    if [ -n "$smtp_nd" ] && [ -n "$smtp_med" ] && awk -v a="$smtp_med" -v b="$smtp_nd" 'BEGIN { exit !(a - b > 30) }'; then
        echo "- **SMTP dialogue.** Most of each mail is waiting, not work: the client sends the message"
        echo "  line by line in small segments, Nagle's algorithm holds the last ones back until the server"
        echo "  acknowledges the first, and the server delays that acknowledgement (~40 ms). With"
        echo "  TCP_NODELAY forced on the same dialogue takes a median of ${smtp_nd} ms per mail."
    elif [ -n "$smtp_nd" ]; then
        echo "- **SMTP dialogue.** The client's sockets set TCP_NODELAY, so no mail waits for the"
        echo "  server's delayed acknowledgement (~40 ms): median ${smtp_med:-?} ms per mail; the comparison"
        echo "  run with TCP_NODELAY forced on by a preloaded connect() gives a median of ${smtp_nd} ms."
    fi
    echo "- **Address-change latency.** The worker checks once per tick (a 9975 ms sleep plus the"
    echo "  tick's work), so the delay is the remaining time of the tick plus one HTTP query and one"
    echo "  FTP upload; its maximum is bounded by one tick."
    echo "- **Manager start.** The manager itself needs about ${st_cpu:-?} s of processor time until its"
    echo "  window shows; the rest of the wall time is waiting for the processors and for the X server."
    if awk -v l="${load_before%% *}" -v n="$(nproc)" 'BEGIN { exit !(l > n) }'; then
        echo "- **Noisy machine.** The load average before the run (${load_before%% *}) exceeded the"
        echo "  $(nproc) processors: other programs shared them while these figures were taken, and"
        echo "  wall-clock and slowest-run figures include their interruptions."
    fi
    echo
    echo "## Raw output"
    for name in "${idle_names[@]}" publish_latency mgr_startup address_scan smtp monitor; do
        [ -f "$out/$name.txt" ] || continue
        echo
        echo "### $name"
        echo
        echo '```'
        cat "$out/$name.txt"
        echo '```'
    done
} >"$doc"
echo "written: $doc"
grep -h -E '^RESULT' "$out"/idle_*.txt "$out/publish_latency.txt" || true
