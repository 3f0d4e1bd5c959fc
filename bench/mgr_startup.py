#!/usr/bin/python3
"""Time for the manager to start and show its window, measured from outside.

Runs on an X display (bench/mgr_startup.sh provides one with Xvfb): starts a copy of
PelorixMgr in a scratch program directory RUNS times and measures from the process start to
its main window being mapped and viewable (polled with xdotool every 20 ms), then ends it.

    mgr_startup.py BUILD_DIR [RUNS]

The last line is machine-readable:
    RESULT mgr_startup <min s> <median s> <max s> <runs> <first run s> <median processor s>
The processor time the manager used until its window showed is given too: unlike the wall
time it does not grow when other programs compete for the processors.
Exits 1 when the median start takes longer than 1 s.
"""

import os
import shutil
import statistics
import subprocess
import sys
import tempfile
import time

LIMIT_S = 1.0


def window_shown(pid):
    found = subprocess.run(["xdotool", "search", "--onlyvisible", "--pid", str(pid), "--name", "^Pelorix"],
                           stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True)
    return found.returncode == 0 and found.stdout.strip() != ""


def cpu_seconds(pid):
    """Processor time (user and system) the process has used so far."""
    with open("/proc/%d/stat" % pid) as f:
        fields = f.read().rsplit(")", 1)[1].split()
    return (int(fields[11]) + int(fields[12])) / os.sysconf("SC_CLK_TCK")


def main():
    build = os.path.abspath(sys.argv[1])
    runs = int(sys.argv[2]) if len(sys.argv) > 2 else 10
    home = tempfile.mkdtemp(prefix="pelorix-startup-")
    try:
        shutil.copy(os.path.join(build, "src/mgr/PelorixMgr"), home)
        # Settings as after a first setup: an FTP host (the window opens on the monitor page),
        # the monitor off (nothing listens on the monitor port).
        with open(os.path.join(home, "Pelorix.ini"), "wb") as out:
            out.write(b"[Settings]\r\nFTPHost=127.0.0.1\r\nFTPUser=pelorix\r\nMessages=0\r\nHidden=0\r\n")
        env = dict(os.environ, QT_QPA_PLATFORM="xcb", XDG_RUNTIME_DIR=home)
        times = []
        cpu = []
        for n in range(runs):
            started = time.monotonic()
            log = open(os.path.join(home, "run%d.log" % (n + 1)), "w")
            manager = subprocess.Popen([os.path.join(home, "PelorixMgr")], cwd=home, env=env,
                                       stdout=log, stderr=log)
            shown = None
            while time.monotonic() - started < 20 and manager.poll() is None:
                if window_shown(manager.pid):
                    shown = time.monotonic()
                    cpu.append(cpu_seconds(manager.pid))
                    break
                time.sleep(0.02)
            ended = manager.poll()
            manager.terminate()
            manager.wait(10)
            log.close()
            if shown is None:
                with open(log.name) as f:
                    output = f.read()
                raise SystemExit("run %d: the manager showed no window (%s)\n%s"
                                 % (n + 1, "it ended with %s" % ended if ended is not None else "20 s", output))
            times.append(shown - started)
            print("run %d: window shown after %.3f s (%.2f s of processor time)" % (n + 1, times[-1], cpu[-1]),
                  flush=True)
        print("manager start to window shown over %d runs: min %.3f s, median %.3f s, max %.3f s (first %.3f s)"
              % (runs, min(times), statistics.median(times), max(times), times[0]))
        print("processor time used until the window showed: median %.2f s" % statistics.median(cpu))
        print("RESULT mgr_startup %.3f %.3f %.3f %d %.3f %.2f" % (min(times), statistics.median(times), max(times),
                                                                 runs, times[0], statistics.median(cpu)))
        return 0 if statistics.median(times) <= LIMIT_S else 1
    finally:
        shutil.rmtree(home, ignore_errors=True)


if __name__ == "__main__":
    sys.exit(main())
