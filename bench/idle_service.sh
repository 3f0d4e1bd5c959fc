#!/bin/sh
# Measures the idle PelorixSvc: resident memory and processor use of the foreground service
# with its worker ticking, over DURATION seconds (default 60). The service runs from a copy in
# a scratch directory with settings that keep every stage on this machine.
#
#   MODE=probe  (default) the FTP host is 127.0.0.1 (nobody listens, so probes fail at once),
#               the monitor is on (nobody listens), a check at every tick.
#   MODE=router the service in router mode inside a private network namespace, with a real
#               address page (http.server on port 80) and FTP server (pyftpdlib on port 21):
#               the first check publishes, then Intervall=60 keeps the worker idling (ticks
#               without checks) for the whole measurement. The upload runs in a child
#               process, so libcurl never enters the service; the script tells if it is mapped.
#   MODE=tlsmail as router, with the address mail over TLS from the first byte (Security=tls,
#               aiosmtpd on port 465 with a certificate made here, trusted by its pin): the
#               mail runs in a child process, so OpenSSL never enters the service either; the
#               script tells if libssl is mapped.
#   MODE=noworker settings without FTP host, user and password: the checks at start fail, no
#               worker runs, the service only waits to be stopped.
#
#   In router mode SECURE=ftps publishes to vsftpd with implicit TLS on port 990 (certificate
#   pinned), SECURE=sftp to OpenSSH's sshd with internal-sftp on port 22 (host key pinned);
#   both log in a user the script makes with a password and removes afterwards (needs root).
#
#   [MODE=router] [SECURE=ftps|sftp] [DURATION=300] bench/idle_service.sh [build-dir]
#
# Limits: VmRSS <= RSS_LIMIT_KIB (default 6144 KiB), CPU <= 0.1 % of one core. Besides VmRSS
# the script shows what it consists of (anonymous memory, mapped files, proportional share),
# since most of it is shared library pages. The last line is a machine-readable summary:
#   RESULT idle_<mode> <max VmRSS KiB> <CPU %> <RssAnon KiB> <RssFile KiB> <Pss KiB> <private KiB> <VmHWM KiB>
set -eu

ROOT=$(cd "$(dirname "$0")/.." && pwd)
BUILD=$(cd "${1:-$ROOT/build/svc}" && pwd)
DURATION=${DURATION:-60}
MODE=${MODE:-probe}
RSS_LIMIT_KIB=${RSS_LIMIT_KIB:-6144}
PROGRAM="$BUILD/src/svc/PelorixSvc"
[ -x "$PROGRAM" ] || { echo "no PelorixSvc in $BUILD" >&2; exit 2; }

# Router mode binds the fixed ports: run again inside a private network namespace.
if { [ "$MODE" = router ] || [ "$MODE" = tlsmail ]; } && [ "${PELORIX_BENCH_NETNS:-}" != 1 ]; then
    exec "$ROOT/scripts/netns-run.sh" env PELORIX_BENCH_NETNS=1 MODE="$MODE" DURATION="$DURATION" \
        RSS_LIMIT_KIB="$RSS_LIMIT_KIB" SECURE="${SECURE:-}" sh "$0" "$BUILD"
fi

DIR=$(mktemp -d /tmp/pelorix-bench-XXXXXX)
PID=
HELPERS=
SECURE=${SECURE:-}
BENCH_USER=
cleanup() {
    [ -n "$PID" ] && kill -TERM "$PID" 2>/dev/null && wait "$PID" 2>/dev/null || true
    for helper in $HELPERS; do kill -TERM "$helper" 2>/dev/null || true; done
    wait 2>/dev/null || true
    [ -n "$BENCH_USER" ] && userdel -f "$BENCH_USER" 2>/dev/null || true
    rm -rf "$DIR"
}
trap cleanup EXIT INT TERM

wait_port() {
    /usr/bin/python3 - "$1" <<'PY' || { echo "nothing listens on port $1" >&2; return 1; }
import socket, sys, time
deadline = time.monotonic() + 15
while time.monotonic() < deadline:
    try:
        socket.create_connection(("127.0.0.1", int(sys.argv[1])), 1).close()
        sys.exit(0)
    except OSError:
        time.sleep(0.1)
sys.exit(1)
PY
}

cp "$PROGRAM" "$DIR/PelorixSvc"
case "$MODE" in
probe)
    printf '[Settings]\r\nFTPHost=127.0.0.1\r\nFTPUser=pelorix\r\nFTPPass=x\r\nMessages=1\r\nMsgLevel=4\r\nLogFile=1\r\nIntervall=1\r\n' \
        >"$DIR/Pelorix.ini"
    SETTLE=6
    ;;
noworker)
    printf '[Settings]\r\nMessages=1\r\nMsgLevel=4\r\nLogFile=1\r\nIntervall=1\r\n' >"$DIR/Pelorix.ini"
    SETTLE=6
    ;;
router | tlsmail)
    INI_TOOL="$BUILD/tests/support/pelorix-ini"
    [ -x "$INI_TOOL" ] || { echo "no pelorix-ini in $BUILD (build target pelorix-ini)" >&2; exit 2; }
    mkdir -p "$DIR/www" "$DIR/ftp"
    echo '<html><body>Current IP Address: 198.51.100.7</body></html>' >"$DIR/www/ip.htm"
    /usr/bin/python3 -m http.server 80 --bind 127.0.0.1 --directory "$DIR/www" >"$DIR/http.log" 2>&1 &
    HELPERS="$HELPERS $!"
    case "$SECURE" in
    "")
        /usr/bin/python3 "$ROOT/tests/support/ftp_server.py" "$DIR/ftp" 21 pelorix geheim >"$DIR/ftp.log" 2>&1 &
        HELPERS="$HELPERS $!"
        wait_port 21
        FTP_USER=pelorix SITE=/myserver.htm MODE_KEYS="FTPMode=0"
        ;;
    ftps | sftp)
        [ "$(id -u)" = 0 ] || { echo "SECURE=$SECURE needs root" >&2; exit 2; }
        BENCH_USER=pbench$$
        useradd -M -d "$DIR/ftp" -s /bin/sh "$BENCH_USER"
        echo "$BENCH_USER:geheim" | chpasswd
        chmod 755 "$DIR"
        chown "$BENCH_USER" "$DIR/ftp"
        FTP_USER=$BENCH_USER SITE=$DIR/ftp/myserver.htm
        if [ "$SECURE" = ftps ]; then
            openssl req -x509 -newkey rsa:2048 -nodes -keyout "$DIR/key.pem" -out "$DIR/cert.pem" -days 2 \
                -subj /CN=127.0.0.1 2>/dev/null
            PIN=sha256//$(openssl x509 -in "$DIR/cert.pem" -pubkey -noout | openssl pkey -pubin -outform der |
                openssl dgst -sha256 -binary | base64)
            mkdir -p "$DIR/empty"
            printf '%s\n' listen=YES listen_address=127.0.0.1 listen_port=990 background=NO anonymous_enable=NO \
                local_enable=YES write_enable=YES pam_service_name=vsftpd "secure_chroot_dir=$DIR/empty" \
                seccomp_sandbox=NO isolate=NO isolate_network=NO pasv_address=127.0.0.1 ssl_enable=YES \
                implicit_ssl=YES "rsa_cert_file=$DIR/cert.pem" "rsa_private_key_file=$DIR/key.pem" \
                force_local_logins_ssl=YES force_local_data_ssl=YES require_ssl_reuse=NO >"$DIR/vsftpd.conf"
            /usr/sbin/vsftpd "$DIR/vsftpd.conf" >"$DIR/ftp.log" 2>&1 &
            HELPERS="$HELPERS $!"
            wait_port 990
            MODE_KEYS="FTPMode=2 FTPTrust=$PIN"
        else
            ssh-keygen -q -t ed25519 -N '' -f "$DIR/hostkey"
            FP=$(ssh-keygen -l -E sha256 -f "$DIR/hostkey.pub" | awk '{ print $2 }')
            mkdir -p /run/sshd
            printf '%s\n' "Port 22" "ListenAddress 127.0.0.1" "HostKey $DIR/hostkey" "PidFile none" "UsePAM no" \
                "PasswordAuthentication yes" "StrictModes no" "AllowUsers $BENCH_USER" \
                "Subsystem sftp internal-sftp" >"$DIR/sshd_config"
            /usr/sbin/sshd -D -e -f "$DIR/sshd_config" >"$DIR/ftp.log" 2>&1 &
            HELPERS="$HELPERS $!"
            wait_port 22
            MODE_KEYS="FTPMode=3 FTPTrust=$FP"
        fi
        ;;
    *)
        echo "unknown SECURE $SECURE (ftps or sftp)" >&2
        exit 2
        ;;
    esac
    wait_port 80
    # shellcheck disable=SC2086 # MODE_KEYS holds several key=value words
    "$INI_TOOL" "$DIR/Pelorix.ini" Settings FTPHost=127.0.0.1 "FTPUser=$FTP_USER" +FTPPass=geheim \
        "FTPSite=$SITE" FTPPassive=1 Router=1 IPSource=127.0.0.1/ip.htm Intervall=60 \
        Messages=1 MsgLevel=4 LogFile=1 eMail=0 AddPages=0 $MODE_KEYS
    if [ "$MODE" = tlsmail ]; then
        mkdir -p "$DIR/mail"
        openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes -days 2 -subj /CN=mail.test \
            -keyout "$DIR/key.pem" -out "$DIR/cert.pem" 2>/dev/null
        PIN="sha256//$(openssl x509 -in "$DIR/cert.pem" -pubkey -noout | openssl pkey -pubin -outform der |
            openssl dgst -sha256 -binary | base64)"
        /usr/bin/python3 "$ROOT/tests/support/smtp_server.py" --port 465 --dir "$DIR/mail" --cert "$DIR/cert.pem" \
            --key "$DIR/key.pem" --tls >"$DIR/smtp.log" 2>&1 &
        HELPERS="$HELPERS $!"
        wait_port 465
        "$INI_TOOL" "$DIR/Pelorix.ini" Settings eMail=1
        "$INI_TOOL" "$DIR/Pelorix.ini" SendMail Server=127.0.0.1 From=ip@example.org To=anna@example.org \
            Security=tls "Trust=$PIN"
    fi
    SETTLE=0
    ;;
*)
    echo "unknown MODE $MODE (probe, router, tlsmail or noworker)" >&2
    exit 2
    ;;
esac

(cd "$DIR" && exec ./PelorixSvc -foreground) 2>"$DIR/console.txt" &
PID=$!
HZ=$(getconf CLK_TCK)

cpu_ticks() { awk '{ sub(/.*\) /, ""); print $12 + $13 }' "/proc/$PID/stat"; }
status_kib() { awk -v key="$1:" '$1 == key { print $2 }' "/proc/$PID/status"; }
rollup_kib() { awk -v key="$1:" '$1 == key { sum += $2 } END { print sum + 0 }' "/proc/$PID/smaps_rollup"; }

if [ "$MODE" = router ] || [ "$MODE" = tlsmail ]; then
    # Past the first check: the page is on the FTP server (and with tlsmail the mail arrived).
    i=0
    until grep -q 198.51.100.7 "$DIR/ftp/myserver.htm" 2>/dev/null &&
        { [ "$MODE" = router ] || [ -f "$DIR/mail/msg1.txt" ]; }; do
        i=$((i + 1))
        [ "$i" -lt 300 ] || { echo "the page was not published" >&2; cat "$DIR/Pelorix.log" >&2; exit 1; }
        sleep 0.1
    done
    sleep 1
else
    # Past the start delay, so the measurement covers ticking, not start-up.
    sleep "$SETTLE"
fi

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
ANON=$(status_kib RssAnon)
FILE=$(status_kib RssFile)
PSS=$(rollup_kib Pss)
PRIVATE=$(($(rollup_kib Private_Clean) + $(rollup_kib Private_Dirty)))

CPU=$(awk -v t="$((T1 - T0))" -v hz="$HZ" -v s0="$S0" -v s1="$S1" 'BEGIN { printf "%.4f", 100 * t / hz / (s1 - s0) }')
echo "PelorixSvc idle ($MODE) over ${DURATION} s: max VmRSS ${MAXRSS} KiB (VmHWM ${HWM} KiB), CPU ${CPU} % of one core"
echo "  resident: ${ANON} KiB anonymous, ${FILE} KiB mapped files; proportional share ${PSS} KiB, private ${PRIVATE} KiB"
echo "  largest mapped files (KiB):"
awk '/^[0-9a-f]+-/ { name = $6 } /^Rss:/ { rss[name] += $2 } END { for (n in rss) if (n != "") print rss[n], n }' \
    "/proc/$PID/smaps" | sort -rn | head -6 | sed 's/^/    /'
echo "  libcurl mapped: $(grep -q libcurl "/proc/$PID/maps" && echo yes || echo no)"
echo "  libssl mapped: $(grep -q libssl "/proc/$PID/maps" && echo yes || echo no)"
echo "  lines written to the log meanwhile: $(tr '\r' '\n' <"$DIR/Pelorix.log" | grep -c '^\[')"
echo "RESULT idle_$MODE${SECURE:+_$SECURE} $MAXRSS $CPU $ANON $FILE $PSS $PRIVATE $HWM"

OK=1
[ "$MAXRSS" -le "$RSS_LIMIT_KIB" ] || { echo "resident memory above $RSS_LIMIT_KIB KiB" >&2; OK=0; }
awk -v c="$CPU" 'BEGIN { exit !(c <= 0.1) }' || { echo "processor use above 0.1 %" >&2; OK=0; }
[ "$OK" = 1 ]
