# Sourced by package-test.sh, at its end (after the purge): the command after a publication,
# run by the boot-started service, runs as user pelorix. Installs the package once more,
# publishes in a private network namespace against a real address-source page and FTP server
# on loopback, and purges again. Uses the script's check/ok/fail, $deb, $prog, $root, $tmp.
# Passes only once the boot start drops the service to user pelorix.

command_after_publication_at_boot() {
    local dir=$tmp/command
    if [ ! -x "$tmp/pelorix-ini" ]; then
        say "(ohne pelorix-ini: Befehl nach Upload beim Systemstart nicht geprüft)"
        return
    fi
    mkdir -p "$dir/web" "$dir/ftp" && chmod 1777 "$dir"
    echo '<p>Current IP Address: 84.123.45.6</p>' >"$dir/web/ip.html"
    check "Befehl: dpkg -i" quiet dpkg -i "$deb"
    check "Befehl: PelorixSvc /INSTALL" quiet "$prog/PelorixSvc" /INSTALL /SILENT
    "$tmp/pelorix-ini" "$prog/Pelorix.ini" Settings FTPHost=127.0.0.1 FTPUser=pelo +FTPPass=secret \
        FTPSite=/ip.htm FTPPassive=1 FTPMode=0 Router=1 IPSource=127.0.0.1/ip.html Intervall=1 Messages=0 \
        "OnPublish=id -un >$dir/user"
    unshare -n sh -c '
        ip link set lo up
        /usr/bin/python3 -m http.server 80 --bind 127.0.0.1 --directory "$1/web" >/dev/null 2>&1 & web=$!
        /usr/bin/python3 "$2/tests/support/ftp_server.py" "$1/ftp" 21 pelo secret >/dev/null 2>&1 & ftp=$!
        sleep 1
        "$3/pelorix-sc" boot >/dev/null 2>&1
        for _ in $(seq 300); do [ -s "$1/user" ] && break; sleep 0.1; done
        "$3/pelorix-sc" stop PelorixService >/dev/null 2>&1
        kill "$web" "$ftp"' sh "$dir" "$root" "$prog"
    check "Befehl nach Upload läuft beim Systemstart als pelorix ($(cat "$dir/user" 2>/dev/null))" \
        test "$(cat "$dir/user" 2>/dev/null)" = pelorix
    check "Befehl: dpkg -P" quiet dpkg -P pelorix
}
