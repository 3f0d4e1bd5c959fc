#!/usr/bin/env bash
# PelorixSvc.exe end to end under Wine: a fresh Wine prefix inside a private network namespace
# (Wine's service manager, and so the service it starts, sees only its loopback), an
# address-source page on port 80 and an FTP server on port 21. The service is installed with
# /INSTALL under "C:\Program Files\Pelorix", started through the service control manager,
# must publish the address of the page, is paused, continued and stopped, and is removed with
# /UNINSTALL; its Pelorix.log must tell all of it. Everything it starts ends with it.
#
#     scripts/windows-e2e.sh BUILD_DIR
#
# BUILD_DIR is the Windows build (cmake --preset windows): src/svc/PelorixSvc.exe and
# tests/windows/ServiceControlTool.exe. Exit code 0 on success, 77 when Wine is missing,
# 1 otherwise.
set -uo pipefail

root=$(cd "$(dirname "$(readlink -f "$0")")/.." && pwd)
build=$(readlink -f "${1:-$root/build/windows}")
# The whole run, Wine's start included, stays within this.
overall_limit=240

fail() {
    echo "windows-e2e: FEHLGESCHLAGEN: $*" >&2
    exit 1
}

wine=$(command -v wine64 || echo /usr/lib/wine/wine64)
wineserver=$(command -v wineserver || echo /usr/lib/wine/wineserver)
if [ ! -x "$wine" ] || [ ! -x "$wineserver" ]; then
    echo "windows-e2e: übersprungen, Wine (wine64, wineserver) fehlt" >&2
    exit 77
fi

if [ "${PELORIX_WINE_E2E_INSIDE:-}" != 1 ]; then
    [ -f "$build/src/svc/PelorixSvc.exe" ] || fail "PelorixSvc.exe ist nicht gebaut ($build)"
    [ -f "$build/tests/windows/ServiceControlTool.exe" ] || fail "ServiceControlTool.exe ist nicht gebaut ($build)"
    export PELORIX_WINE_E2E_INSIDE=1
    # TERM at the limit lets the check clean up (which takes at most 40 s); KILL comes after that.
    exec timeout -k 60 "$overall_limit" "$root/scripts/netns-run.sh" "$root/scripts/windows-e2e.sh" "$build"
fi

# Inside the private network namespace from here on.
work=$build/windows-e2e
prog_win='C:\Program Files\Pelorix'
svc_win="$prog_win\\PelorixSvc.exe"
tool=$build/tests/windows/ServiceControlTool.exe
service=PelorixService
address=203.0.113.7
rm -rf "$work"
mkdir -p "$work/ftp" "$work/www" || fail "Arbeitsverzeichnis $work nicht anzulegen"
export WINEPREFIX=$work/wineprefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree=;mshtml="
unset DISPLAY WAYLAND_DISPLAY

pids=()
cleanup() {
    local code=$?
    trap - EXIT INT TERM
    timeout 20 "$wineserver" -k >/dev/null 2>&1
    timeout 20 "$wineserver" -w >/dev/null 2>&1
    for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null; done
    wait 2>/dev/null
    if [ "$code" = 0 ]; then
        # A Wine prefix takes some 700 MB; only a failed run keeps it for a look.
        rm -rf "$work"
        echo "windows-e2e: bestanden"
    else
        echo "windows-e2e: FEHLGESCHLAGEN (Protokolle und Prefix in $work)" >&2
    fi
    exit "$code"
}
trap cleanup EXIT
trap 'fail "abgebrochen"' INT TERM

wait_port() {
    for _ in $(seq 150); do
        (exec 3<>"/dev/tcp/127.0.0.1/$1") 2>/dev/null && return 0
        sleep 0.1
    done
    fail "Port $1 antwortet nicht"
}

# Runs a command for at most LIMIT seconds. In the background, so that TERM or INT from outside
# ends the wait at once and the cleanup runs.
bounded() {
    local limit=$1
    shift
    timeout -k 5 "$limit" "$@" &
    wait $!
}

# Runs a Windows program, bounded; its output (CR removed) goes to $work/last.txt and is shown.
run_wine() {
    bounded 90 "$wine" "$@" >"$work/last.txt" 2>&1
    local code=$?
    sed -i 's/\r$//' "$work/last.txt"
    sed 's/^/    /' "$work/last.txt" | iconv -f latin1 -t utf-8
    return "$code"
}

echo '<html><body>Ihre IP ist '"$address"'</body></html>' >"$work/www/ip.htm"
/usr/bin/python3 "$root/tests/support/ftp_server.py" "$work/ftp" 21 pelo secret >"$work/ftp-server.log" 2>&1 &
pids+=($!)
/usr/bin/python3 -m http.server 80 --bind 127.0.0.1 --directory "$work/www" >"$work/http-server.log" 2>&1 &
pids+=($!)
wait_port 21
wait_port 80

echo "Wine-Prefix wird angelegt ($WINEPREFIX) ..."
bounded 120 "$wine" wineboot --init >"$work/wineboot.log" 2>&1 || fail "wineboot --init"
# Until the first boot has settled the service manager answers 1060 for everything.
bounded 120 "$wineserver" -w || fail "wineserver -w nach wineboot"

# Wine ends every service, as at a system shutdown, once no ordinary program runs any more: one
# stays for the whole check, as a user logged on would.
"$wine" "$tool" "$service" hold "$overall_limit" >/dev/null 2>&1 &
pids+=($!)

prog=$WINEPREFIX/drive_c/Program\ Files/Pelorix
mkdir -p "$prog" || fail "Programmverzeichnis nicht anzulegen"
cp "$build/src/svc/PelorixSvc.exe" "$root/dist/Pelorix.htm" "$prog/" || fail "Programmdateien nicht zu kopieren"
# The manager stores the password scrambled: each character lowered by an offset that starts
# at 13, grows by 5 and restarts at 1 once it reaches 32, wrapped into 32..255.
/usr/bin/python3 - "$prog/Pelorix.ini" <<'EOF' || fail "Pelorix.ini nicht zu schreiben"
import sys

def scramble(plain):
    out, offset = [], 13
    for c in plain.encode("latin-1"):
        code = c - offset
        if code < 32:
            code += 224
        out.append(code)
        offset += 5
        if offset >= 32:
            offset = 1
    return bytes(out)

keys = [("FTPHost", b"127.0.0.1"), ("FTPUser", b"pelo"), ("FTPPass", scramble("secret")),
        ("FTPSite", b"/index.htm"), ("FTPMode", b"0"), ("FTPPassive", b"1"), ("Router", b"1"),
        ("IPSource", b"127.0.0.1/ip.htm"), ("Intervall", b"1"), ("MsgLevel", b"4"),
        ("LogFile", b"1"), ("Messages", b"0"), ("eMail", b"0"), ("AddPages", b"0")]
with open(sys.argv[1], "wb") as f:
    f.write(b"[Settings]\r\n" + b"".join(k.encode() + b"=" + v + b"\r\n" for k, v in keys))
EOF

echo "PelorixSvc.exe /INSTALL /SILENT"
run_wine "$svc_win" /INSTALL /SILENT || fail "/INSTALL endete mit Fehler"
grep -qF "wurde installiert ($svc_win)." "$work/last.txt" || fail "/INSTALL meldet keine Installation"

echo "Dienst starten"
run_wine "$tool" "$service" start 30 || fail "der Dienst läuft nicht"

echo "Warten auf die Veröffentlichung von $address ..."
published=0
for _ in $(seq 200); do
    if grep -qF "$address" "$work/ftp/index.htm" 2>/dev/null; then
        published=1
        break
    fi
    sleep 0.2
done
# From here on a fault is noted and the check goes on, so one run tells all that is wrong.
problems=()
[ "$published" = 1 ] || problems+=("index.htm mit $address ist nach 40 s nicht auf dem FTP-Server")

echo "Dienst anhalten, fortsetzen, beenden"
run_wine "$tool" "$service" pause 15 || problems+=("Anhalten")
run_wine "$tool" "$service" continue 15 || problems+=("Fortsetzen")
run_wine "$tool" "$service" stop 15 || problems+=("Beenden")

echo "PelorixSvc.exe /UNINSTALL /SILENT"
run_wine "$svc_win" /UNINSTALL /SILENT || problems+=("/UNINSTALL endete mit Fehler")
grep -qF "wurde deinstalliert." "$work/last.txt" || problems+=("/UNINSTALL meldet keine Deinstallation")
run_wine "$tool" "$service" query
grep -qF "error 1060" "$work/last.txt" || problems+=("der Dienst ist nach /UNINSTALL noch eingetragen")

log=$prog/Pelorix.log
if [ -f "$log" ]; then
    echo "Pelorix.log:"
    { sed 's/\r$//' "$log" | iconv -f latin1 -t utf-8; echo; } | sed 's/^/    /'
    /usr/bin/python3 - "$log" "$address" <<'EOF' || problems+=("Pelorix.log weicht ab")
import re, sys

address = sys.argv[2]
lines = open(sys.argv[1], "rb").read().decode("latin-1").split("\r\n")
# The header of the run, then its lines in this order (others may come between them).
expected = ["+Service gestartet *", "+ServiceThread erzeugt", "+Adressquelle wird kontaktiert",
            "+IP-Adresse ermittelt als: " + address, "+FTP-Login gestartet",
            "+FTP-Upload OK mit " + address + " als /index.htm", "-Service angehalten *",
            "+Service fortgesetzt *", "-Thread-Ende angefordert", "-Service beendet *"]
headers = [i for i, line in enumerate(lines) if re.fullmatch(r"#\d\d\.\d\d\.\d\d#", line)]
if len(headers) != 1:
    sys.exit("Pelorix.log: %d Datumszeilen statt einer" % len(headers))
position, missing = headers[0] + 1, []
for text in expected:
    pattern = re.compile(r"\[\d\d:\d\d:\d\d\] " + re.escape(text))
    found = next((i for i in range(position, len(lines)) if pattern.fullmatch(lines[i])), None)
    if found is None:
        missing.append(text)
    else:
        position = found + 1
if missing:
    sys.exit("Pelorix.log: fehlt oder steht nicht an ihrem Platz: " + " | ".join(missing))
EOF
else
    problems+=("Pelorix.log fehlt")
fi

[ "${#problems[@]}" = 0 ] || fail "$(printf '%s; ' "${problems[@]}")"
exit 0
