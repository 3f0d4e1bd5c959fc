#!/bin/sh
# Times the SMTP dialogue of the mail client against a real local server (aiosmtpd through
# tests/support/smtp_server.py, which stores every mail): COUNT mails (default 20) one after
# the other, each a whole dialogue from connect to QUIT.
#
#   bench/smtp_dialogue.sh [build-dir] [count]
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:-$root/build/dev}" && pwd)
count=${2:-20}
libs="mail net common platform base"
for lib in $libs; do
    [ -f "$build/src/$lib/libpelorix_$lib.a" ] || { echo "no libpelorix_$lib.a in $build" >&2; exit 2; }
done
out=$(mktemp -d /tmp/pelorix-smtp-XXXXXX)
server=
cleanup() {
    [ -n "$server" ] && kill -TERM "$server" 2>/dev/null && wait "$server" 2>/dev/null || true
    rm -rf "$out"
}
trap cleanup EXIT INT TERM

g++ -std=c++20 -O2 -I"$root/src" -o "$out/SmtpBench" "$root/bench/SmtpBench.cpp" \
    -Wl,--start-group $(for lib in $libs; do echo "$build/src/$lib/libpelorix_$lib.a"; done) -Wl,--end-group \
    -ldl -pthread

port=$(/usr/bin/python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
mkdir "$out/mailbox"
/usr/bin/python3 "$root/tests/support/smtp_server.py" --port "$port" --dir "$out/mailbox" >"$out/smtp.log" 2>&1 &
server=$!
/usr/bin/python3 - "$port" <<'PY' || { echo "the SMTP server did not start" >&2; cat "$out/smtp.log" >&2; exit 1; }
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
"$out/SmtpBench" "$port" "$count"

# For comparison: the same dialogue with Nagle's algorithm switched off on the client's socket
# (a preloaded connect() that sets TCP_NODELAY). The gap between the two figures is the wait
# for the server's delayed acknowledgement while the message goes out line by line.
cat >"$out/nodelay.c" <<'C'
#define _GNU_SOURCE
#include <dlfcn.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
int connect(int fd, const struct sockaddr* address, socklen_t length) {
    int (*real)(int, const struct sockaddr*, socklen_t) = dlsym(RTLD_NEXT, "connect");
    int one = 1;
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    return real(fd, address, length);
}
C
if gcc -shared -fPIC -o "$out/nodelay.so" "$out/nodelay.c" -ldl 2>/dev/null; then
    LD_PRELOAD="$out/nodelay.so" "$out/SmtpBench" "$port" "$count" | sed 's/^RESULT smtp_mail /RESULT smtp_mail_nodelay /; s/^\([0-9]\)/with TCP_NODELAY: \1/'
    count=$((count * 2))
fi
stored=$(ls "$out/mailbox" | grep -c '\.txt$' || true)
echo "mails stored by the server: $stored"
[ "$stored" = "$count" ]
