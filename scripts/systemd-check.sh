#!/usr/bin/env bash
# Both packages under a booted systemd: a Debian 12 root made with debootstrap (once, kept in
# build/nspawn/bookworm and reused), booted with systemd-nspawn on an overlay of it, without
# network. Inside, as a member of the group pelorix: install and start the service with
# pelorix-sc and with PelorixSvc /INSTALL, publish to a local FTP server, the status lines in
# "systemctl status" and the journal, the process as user pelorix in the unit's control group,
# a restart after kill -9, stop-then-start 50 times, pause and continue in "pelorix-sc query",
# a non-member refused, and after a reboot started and published again.
#
#     scripts/systemd-check.sh [BUILD_DIR]
#
# Needs root, debootstrap and systemd-nspawn (systemd-container); without them it says so and
# ends with 0. Without BUILD_DIR it configures build/pkg without tests. Commands reach the
# container through nsenter into the namespaces of its init, since it is not registered with a
# machine manager.
set -euo pipefail

root=$(cd "$(dirname "$(readlink -f "$0")")/.." && pwd)
build=$(readlink -m "${1:-$root/build/pkg}")
cache=$root/build/nspawn
base=$cache/bookworm
# What the root holds besides the minimal base: a booting systemd with D-Bus and polkit, the
# FTP server for the check, and the libraries both packages need (there is no network inside).
extra="systemd systemd-sysv dbus libpam-systemd polkitd python3-pyftpdlib procps libcurl4 libssh-4 libqt6widgets6
libqt6network6 qt6-qpa-plugins qt6-translations-l10n"
member=anna
stranger=bert
failures=0
started=$(date +%s)

say() { echo "systemd-check: $*"; }
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
die() {
    say "FEHLER: $*" >&2
    exit 1
}
wait_for() { # wait_for SECONDS COMMAND...
    local tries=$(($1 * 10))
    shift
    for _ in $(seq "$tries"); do
        "$@" && return 0
        sleep 0.1
    done
    return 1
}
elapsed() { echo "$(($(date +%s) - started)) s"; }

if [ "$(id -u)" != 0 ] || ! command -v debootstrap >/dev/null || ! command -v systemd-nspawn >/dev/null; then
    say "übersprungen: braucht root, debootstrap und systemd-nspawn"
    exit 0
fi

# ---- The root, made once ----
mirror=$(cat /etc/apt/sources.list /etc/apt/sources.list.d/*.list /etc/apt/sources.list.d/*.sources 2>/dev/null |
    sed -n 's/^URIs: *\([^ ]*\).*/\1/p; s/^deb \(\[[^]]*\] \)\?\(http[^ ]*\) .*/\2/p' | grep -v security | head -1 || true)
if [ "$(cat "$base/.pelorix-root" 2>/dev/null)" != "$(echo $extra)" ]; then
    say "lege $base an (debootstrap von ${mirror:-?}, einmalig)"
    rm -rf "$base" "$base.new"
    mkdir -p "$cache"
    debootstrap --variant=minbase --include=systemd,systemd-sysv,dbus bookworm "$base.new" "$mirror" \
        >"$cache/debootstrap.log" 2>&1 || die "debootstrap (siehe $cache/debootstrap.log)"
    # shellcheck disable=SC2086
    systemd-nspawn -q --register=no --keep-unit -D "$base.new" --pipe env DEBIAN_FRONTEND=noninteractive \
        sh -c "apt-get install -y -q --no-install-recommends $(echo $extra) && apt-get clean" \
        >>"$cache/debootstrap.log" 2>&1 || die "Pakete im Abbild (siehe $cache/debootstrap.log)"
    echo $extra >"$base.new/.pelorix-root"
    mv "$base.new" "$base"
fi
say "Abbild bereit nach $(elapsed)"

# ---- The packages ----
if [ ! -f "$build/CMakeCache.txt" ]; then
    cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DPELORIX_BUILD_TESTS=OFF >/dev/null
fi
cmake --build "$build" -j "$(nproc)" >/dev/null
debs=$build/systemd-check-debs
rm -rf "$debs"
cpack --config "$build/CPackConfig.cmake" -B "$debs" -G DEB >/dev/null || die "cpack"
say "Pakete gebaut nach $(elapsed)"

# ---- The container: an overlay over the root, booted ----
run=$(mktemp -d "$cache/run.XXXXXX")
mkdir -p "$run/upper" "$run/work" "$run/root"
mount -t overlay overlay -o "lowerdir=$base,upperdir=$run/upper,workdir=$run/work" "$run/root"
nspawn=
leader=
cleanup() {
    local rc=$?
    trap - EXIT
    if [ -n "$nspawn" ] && kill -0 "$nspawn" 2>/dev/null; then
        kill "$nspawn" 2>/dev/null || true
        wait "$nspawn" 2>/dev/null || true
    fi
    umount "$run/root" 2>/dev/null || umount -l "$run/root" 2>/dev/null || true
    rm -rf "$run"
    say "Dauer: $(elapsed)"
    exit "$rc"
}
trap cleanup EXIT

ct() { nsenter -t "$leader" -a env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin LANG=C.UTF-8 "$@"; }
as_member() { ct runuser -u "$member" -- "$@"; }

boot() {
    systemd-nspawn -q -b --private-network --register=no --keep-unit --console=passive -D "$run/root" \
        >>"$run/console.log" 2>&1 &
    nspawn=$!
    leader=
    wait_for 30 sh -c "ps --ppid $nspawn -o pid= | grep -q ." || die "der Container startet nicht"
    leader=$(ps --ppid "$nspawn" -o pid= | head -1 | tr -d ' ')
    wait_for 60 system_up || die "systemd im Container kommt nicht hoch"
}
system_up() {
    local state
    state=$(ct systemctl is-system-running 2>/dev/null) || true
    [ "$state" = running ] || [ "$state" = degraded ]
}

# The address source and an FTP server that takes any password, on the container's loopback,
# started at every boot before the service.
server_unit() { # server_unit NAME COMMAND
    printf '[Unit]\nBefore=pelorix.service\n[Service]\nExecStart=%s\n[Install]\nWantedBy=multi-user.target\n' \
        "$2" >"$run/root/etc/systemd/system/$1.service"
    ln -s "/etc/systemd/system/$1.service" "$run/root/etc/systemd/system/multi-user.target.wants/$1.service"
}
mkdir -p "$run/root/srv/web" "$run/root/srv/ftp" "$run/root/root/debs" "$run/root/etc/systemd/system/multi-user.target.wants"
server_unit check-web "/usr/bin/python3 -m http.server 80 --bind 127.0.0.1 --directory /srv/web"
server_unit check-ftp "/usr/bin/python3 /srv/ftp.py"
echo '<p>Current IP Address: 84.123.45.6</p>' >"$run/root/srv/web/ip.html"
cat >"$run/root/srv/ftp.py" <<'EOF'
from pyftpdlib.authorizers import DummyAuthorizer
from pyftpdlib.handlers import FTPHandler
from pyftpdlib.servers import FTPServer
class AnyPassword(DummyAuthorizer):
    def validate_authentication(self, username, password, handler):
        pass
authorizer = AnyPassword()
authorizer.add_user("pelo", "", "/srv/ftp", perm="elradfmw")
FTPHandler.authorizer = authorizer
FTPServer(("127.0.0.1", 21), FTPHandler).serve_forever()
EOF
cp "$debs"/pelorix_*.deb "$debs"/pelorix-manager_*.deb "$run/root/root/debs/"
published() { grep -q 84.123.45.6 "$run/root/srv/ftp/ip.htm" 2>/dev/null; }

boot
say "gebootet nach $(elapsed)"
check "beide Pakete installiert (apt, ohne Netz)" ct sh -c \
    'DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends /root/debs/*.deb >/root/apt.log 2>&1'
check "Unit aktiviert, aber nicht installiert: läuft nicht" \
    test "$(ct systemctl is-enabled pelorix.service)" = enabled -a "$(ct systemctl is-active pelorix.service)" = inactive
ct useradd -m -G pelorix "$member"
ct useradd -m "$stranger"
as_member sh -c 'printf "[Settings]\r\nFTPHost=127.0.0.1\r\nFTPUser=pelo\r\nFTPPass=x\r\nFTPSite=/ip.htm\r\nFTPPassive=1\r\nRouter=1\r\nIPSource=127.0.0.1/ip.html\r\nIntervall=1\r\nMessages=0\r\nMsgLevel=4\r\nLogFile=1\r\n" >/opt/pelorix/Pelorix.ini'

# ---- Install and start as a member ----
out=$(as_member pelorix-sc create Fremd /bin/true 2>&1) || true
check "ein anderes Programm wird nicht installiert (Zugriff verweigert)" grep -q "Zugriff verweigert" <<<"$out"
check "Mitglied: pelorix-sc create PelorixService" as_member pelorix-sc create PelorixService /opt/pelorix/PelorixSvc
check "Mitglied: pelorix-sc start → RUNNING" test "$(as_member pelorix-sc start PelorixService)" = RUNNING
check "veröffentlicht auf dem FTP-Server" wait_for 30 published
main_pid() { ct systemctl show -p MainPID --value pelorix.service; }
pid=$(main_pid)
check "der Dienst läuft als pelorix" test "$(ct ps -o user= -p "$pid" | tr -d ' ')" = pelorix
check "… in der Control-Group der Unit" ct grep -q '/system.slice/pelorix.service$' "/proc/$pid/cgroup"
status=$(ct systemctl status pelorix.service --no-pager -n 20 2>&1 || true)
check "systemctl status: Status \"Läuft\"" grep -q 'Status: "Läuft"' <<<"$status"
check "systemctl status: die Statuszeilen" grep -q '+Service gestartet' <<<"$status"
check "journalctl -u pelorix: die Statuszeilen (UTF-8)" sh -c \
    "nsenter -t $leader -a journalctl -u pelorix.service --no-pager | grep -q '+ServiceThread übernimmt'"

# ---- Pause and continue, a non-member ----
check "Mitglied: pause → PAUSED" test "$(as_member pelorix-sc pause PelorixService)" = PAUSED
check "pelorix-sc query: PAUSED" test "$(as_member pelorix-sc query PelorixService)" = PAUSED
check "Mitglied: continue → RUNNING" test "$(as_member pelorix-sc continue PelorixService)" = RUNNING
check "pelorix-sc query: RUNNING" test "$(as_member pelorix-sc query PelorixService)" = RUNNING
check "das Protokoll zeigt beides" grep -q -- '-Service angehalten' "$run/root/var/lib/pelorix/data/Pelorix.log"
out=$(ct runuser -u "$stranger" -- pelorix-sc stop PelorixService 2>&1) && rc=0 || rc=$?
check "Nichtmitglied: stop verweigert ($rc: $out)" test "$rc" = 1 -a -n "$(grep 'Zugriff verweigert' <<<"$out")"
check "Nichtmitglied: systemctl stop pelorix verweigert (polkit)" sh -c \
    "! nsenter -t $leader -a runuser -u $stranger -- systemctl stop pelorix.service 2>/dev/null"
check "Mitglied: eine andere Unit steuern verweigert (polkit)" sh -c \
    "! nsenter -t $leader -a runuser -u $member -- systemctl stop check-web.service 2>/dev/null"
check "… und der Dienst läuft weiter" test "$(ct systemctl is-active pelorix.service)" = active

# ---- kill -9: restarted ----
ct kill -9 "$pid"
check "nach kill -9 neu gestartet" wait_for 15 sh -c \
    "[ \"\$(nsenter -t $leader -a systemctl show -p MainPID --value pelorix.service)\" != $pid ] &&
     nsenter -t $leader -a systemctl is-active -q pelorix.service"
check "… einmal (NRestarts=1)" test "$(ct systemctl show -p NRestarts --value pelorix.service)" = 1

# ---- Stop, then start at once, 50 times ----
t0=$(date +%s)
good=0
for _ in $(seq 50); do
    if [ "$(as_member pelorix-sc stop PelorixService)" = STOPPED ] &&
        [ "$(as_member pelorix-sc start PelorixService 2>&1)" = RUNNING ]; then
        good=$((good + 1))
    fi
done
check "stop und gleich start: $good von 50 ($(($(date +%s) - t0)) s)" test "$good" = 50

# ---- The other way in: PelorixSvc /UNINSTALL and /INSTALL ----
check "Mitglied: PelorixSvc /UNINSTALL" as_member PelorixSvc /UNINSTALL
check "… beendet und nicht mehr installiert" sh -c \
    "! nsenter -t $leader -a systemctl is-active -q pelorix.service &&
     ! nsenter -t $leader -a runuser -u $member -- pelorix-sc query PelorixService >/dev/null 2>&1"
check "Mitglied: PelorixSvc /INSTALL" as_member PelorixSvc /INSTALL
check "Mitglied: pelorix-sc start → RUNNING" test "$(as_member pelorix-sc start PelorixService)" = RUNNING

# ---- Reboot ----
rm -f "$run/root/srv/ftp/ip.htm"
ct systemctl reboot || true
wait "$nspawn" || true
nspawn=
boot
say "neu gebootet nach $(elapsed)"
check "nach dem Neustart läuft der Dienst" wait_for 30 ct systemctl is-active -q pelorix.service
check "… und veröffentlicht wieder" wait_for 60 published
ct systemctl poweroff || true
wait "$nspawn" || true
nspawn=

if [ "$failures" != 0 ]; then
    die "$failures Prüfung(en) fehlgeschlagen"
fi
say "alle Prüfungen bestanden"
