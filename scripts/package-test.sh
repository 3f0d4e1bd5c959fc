#!/usr/bin/env bash
# Builds the Debian packages (pelorix and pelorix-manager) and tries them on this machine: that
# the service package alone pulls in no Qt, install, the program directory that
# only root writes, the data directory and the service database shared with the group pelorix,
# the system user pelorix the services run as when root starts them, what a member of the group
# may and may not do (a member created by the test, acting through runuser), what a
# non-member may not, the boot start, removal (the user's files stay), purge (/opt stays), and
# an upgrade over the package of an earlier version. Needs root and a machine without Pelorix
# installed; leaves the machine as it found it. Needs no running systemd.
#
#     scripts/package-test.sh [BUILD_DIR]
#
# Without BUILD_DIR it configures build/pkg without tests. A build directory with tests (such
# as build/dev) also lends its pelorix-ini tool, so Pelorix.ini is written by the profile layer.
# The earlier package is built from the commit PELORIX_PREVIOUS (default 3814e82) into
# BUILD_DIR/previous-COMMIT, once; PELORIX_PREVIOUS_DEB names a ready package instead.
set -euo pipefail

root=$(cd "$(dirname "$(readlink -f "$0")")/.." && pwd)
build=$(readlink -m "${1:-$root/build/pkg}")
unset PELORIX_SCM_DIR PELORIX_SERVICE PELORIX_SCM_ACCOUNT

prog=/opt/pelorix
data=/var/lib/pelorix/data
db=/var/lib/pelorix/services
unit=pelorix.service
old_unit=pelorix-sc-boot.service
test_service=PelorixPaketTest
previous=${PELORIX_PREVIOUS:-3814e82}
# A desktop user who joined the group, created for the test; a user id without an account one
# outside.
member=pelorixprobe
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
    die "braucht root (dpkg -i, Benutzer und Gruppe, /opt/pelorix)"
fi

# Everything of Pelorix that can lie outside the package's own file list.
footprint() {
    dpkg-query -W -f='${Status}\n' pelorix pelorix-manager 2>/dev/null | grep -v '^unknown ok not-installed$' || true
    getent group pelorix || true
    getent passwd pelorix "$member" || true
    stat -c '%n %a %U:%G' /opt
    for d in /opt/pelorix /var/lib/pelorix /etc/systemd/system /var/lib/systemd /usr/bin; do
        [ -e "$d" ] && find "$d" \( -name '*pelorix*' -o -name 'Pelorix*' -o -path '/opt/pelorix*' \
            -o -path '/var/lib/pelorix*' \) -printf '%p %M %u:%g\n' 2>/dev/null
    done | sort
    ls -l /etc/pelorix-probe 2>/dev/null || true
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
if getent group pelorix >/dev/null || getent passwd pelorix >/dev/null || getent passwd "$member" >/dev/null ||
    [ -e /opt/pelorix ] || [ -e /var/lib/pelorix ] || [ -e /etc/pelorix-probe ]; then
    restore_leftover
    die "Reste einer früheren Installation (Benutzer/Gruppe pelorix, $member, /opt/pelorix, /var/lib/pelorix)"
fi

# Processes of the installed service program (its full path, never a broad name).
service_pids() { pgrep -f "^$prog/PelorixSvc" || true; }
# The process of the running service, from the status it reports to the service database.
service_pid() { [ -f "$db/${1,,}.status" ] && cut -d' ' -f1 "$db/${1,,}.status"; }
service_user() { ps -o user= -p "$(service_pid "$1")" 2>/dev/null | tr -d ' '; }

cleanup() {
    local rc=$?
    trap - EXIT
    if [ -x "$prog/pelorix-sc" ]; then
        "$prog/pelorix-sc" delete "$test_service" >/dev/null 2>&1 || true
        "$prog/pelorix-sc" shutdown >/dev/null 2>&1 || true
    fi
    for pid in $(service_pids); do kill "$pid" 2>/dev/null || true; done
    [ -f "${tmp:-/nonexistent}/http.pid" ] && kill "$(cat "$tmp/http.pid")" 2>/dev/null
    dpkg -P pelorix-manager pelorix >/dev/null 2>&1 || true
    getent passwd "$member" >/dev/null && userdel "$member" 2>/dev/null
    getent group pelorix >/dev/null && groupdel pelorix 2>/dev/null
    rm -f /etc/pelorix-probe
    [ -n "${tmp:-}" ] && rm -rf "$tmp"
    [ -e /var/lib/pelorix ] || restore_leftover
    exit "$rc"
}
tmp=$(mktemp -d)
chmod 0755 "$tmp"
trap cleanup EXIT

# ---- Build: this version and the earlier one ----
if [ ! -f "$build/CMakeCache.txt" ]; then
    cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DPELORIX_BUILD_TESTS=OFF >/dev/null
fi
cmake --build "$build" -j "$(nproc)" >"$tmp/build.log" 2>&1 || {
    cat "$tmp/build.log" >&2
    die "Bau"
}
rm -f "$build"/pelorix_*.deb "$build"/pelorix-manager_*.deb
(cd "$build" && cpack -G DEB >"$tmp/cpack.log" 2>&1) || {
    cat "$tmp/cpack.log" >&2
    die "cpack"
}
deb=$(ls "$build"/pelorix_*.deb)
mgr_deb=$(ls "$build"/pelorix-manager_*.deb)
ok "Pakete gebaut: $(basename "$deb"), $(basename "$mgr_deb")"

old_deb=${PELORIX_PREVIOUS_DEB:-}
old_build=$build/previous-$previous
if [ -z "$old_deb" ] && git -C "$root" rev-parse -q --verify "$previous^{commit}" >/dev/null; then
    old_deb=$(ls "$old_build"/pelorix_*.deb 2>/dev/null || true)
    if [ -z "$old_deb" ]; then
        rm -rf "$old_build"
        mkdir -p "$old_build/src"
        git -C "$root" archive "$previous" | tar -x -C "$old_build/src"
        {
            cmake -S "$old_build/src" -B "$old_build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
                -DPELORIX_BUILD_TESTS=OFF &&
                cmake --build "$old_build" -j "$(nproc)" && (cd "$old_build" && cpack -G DEB)
        } >"$tmp/old-build.log" 2>&1 || {
            cat "$tmp/old-build.log" >&2
            die "Bau des Pakets von $previous"
        }
        old_deb=$(ls "$old_build"/pelorix_*.deb)
    fi
fi

# The other users need a working directory they may enter.
cd /
ini_tool=$build/tests/support/pelorix-ini
[ -x "$ini_tool" ] && cp "$ini_tool" "$tmp/pelorix-ini" && chmod 0755 "$tmp/pelorix-ini"

expected_files="./lib/systemd/system/$unit
./opt/pelorix/LiesMich.htm
./opt/pelorix/Offline.htm
./opt/pelorix/Online.htm
./opt/pelorix/PelorTmp.htm
./opt/pelorix/Pelorix.htm
./opt/pelorix/Pelorix.ini
./opt/pelorix/Pelorix.log
./opt/pelorix/PelorixSvc
./opt/pelorix/PelorixTmp.htm
./opt/pelorix/pelorix-sc
./usr/bin/PelorixSvc
./usr/bin/pelorix-sc
./usr/share/polkit-1/rules.d/50-pelorix.rules"
files=$(dpkg-deb -c "$deb" | awk '$1 !~ /^d/ {print $6}' | sort)
check "pelorix enthält genau Dienst, pelorix-sc, Links, Vorlagen, Hilfe, Unit und polkit-Regel" \
    test "$files" = "$expected_files"
check "pelorix-manager enthält den Manager und seinen Menüeintrag" test "$(dpkg-deb -c "$mgr_deb" |
    awk '$1 !~ /^d/ {print $6}' | sort | tr '\n' ' ')" = \
    "./opt/pelorix/PelorixMgr ./usr/bin/PelorixMgr ./usr/share/applications/pelorix-mgr.desktop "
check "pelorix-manager hängt von pelorix derselben Version ab" \
    grep -q "pelorix (= $(dpkg-deb -f "$deb" Version))" <<<"$(dpkg-deb -f "$mgr_deb" Depends)"
for d in "$deb" "$mgr_deb"; do
    check "$(basename "$d") nennt /opt nicht (es gehört dem System)" \
        sh -c "! dpkg-deb -c '$d' | awk '{print \$6}' | grep -qx './opt/'"
done
# A headless installation: the service package alone brings no Qt library.
apt-get install -s -q "$deb" >"$tmp/headless.log" 2>&1 || true
check "apt install ./pelorix_*.deb allein: installierbar, keine Qt-Bibliothek" sh -c \
    "grep -q '^Inst pelorix ' '$tmp/headless.log' && ! grep -qi '^Inst [^ ]*qt' '$tmp/headless.log'"

# Pelorix.ini as a member writes it: through the profile layer when the tool is there.
write_ini() { # write_ini AS_USER KEY=VALUE...
    local who=$1
    shift
    if [ -x "$tmp/pelorix-ini" ]; then
        runuser -u "$who" -- "$tmp/pelorix-ini" "$prog/Pelorix.ini" Settings "$@"
    else
        runuser -u "$who" -- sh -c 'umask 007; f=$1; shift; { printf "[Settings]\r\n"; for kv; do
            printf "%s\r\n" "$kv"; done; } > "$f"' sh "$prog/Pelorix.ini" "$@"
    fi
}
as_member() { runuser -u "$member" -- "$@"; }
as_other() { setpriv --reuid="$stranger" --regid=nogroup --clear-groups -- "$@"; }
wait_for() { # wait_for SECONDS COMMAND...: polls until the command succeeds
    local tries=$(($1 * 10))
    shift
    for _ in $(seq "$tries"); do
        "$@" && return 0
        sleep 0.1
    done
    return 1
}
count() { grep -c -- "$1" "$2" 2>/dev/null || true; }
count_is() { test "$(count "$2" "$3")" = "$1"; } # count_is N PATTERN FILE
contains() { grep -q -- "$2" <<<"$1"; }

# ---- Install ----
# Without the recommended packages (polkitd, xdg-utils), which would stay when the test removes Pelorix.
check "pelorix empfiehlt polkitd (Mitglieder der Gruppe steuern die Unit)" \
    test "$(dpkg-deb -f "$deb" Recommends)" = polkitd
check "pelorix-manager empfiehlt xdg-utils (für den Knopf „?“ des Managers)" \
    test "$(dpkg-deb -f "$mgr_deb" Recommends)" = xdg-utils
apt-get install -y -q --no-install-recommends "$deb" "$mgr_deb" >"$tmp/apt.log" 2>&1 ||
    dpkg -i "$deb" "$mgr_deb" >"$tmp/apt.log" 2>&1 || {
    cat "$tmp/apt.log" >&2
    die "Installation"
}
ok "installiert"
gid=$(getent group pelorix | cut -d: -f3)
check "Systemgruppe pelorix angelegt" test -n "$gid" -a "${gid:-1000}" -lt 1000
check "Systembenutzer pelorix: Gruppe pelorix, keine Anmeldung, kein Zuhause" \
    test "$(getent passwd pelorix | cut -d: -f3 | awk '$1 < 1000')" != "" \
    -a "$(id -gn pelorix 2>/dev/null)" = pelorix -a "$(getent passwd pelorix | cut -d: -f7)" = /usr/sbin/nologin \
    -a ! -e "$(getent passwd pelorix | cut -d: -f6)"
for f in PelorixSvc PelorixMgr pelorix-sc; do
    check "$prog/$f ausführbar, auf dem PATH als /usr/bin/$f" \
        test -x "$prog/$f" -a "$(readlink -f "/usr/bin/$f")" = "$prog/$f"
done
for f in Online.htm Offline.htm Pelorix.htm LiesMich.htm; do
    check "$prog/$f vorhanden" test -f "$prog/$f"
done
check "LiesMich.htm unverändert (Latin-1)" cmp -s "$root/dist/LiesMich.htm" "$prog/LiesMich.htm"
check "alle Bibliotheken der Programme gefunden" \
    sh -c "! ldd $prog/PelorixSvc $prog/PelorixMgr $prog/pelorix-sc | grep -q 'not found'"
check "Programmverzeichnis root:root 755" test "$(stat -c '%U:%G %a' $prog)" = "root:root 755"
check "im Programmverzeichnis gehört alles root, nichts ist für andere beschreibbar" \
    test -z "$(find $prog ! -user root -o ! -type l -perm /022)"
for f in Pelorix.ini Pelorix.log PelorixTmp.htm PelorTmp.htm; do
    check "$prog/$f verweist ins Datenverzeichnis" test "$(readlink "$prog/$f")" = "$data/$f"
done
check "Datenverzeichnis root:pelorix 2770" test "$(stat -c '%U:%G %a' $data)" = "root:pelorix 2770"
check "Pelorix.ini angelegt, root:pelorix 660" test "$(stat -c '%U:%G %a' $data/Pelorix.ini)" = "root:pelorix 660"
check "neue Pelorix.ini beginnt mit FTP mit TLS (FTPMode=1)" \
    test "$(tr -d '\r' <$data/Pelorix.ini)" = "$(printf '[Settings]\nFTPMode=1')"
check "Dienstdatenbank root:pelorix 2770" test "$(stat -c '%U:%G %a' $db)" = "root:pelorix 2770"
if [ -d /run/systemd/system ]; then
    check "Unit aktiviert" test "$(systemctl is-enabled $unit 2>/dev/null)" = enabled
else
    check "Unit für den nächsten Start mit systemd aktiviert" \
        test -L "/etc/systemd/system/multi-user.target.wants/$unit"
fi
check "… aber nicht installiert (keine Marke in der Dienstdatenbank)" test ! -e "$db/$unit.installed"
check "polkit-Regel nur für pelorix.service und die Gruppe pelorix" \
    grep -q 'action.lookup("unit") == "pelorix.service" && subject.isInGroup("pelorix")' \
    /usr/share/polkit-1/rules.d/50-pelorix.rules
if command -v systemd-analyze >/dev/null 2>&1 &&
    systemd-analyze security --offline=yes "/lib/systemd/system/$unit" >"$tmp/analyze.log" 2>&1; then
    exposure=$(sed -n 's/.*Overall exposure level for [^:]*: \([0-9.]*\).*/\1/p' "$tmp/analyze.log")
    check "systemd-analyze security: Gefährdung $exposure ≤ 2.0" awk -v e="${exposure:-99}" 'BEGIN { exit !(e <= 2.0) }'
else
    say "(systemd-analyze security --offline nicht verfügbar: übersprungen)"
fi

out=$(pelorix-sc --help 2>"$tmp/help.err") && rc=0 || rc=$?
check "pelorix-sc --help: Status 0, auf stdout, eine Zeile je Aufruf" test "$rc" = 0 -a ! -s "$tmp/help.err" \
    -a "$(echo "$out" | grep -cE '^  (create|delete|start|stop|pause|continue|query|list|boot|shutdown) ')" = 10

# ---- A member and a non-member ----
useradd --no-create-home --no-user-group --gid users --groups pelorix --shell /bin/sh "$member"
mkdir "$tmp/member"
chown "$member": "$tmp/member"
check "PelorixSvc /INSTALL" quiet PelorixSvc /INSTALL /SILENT
check "pelorix-sc query PelorixService: STOPPED" test "$(pelorix-sc query PelorixService)" = STOPPED

out=$(as_other "$prog/pelorix-sc" create "$test_service" "$prog/PelorixSvc" 2>&1) && rc=0 || rc=$?
check "Nichtmitglied: create verweigert (Status 1, Zugriff verweigert)" \
    test "$rc" = 1 -a -n "$(echo "$out" | grep 'Zugriff verweigert')"
check "Nichtmitglied: query verweigert" sh -c "! setpriv --reuid=$stranger --regid=nogroup --clear-groups -- \
    $prog/pelorix-sc query PelorixService >/dev/null 2>&1"
check "Nichtmitglied liest Pelorix.ini nicht" sh -c "! setpriv --reuid=$stranger --regid=nogroup --clear-groups -- \
    cat $prog/Pelorix.ini >/dev/null 2>&1"

check "Mitglied: create" quiet as_member pelorix-sc create "$test_service" "$prog/PelorixSvc"
check "Mitglied: query" test "$(as_member pelorix-sc query "$test_service")" = STOPPED
check "Mitglied: delete" quiet as_member pelorix-sc delete "$test_service"

# Route 1: no member can replace or add a program that root runs.
printf '#!/bin/sh\nid -u >>%s/member/ran\n' "$tmp" >"$tmp/member/own"
chown "$member": "$tmp/member/own"
chmod 0755 "$tmp/member/own"
as_member cp "$tmp/member/own" "$tmp/member/own2"
check "Mitglied ersetzt kein Programm (umbenennen)" sh -c "! runuser -u $member -- mv -f $tmp/member/own2 \
    $prog/pelorix-sc 2>/dev/null"
check "Mitglied überschreibt kein Programm" sh -c "! runuser -u $member -- cp $tmp/member/own $prog/PelorixSvc \
    2>/dev/null"
check "Mitglied legt nichts im Programmverzeichnis an" sh -c "! runuser -u $member -- touch $prog/neu 2>/dev/null"
check "Mitglied ersetzt keinen Link im Programmverzeichnis" sh -c "! runuser -u $member -- ln -sf /etc/passwd \
    $prog/Pelorix.ini 2>/dev/null"
check "dpkg --verify: alle Dateien des Pakets unverändert" test -z "$(dpkg --verify pelorix)"

# Route 2: a member registers a program of their own; the boot start (root) refuses it.
check "Mitglied: create mit eigenem Programm" quiet as_member pelorix-sc create Fremdprogramm "$tmp/member/own"

# Route 3: settings that point the service at files only root may read or write.
mkdir -p "$tmp/www"
echo "Ihre Adresse: 203.0.113.7" >"$tmp/www/ip.html"
check "Mitglied schreibt Pelorix.ini" write_ini "$member" HTMLTemplate=/etc/shadow FTPHost=127.0.0.1 FTPMode=0 \
    FTPUser=pelorix FTPPass=geheim FTPSite=/pelorix.htm Router=1 IPSource=127.0.0.1/ip.html Intervall=60 \
    Messages=0 MsgLevel=4 LogFile=1 eMail=0 AddPages=1 AddPage0=$prog/Online.htm AddPage5=/etc/pelorix-probe
check "Pelorix.ini bleibt root:pelorix 660" test "$(stat -c '%G %a' "$data/Pelorix.ini")" = "pelorix 660"
# As after a log rotation: the service creates the log itself.
rm -f "$data/Pelorix.log"

# The boot start, as the unit runs it, in a network namespace of its own with the address
# source on port 80 of its loopback; the services it starts stay there.
unshare -n sh -c 'ip link set lo up && { /usr/bin/python3 -m http.server 80 --bind 127.0.0.1 --directory "$1" \
    >/dev/null 2>&1 & echo $! >"$2"; } && exec "$3" boot' sh "$tmp/www" "$tmp/http.pid" "$prog/pelorix-sc" \
    >"$tmp/boot.out" 2>"$tmp/boot.err" && rc=0 || rc=$?
check "pelorix-sc boot: Status 1, startet PelorixService" test "$rc" = 1 -a \
    "$(grep -c '^PelorixService: RUNNING' "$tmp/boot.out")" = 1
check "pelorix-sc boot verweigert das Programm des Mitglieds und sagt warum" \
    grep -q "Dienst \"Fremdprogramm\" konnte nicht gestartet werden: Zugriff verweigert (Fehler 5): $tmp/member gehört nicht root" \
    "$tmp/boot.err"
check "das Programm des Mitglieds lief nicht" test ! -e "$tmp/member/ran"
out=$(pelorix-sc query Fremdprogramm 2>&1)
check "der Zustand des Dienstes nennt den Grund" contains "$out" "^STOPPED$" && check "… und den Grund" \
    contains "$out" "Fremdprogramm\", letzter Fehler: Zugriff verweigert (Fehler 5): .* gehört nicht root"
check "der vom Boot gestartete Dienst läuft als pelorix" test "$(service_user PelorixService)" = pelorix
check "die erste Prüfung ist gelaufen" wait_for 30 grep -q -- 'Zusatzseite' "$data/Pelorix.log"
check "+Seitenvorlage fehlt statt /etc/shadow" grep -q -- '+Seitenvorlage fehlt' "$data/Pelorix.log"
check "die Seite enthält nichts aus /etc/shadow" sh -c "! grep -q '^root:' $data/PelorTmp.htm"
check "die Seite enthält die Adresse" grep -q 203.0.113.7 "$data/PelorTmp.htm"
check "-Zusatzseite statt /etc/pelorix-probe" \
    grep -q -- "-Zusatzseite '$prog/Online.htm' nicht gefunden oder nicht zu schreiben" "$data/Pelorix.log"
check "/etc/pelorix-probe nicht angelegt" test ! -e /etc/pelorix-probe
check "vom Dienst angelegtes Pelorix.log: pelorix:pelorix 664" \
    test "$(stat -c '%U:%G %a' "$data/Pelorix.log")" = "pelorix:pelorix 664"

# The member restarts the service, which then runs as the member and goes on with the same log.
check "Mitglied: stop PelorixService" test "$(as_member pelorix-sc stop PelorixService)" = STOPPED
kill "$(cat "$tmp/http.pid")" 2>/dev/null || true
rm -f "$tmp/http.pid"
check "Mitglied: start PelorixService" test "$(as_member pelorix-sc start PelorixService)" = RUNNING
check "er läuft als das Mitglied" test "$(service_user PelorixService)" = "$member"
check "Mitglied: stop PelorixService" test "$(as_member pelorix-sc stop PelorixService)" = STOPPED
check "der Lauf des Mitglieds steht im selben Pelorix.log" \
    count_is 2 '+Service gestartet' "$data/Pelorix.log"
check "… bis zu seinem Ende" count_is 2 '-Service beendet' "$data/Pelorix.log"
check "Mitglied: delete des eigenen Programms" quiet as_member pelorix-sc delete Fremdprogramm
cp "$data/Pelorix.ini" "$tmp/ini.before"

# ---- Installed again over itself, with links a member put into the data directory ----
shadow_mode=$(stat -c '%U:%G %a' /etc/shadow)
as_member rm -f "$data/PelorixTmp.htm" "$data/PelorTmp.htm"
as_member ln -s /etc/pelorix-probe "$data/PelorixTmp.htm"
as_member ln -s /etc/shadow "$data/PelorTmp.htm"
check "dpkg -i noch einmal" quiet dpkg -i "$deb" "$mgr_deb"
check "die Paketskripte folgen keinem Link eines Mitglieds" \
    test ! -e /etc/pelorix-probe -a "$(stat -c '%U:%G %a' /etc/shadow)" = "$shadow_mode"
rm -f "$data/PelorixTmp.htm" "$data/PelorTmp.htm"
check "Pelorix.ini übersteht es" cmp -s "$tmp/ini.before" "$prog/Pelorix.ini"
check "Programmverzeichnis weiter root:root 755" test "$(stat -c '%U:%G %a' $prog)" = "root:root 755"
check "PelorixService weiter installiert" test "$(pelorix-sc query PelorixService)" = STOPPED

# ---- Remove: a running service is stopped, the user's files stay ----
check "root: start PelorixService" test "$(pelorix-sc start PelorixService)" = RUNNING
check "… als pelorix" test "$(service_user PelorixService)" = pelorix
check "dpkg -r" quiet dpkg -r pelorix-manager pelorix
check "dpkg -r beendet den laufenden Dienst" test -z "$(service_pids)"
check "Programme und Links entfernt" test ! -e "$prog/PelorixSvc" -a ! -e "$prog/PelorixMgr" \
    -a ! -e "$prog/pelorix-sc" -a ! -L "$prog/Pelorix.ini" -a ! -L /usr/bin/pelorix-sc
check "Pelorix.ini bleibt unverändert" cmp -s "$tmp/ini.before" "$data/Pelorix.ini"
check "Pelorix.log bleibt" test -s "$data/Pelorix.log"
check "Dienstdatenbank bleibt" test -f "$db/pelorixservice.service"

# ---- Purge ----
check "dpkg -P" quiet dpkg -P pelorix-manager pelorix
check "/opt bleibt" test -d /opt
check "Programmverzeichnis entfernt" test ! -e "$prog"
check "Daten und Dienstdatenbank entfernt" test ! -e /var/lib/pelorix
check "Unit, polkit-Regel und Aktivierung entfernt" test ! -e "/lib/systemd/system/$unit" \
    -a ! -e /usr/share/polkit-1/rules.d/50-pelorix.rules -a ! -L "/etc/systemd/system/multi-user.target.wants/$unit"
check "Benutzer pelorix entfernt" sh -c '! getent passwd pelorix >/dev/null'
check "Gruppe pelorix bleibt, solange sie ein Mitglied hat" quiet getent group pelorix
gpasswd -d "$member" pelorix >/dev/null
groupdel pelorix

# ---- Upgrade over the earlier package ----
if [ -n "$old_deb" ]; then
    check "früheres Paket ($previous) installiert" quiet dpkg -i "$old_deb"
    usermod -a -G pelorix "$member"
    check "früher: PelorixSvc /INSTALL" quiet "$prog/PelorixSvc" /INSTALL /SILENT
    check "früher: Mitglied schreibt Pelorix.ini ins Programmverzeichnis" write_ini "$member" \
        HTMLTemplate="$prog/Online.htm" FTPHost=127.0.0.1 FTPUser=pelorix FTPPass=geheim Router=1 \
        IPSource=127.0.0.1/ip.html Intervall=60 Messages=0 MsgLevel=4 LogFile=1
    check "früher: Mitglied startet den Dienst" test "$(as_member "$prog/pelorix-sc" start PelorixService)" = RUNNING
    wait_for 10 test -s "$prog/Pelorix.log" || true
    check "früher: Mitglied beendet den Dienst" test "$(as_member "$prog/pelorix-sc" stop PelorixService)" = STOPPED
    check "früher: Pelorix.ini und Pelorix.log im Programmverzeichnis" \
        test -f "$prog/Pelorix.ini" -a ! -L "$prog/Pelorix.ini" -a -s "$prog/Pelorix.log"
    cp "$prog/Pelorix.ini" "$tmp/old.ini"
    cp "$prog/Pelorix.log" "$tmp/old.log"

    dpkg -i "$deb" >"$tmp/upgrade.log" 2>&1 && ok "Upgrade auf $(basename "$deb")" || {
        cat "$tmp/upgrade.log" >&2
        fail "Upgrade"
    }
    check "Pelorix.ini mit Inhalt übernommen" cmp -s "$tmp/old.ini" "$prog/Pelorix.ini"
    check "Pelorix.ini liegt im Datenverzeichnis, pelorix, 660" test -L "$prog/Pelorix.ini" \
        -a "$(stat -c '%G %a' "$data/Pelorix.ini")" = "pelorix 660"
    check "Pelorix.log mit Inhalt übernommen" \
        cmp -s "$tmp/old.log" <(head -c "$(stat -c %s "$tmp/old.log")" "$prog/Pelorix.log")
    check "registrierter Dienst bleibt" test "$(pelorix-sc query PelorixService)" = STOPPED
    check "Programmverzeichnis jetzt root:root 755" test "$(stat -c '%U:%G %a' $prog)" = "root:root 755"
    check "Systembenutzer pelorix angelegt" getent passwd pelorix >/dev/null
    check "die Boot-Unit ist fort, auch ihre Aktivierung" test ! -e "/lib/systemd/system/$old_unit" \
        -a ! -L "/etc/systemd/system/multi-user.target.wants/$old_unit"
    check "der automatisch startende Dienst ist jetzt die installierte Unit" test -f "$db/$unit.installed" \
        -a -L "/etc/systemd/system/multi-user.target.wants/$unit"
    check "nach dem Upgrade: pelorix-sc boot" quiet pelorix-sc boot
    check "… startet den Dienst als pelorix" test "$(service_user PelorixService)" = pelorix
    check "… und er schreibt ins übernommene Pelorix.log" wait_for 10 count_is 2 '+Service gestartet' "$data/Pelorix.log"
    check "dpkg -P nach dem Upgrade" quiet dpkg -P pelorix
    check "/opt bleibt" test -d /opt
    check "nichts von Pelorix bleibt" test ! -e "$prog" -a ! -e /var/lib/pelorix
else
    say "(kein Upgrade geprüft: $previous nicht im Repository, etwa in einem flachen Klon, und" \
        "PELORIX_PREVIOUS_DEB nicht gesetzt)"
fi

userdel "$member"
getent group pelorix >/dev/null && groupdel pelorix
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
