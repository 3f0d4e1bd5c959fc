#!/usr/bin/env bash
# Builds the Debian package and tries it on this machine: install, the program directory, the
# group pelorix and the service database, the publisher service installed and queried, access
# for a member and a non-member of the group, the service writing its log, then removal (the
# user's Pelorix.ini and log stay) and purge. Needs root and a machine without Pelorix
# installed; leaves the machine as it found it. Needs no running systemd.
#
#     scripts/package-test.sh [BUILD_DIR]
#
# Without BUILD_DIR it configures build/pkg without tests. A build directory with tests (such
# as build/dev) also lends its pelorix-ini tool, so Pelorix.ini is written by the profile layer.
set -euo pipefail

root=$(cd "$(dirname "$(readlink -f "$0")")/.." && pwd)
build=$(readlink -m "${1:-$root/build/pkg}")
unset PELORIX_SCM_DIR PELORIX_SERVICE

prog=/opt/pelorix
db=/var/lib/pelorix/services
unit=pelorix-sc-boot.service
test_service=PelorixPaketTest
# The user nobody plays a desktop user in the group; a user id without an account one outside.
user=nobody
stranger=65533
failures=0

say() { echo "package-test: $*"; }
ok() { say "ok: $*"; }
fail() {
    say "FEHLER: $*" >&2
    failures=$((failures + 1))
}
check() { # check DESCRIPTION COMMAND...
    local what=$1
    shift
    if "$@"; then ok "$what"; else fail "$what"; fi
}
quiet() { "$@" >/dev/null 2>&1; }
die() {
    say "FEHLER: $*" >&2
    exit 1
}

if [ "$(id -u)" != 0 ]; then
    die "braucht root (dpkg -i, Gruppe, /opt/pelorix)"
fi

# Everything of Pelorix that can lie outside the package's own file list.
footprint() {
    dpkg-query -W -f='${Status}\n' pelorix 2>/dev/null | grep -v '^unknown ok not-installed$' || true
    getent group pelorix || true
    for d in /opt/pelorix /var/lib/pelorix /etc/systemd/system /var/lib/systemd; do
        [ -e "$d" ] && find "$d" \( -name '*pelorix*' -o -path '/opt/pelorix*' -o -path '/var/lib/pelorix*' \) \
            -printf '%p %M %u:%g\n' 2>/dev/null
    done | sort
    # Directories that the boot unit's enabling may create on the way.
    find /etc/systemd/system /var/lib/systemd -maxdepth 2 -type d 2>/dev/null | sort
}

# An empty service database, as a program run by root without Pelorix installed creates it,
# is put aside for the test and put back afterwards.
leftover=()
if [ -d /var/lib/pelorix ] && [ -z "$(find /var/lib/pelorix -mindepth 1 ! -type d)" ]; then
    mapfile -t leftover < <(find /var/lib/pelorix -type d -printf '%p %m %U %G\n')
    find /var/lib/pelorix -depth -type d -empty -delete
    say "leere Dienstdatenbank /var/lib/pelorix für den Test beiseitegelegt"
fi
restore_leftover() {
    local path mode uid gid
    for entry in "${leftover[@]}"; do
        read -r path mode uid gid <<<"$entry"
        mkdir -p "$path" && chmod "$mode" "$path" && chown "$uid:$gid" "$path"
    done
}

before=$(footprint)
if dpkg-query -W -f='${Status}' pelorix 2>/dev/null | grep -q 'installed'; then
    die "Pelorix ist auf diesem Rechner schon installiert; der Test rührt es nicht an"
fi
if getent group pelorix >/dev/null || [ -e /opt/pelorix ] || [ -e /var/lib/pelorix ]; then
    restore_leftover
    die "Reste einer früheren Installation (Gruppe pelorix, /opt/pelorix oder /var/lib/pelorix)"
fi

# Processes of the installed service program (its full path, never a broad name).
service_pids() { pgrep -f "^$prog/PelorixSvc" || true; }

cleanup() {
    local rc=$?
    trap - EXIT
    if [ -x "$prog/pelorix-sc" ]; then
        "$prog/pelorix-sc" delete "$test_service" >/dev/null 2>&1 || true
        "$prog/pelorix-sc" shutdown >/dev/null 2>&1 || true
    fi
    for pid in $(service_pids); do kill "$pid" 2>/dev/null || true; done
    if dpkg-query -W -f='${Status}' pelorix 2>/dev/null | grep -qv 'not-installed'; then
        dpkg -P pelorix >/dev/null 2>&1 || true
    fi
    [ -n "${tmp:-}" ] && rm -rf "$tmp"
    [ -e /var/lib/pelorix ] || restore_leftover
    exit "$rc"
}
tmp=$(mktemp -d)
trap cleanup EXIT

# ---- Build ----
if [ ! -f "$build/CMakeCache.txt" ]; then
    cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DPELORIX_BUILD_TESTS=OFF >/dev/null
fi
cmake --build "$build" -j "$(nproc)" >"$tmp/build.log" 2>&1 || {
    cat "$tmp/build.log" >&2
    die "Bau"
}
rm -f "$build"/pelorix_*.deb
(cd "$build" && cpack -G DEB >"$tmp/cpack.log" 2>&1) || {
    cat "$tmp/cpack.log" >&2
    die "cpack"
}
deb=$(ls "$build"/pelorix_*.deb)
ok "Paket gebaut: $(basename "$deb")"
# The other users need a working directory they may enter.
cd /
ini_tool=$build/tests/support/pelorix-ini
[ -x "$ini_tool" ] && cp "$ini_tool" "$tmp/pelorix-ini" && chmod 0755 "$tmp" "$tmp/pelorix-ini"

expected_files="./lib/systemd/system/$unit
./opt/pelorix/LiesMich.htm
./opt/pelorix/Offline.htm
./opt/pelorix/Online.htm
./opt/pelorix/Pelorix.htm
./opt/pelorix/PelorixMgr
./opt/pelorix/PelorixSvc
./opt/pelorix/pelorix-sc
./usr/share/applications/pelorix-mgr.desktop"
files=$(dpkg-deb -c "$deb" | awk '$1 !~ /^d/ {print $6}' | sort)
check "das Paket enthält genau die Programme, Vorlagen, Hilfe, Desktop-Eintrag und Boot-Unit" \
    test "$files" = "$expected_files"

# ---- Install ----
dpkg -i "$deb" >"$tmp/dpkg.log" 2>&1 || {
    cat "$tmp/dpkg.log" >&2
    die "dpkg -i"
}
ok "dpkg -i"
gid=$(getent group pelorix | cut -d: -f3)
check "Systemgruppe pelorix angelegt" test -n "$gid" -a "${gid:-1000}" -lt 1000
for f in PelorixSvc PelorixMgr pelorix-sc; do
    check "$prog/$f ausführbar" test -x "$prog/$f"
done
for f in Online.htm Offline.htm Pelorix.htm LiesMich.htm; do
    check "$prog/$f vorhanden" test -f "$prog/$f"
done
check "LiesMich.htm unverändert (Latin-1)" cmp -s "$root/dist/LiesMich.htm" "$prog/LiesMich.htm"
check "alle Bibliotheken der Programme gefunden" \
    sh -c "! ldd $prog/PelorixSvc $prog/PelorixMgr $prog/pelorix-sc | grep -q 'not found'"
check "Programmverzeichnis root:pelorix 2775" test "$(stat -c '%U:%G %a' $prog)" = "root:pelorix 2775"
check "Dienstdatenbank root:pelorix 2770" test "$(stat -c '%U:%G %a' $db)" = "root:pelorix 2770"
if [ -d /run/systemd/system ]; then
    check "Boot-Unit aktiviert" test "$(systemctl is-enabled $unit 2>/dev/null)" = enabled
else
    check "Boot-Unit für den nächsten Start mit systemd aktiviert" \
        test -L "/etc/systemd/system/multi-user.target.wants/$unit"
fi

# ---- Service database: administrator, member, non-member ----
as_member() { setpriv --reuid="$user" --regid=nogroup --groups="$gid" -- "$@"; }
as_other() { setpriv --reuid="$stranger" --regid=nogroup --clear-groups -- "$@"; }

check "PelorixSvc /INSTALL" quiet "$prog/PelorixSvc" /INSTALL /SILENT
check "pelorix-sc query PelorixService: STOPPED" test "$("$prog/pelorix-sc" query PelorixService)" = STOPPED

out=$(as_other "$prog/pelorix-sc" create "$test_service" "$prog/PelorixSvc" 2>&1) && rc=0 || rc=$?
check "Nichtmitglied: create verweigert (Status 1, Zugriff verweigert)" \
    test "$rc" = 1 -a -n "$(echo "$out" | grep 'Zugriff verweigert')"
check "Nichtmitglied: query verweigert" sh -c "! setpriv --reuid=$stranger --regid=nogroup --clear-groups -- \
    $prog/pelorix-sc query PelorixService >/dev/null 2>&1"
check "Nichtmitglied schreibt nicht ins Programmverzeichnis" sh -c "! setpriv --reuid=$stranger --regid=nogroup \
    --clear-groups -- touch $prog/fremd 2>/dev/null"

check "Mitglied: create" quiet as_member "$prog/pelorix-sc" create "$test_service" "$prog/PelorixSvc"
check "Mitglied: query" test "$(as_member "$prog/pelorix-sc" query "$test_service")" = STOPPED
check "Mitglied: delete" quiet as_member "$prog/pelorix-sc" delete "$test_service"

# ---- Pelorix.ini and log written by a member ----
ini=$prog/Pelorix.ini
settings=(HTMLTemplate="$prog/Online.htm" TempSite="$prog/PelorixTmp.htm" FTPHost=127.0.0.1
    FTPUser=pelorix FTPSite=/pelorix.htm Router=1 IPSource=127.0.0.1/ip.html Intervall=60
    Messages=0 MsgLevel=4 LogFile=1 eMail=0 AddPages=0)
if [ -x "$tmp/pelorix-ini" ]; then
    # Written by root first, then rewritten by a member: both through the profile layer.
    check "root legt Pelorix.ini an" "$tmp/pelorix-ini" "$ini" Settings "${settings[@]}"
    check "neue Pelorix.ini root:pelorix 660" test "$(stat -c '%U:%G %a' "$ini")" = "root:pelorix 660"
    check "Mitglied ändert Pelorix.ini" as_member "$tmp/pelorix-ini" "$ini" Settings +FTPPass=geheim
    check "Pelorix.ini behält Gruppe und Rechte" test "$(stat -c '%G %a' "$ini")" = "pelorix 660"
else
    say "(ohne pelorix-ini: Pelorix.ini wird von der Shell geschrieben)"
    as_member sh -c "umask 007; printf '[Settings]\r\n' > $ini; for kv in \"\$@\"; do printf '%s\r\n' \"\$kv\"; done >> $ini" \
        sh "${settings[@]}"
    check "Mitglied legt Pelorix.ini an" test "$(stat -c '%G %a' "$ini")" = "pelorix 660"
fi

# The member starts and stops the service, which writes its start and end into the log.
# The first tick comes seconds after the start, so it touches no network.
check "Mitglied: start PelorixService" test "$(as_member "$prog/pelorix-sc" start PelorixService)" = RUNNING
for _ in $(seq 100); do
    [ -s "$prog/Pelorix.log" ] && break
    sleep 0.1
done
check "Mitglied: stop PelorixService" test "$(as_member "$prog/pelorix-sc" stop PelorixService)" = STOPPED
check "Pelorix.log im Programmverzeichnis, Gruppe pelorix" \
    test -s "$prog/Pelorix.log" -a "$(stat -c '%G' "$prog/Pelorix.log" 2>/dev/null)" = pelorix
check "Nichtmitglied liest Pelorix.ini nicht" sh -c "! setpriv --reuid=$stranger --regid=nogroup --clear-groups -- \
    cat $ini >/dev/null 2>&1"
cp "$ini" "$tmp/ini.before"
cp "$prog/Pelorix.log" "$tmp/log.before" 2>/dev/null || true

# ---- Installed again over itself (as an upgrade does) ----
check "dpkg -i noch einmal" quiet dpkg -i "$deb"
check "Pelorix.ini übersteht es" cmp -s "$tmp/ini.before" "$ini"
check "Programmverzeichnis weiter root:pelorix 2775" test "$(stat -c '%U:%G %a' $prog)" = "root:pelorix 2775"
check "PelorixService weiter installiert" test "$("$prog/pelorix-sc" query PelorixService)" = STOPPED

# ---- Remove: a running service is stopped, the user's files stay ----
check "root: start PelorixService" test "$("$prog/pelorix-sc" start PelorixService)" = RUNNING
check "dpkg -r" quiet dpkg -r pelorix
check "dpkg -r beendet den laufenden Dienst" test -z "$(service_pids)"
check "Programme entfernt" test ! -e "$prog/PelorixSvc" -a ! -e "$prog/PelorixMgr" -a ! -e "$prog/pelorix-sc"
check "Vorlagen und Hilfe entfernt" test ! -e "$prog/Pelorix.htm" -a ! -e "$prog/LiesMich.htm"
check "Pelorix.ini bleibt unverändert" cmp -s "$tmp/ini.before" "$ini"
check "Pelorix.log bleibt" test -s "$prog/Pelorix.log"
check "Dienstdatenbank bleibt" test -f "$db/pelorixservice.service"
check "Gruppe pelorix bleibt" getent group pelorix >/dev/null

# ---- Purge ----
check "dpkg -P" quiet dpkg -P pelorix
check "Programmverzeichnis entfernt" test ! -e "$prog"
check "Dienstdatenbank entfernt" test ! -e /var/lib/pelorix
check "Gruppe pelorix entfernt" sh -c '! getent group pelorix >/dev/null'

after=$(footprint)
if [ "$before" != "$after" ]; then
    diff <(echo "$before") <(echo "$after") >&2 || true
    fail "der Rechner ist nicht wie vorher"
else
    ok "der Rechner ist wie vorher"
fi

# ---- Command after publication, boot start (scripts/package-test-command.sh) ----
. "$root/scripts/package-test-command.sh"
command_after_publication_at_boot

if [ "$failures" != 0 ]; then
    die "$failures Prüfung(en) fehlgeschlagen"
fi
say "alle Prüfungen bestanden"
