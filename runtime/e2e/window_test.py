#!/usr/bin/env python3
"""olvaro with its window (offscreen platform): it starts, keeps running with
the window open, and ends promptly on SIGTERM with status 0.

    window_test.py OLVARO SCHEMA_SQL
"""
import os
import signal
import sqlite3
import subprocess
import sys
import tempfile
import time

olvaro, schema = sys.argv[1:3]
work = tempfile.mkdtemp(prefix="olvaro-window-")
db = sqlite3.connect(os.path.join(work, "ivr.sqlite"))
db.executescript(open(schema).read())
db.close()
with open(os.path.join(work, "sysconfig.ini"), "w") as f:
    f.write("; window test\n[DataBase]\ntype=0\nfilename=ivr.sqlite\n"
            "[System]\ncallintype=0\n[net]\nkeycallport=0\n[ivrfile]\ncnt=0\n")
env = dict(os.environ, QT_QPA_PLATFORM="offscreen")
proc = subprocess.Popen([olvaro], cwd=work, env=env, stdout=subprocess.PIPE,
                        stderr=subprocess.PIPE)
time.sleep(1.5)
if proc.poll() is not None:
    out, err = proc.communicate()
    print("window: olvaro ended on its own with %d: %s" % (proc.returncode, err.decode()))
    sys.exit(1)
t0 = time.monotonic()
proc.send_signal(signal.SIGTERM)
try:
    proc.wait(timeout=3)
except subprocess.TimeoutExpired:
    proc.kill()
    print("window: olvaro did not end within 3 s of SIGTERM")
    sys.exit(1)
if proc.returncode != 0:
    print("window: exit status %d: %s" % (proc.returncode, proc.stderr.read().decode()))
    sys.exit(1)
print("window: ran and stopped in %.2f s" % (time.monotonic() - t0))
