#!/usr/bin/python3
"""Time from a changed address at the source to the page stored on the FTP server.

Runs inside a private network namespace (bench/publish_latency.sh puts it there): a real
address page (http.server on port 80), a real FTP server (pyftpdlib on port 21) and the
foreground PelorixSvc in router mode with Intervall=1 (a check at every tick of about ten
seconds). After the first publication the address on the page changes CHANGES times, each
time at a random moment of the tick, and the script measures how long the new address takes
to appear in the page on the FTP server.

    publish_latency.py BUILD_DIR [CHANGES]

Prints one line per change and a summary; the last line is machine-readable:
    RESULT publish_latency <min s> <median s> <max s> <changes>
Exits 1 when a change takes longer than 11 s.
"""

import os
import random
import shutil
import socket
import statistics
import subprocess
import sys
import tempfile
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
LIMIT_S = 11.0


def wait_port(port, timeout=15):
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        try:
            socket.create_connection(("127.0.0.1", port), 1).close()
            return
        except OSError:
            time.sleep(0.05)
    raise SystemExit("nothing listens on port %d" % port)


def show_address(www, address):
    temporary = os.path.join(www, "ip.htm.new")
    with open(temporary, "w") as out:
        out.write("<html><body>Current IP Address: %s</body></html>\n" % address)
    os.rename(temporary, os.path.join(www, "ip.htm"))


def wait_for_page(ftp_root, address, timeout):
    page = os.path.join(ftp_root, "myserver.htm")
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        try:
            with open(page, encoding="latin-1") as f:
                if address in f.read():
                    return time.monotonic()
        except OSError:
            pass
        time.sleep(0.01)
    return None


def main():
    build = os.path.abspath(sys.argv[1])
    changes = int(sys.argv[2]) if len(sys.argv) > 2 else 8
    work = tempfile.mkdtemp(prefix="pelorix-latency-")
    helpers = []
    try:
        www, ftp_root, home = (os.path.join(work, d) for d in ("www", "ftp", "home"))
        for d in (www, ftp_root, home):
            os.mkdir(d)
        show_address(www, "198.51.100.1")
        devnull = subprocess.DEVNULL
        helpers.append(subprocess.Popen(["/usr/bin/python3", "-m", "http.server", "80", "--bind", "127.0.0.1",
                                         "--directory", www], stdout=devnull, stderr=devnull))
        helpers.append(subprocess.Popen(["/usr/bin/python3", os.path.join(ROOT, "tests/support/ftp_server.py"),
                                         ftp_root, "21", "pelorix", "geheim"], stdout=devnull, stderr=devnull))
        wait_port(80)
        wait_port(21)
        shutil.copy(os.path.join(build, "src/svc/PelorixSvc"), home)
        template = os.path.join(home, "Online.htm")
        with open(template, "w") as out:
            out.write("<html><body>%IP% %Date% %Time%</body></html>\n")
        subprocess.check_call([os.path.join(build, "tests/support/pelorix-ini"), os.path.join(home, "Pelorix.ini"),
                               "Settings", "HTMLTemplate=" + template, "TempSite=" + os.path.join(home, "Tmp.htm"),
                               "FTPHost=127.0.0.1", "FTPUser=pelorix", "+FTPPass=geheim", "FTPSite=/myserver.htm",
                               "FTPPassive=1", "Router=1", "IPSource=127.0.0.1/ip.htm", "Intervall=1",
                               "Messages=0", "MsgLevel=0", "LogFile=1", "eMail=0", "AddPages=0"])
        helpers.append(subprocess.Popen([os.path.join(home, "PelorixSvc"), "-foreground"], cwd=home,
                                        stdout=devnull, stderr=devnull))
        if wait_for_page(ftp_root, "198.51.100.1", 30) is None:
            raise SystemExit("the first address was not published")

        rng = random.Random(20261207)
        times = []
        for n in range(changes):
            # A random moment within the tick, so the figures cover the whole cycle.
            time.sleep(rng.uniform(0.0, 10.0))
            address = "203.0.113.%d" % (10 + n)
            changed = time.monotonic()
            show_address(www, address)
            stored = wait_for_page(ftp_root, address, 30)
            if stored is None:
                raise SystemExit("address %s was not published within 30 s" % address)
            times.append(stored - changed)
            print("change %d: %s stored after %.2f s" % (n + 1, address, times[-1]), flush=True)

        print("changed address to page on the FTP server over %d changes: min %.2f s, median %.2f s, max %.2f s"
              % (len(times), min(times), statistics.median(times), max(times)))
        print("RESULT publish_latency %.2f %.2f %.2f %d" % (min(times), statistics.median(times), max(times),
                                                             len(times)))
        return 0 if max(times) <= LIMIT_S else 1
    finally:
        for helper in reversed(helpers):
            helper.terminate()
        for helper in helpers:
            try:
                helper.wait(5)
            except subprocess.TimeoutExpired:
                helper.kill()
                helper.wait()
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    sys.exit(main())
