#!/usr/bin/env python3
"""olvaro --headless and its signals: it ends within two seconds of SIGTERM
or SIGINT whatever it is doing; a reader of its standard output that goes
away ends the trace output, not the runtime; SIGHUP reloads the flows whose
configuration changed.

    signals_test.py OLVARO MAKE_FLOWS KEYCALL SCHEMA_SQL
"""
import fcntl
import os
import shutil
import re
import signal
import sqlite3
import subprocess
import sys
import tempfile
import time

F_SETPIPE_SZ = 1031
# Seconds from the signal to the end of the process; a sanitizer build runs
# several times slower and says so through OLVARO_TIME_SCALE.
LIMIT = 2.0 * float(os.environ.get("OLVARO_TIME_SCALE", "1"))

olvaro, make_flows, keycall, schema = sys.argv[1:5]
work = tempfile.mkdtemp(prefix="olvaro-stop-")
failures = []


def fail(msg):
    print("signals: " + msg)
    failures.append(msg)


def write_config(flow_entries, trigger=True, db_timeout=5):
    lines = ["[DataBase]", "type=0", "filename=ivr.sqlite", "timeout=%d" % db_timeout,
             "[System]", "callintype=0",
             "[net]", "keycallport=0", "[Out0]", "lineno=8888", "[ivrfile]",
             "cnt=%d" % len(flow_entries)]
    for n, path in enumerate(flow_entries):
        lines += ["ivrno%d=%d" % (n, n), "ivrfile%d=%s" % (n, path), "vocdir%d=.\\voice" % n]
    if trigger:
        lines += ["[ivrtrig]", "cnt=1", "num0=8888", "ivrindex0=0"]
    with open(os.path.join(work, "sysconfig.ini"), "w") as f:
        f.write("\n".join(lines) + "\n")


def wait_for(path, text, seconds):
    end = time.monotonic() + seconds
    while time.monotonic() < end:
        try:
            with open(path, encoding="utf-8", errors="replace") as f:
                if text in f.read():
                    return True
        except FileNotFoundError:
            pass
        time.sleep(0.05)
    return False


def stop_within(proc, sig, what):
    t0 = time.monotonic()
    proc.send_signal(sig)
    try:
        rc = proc.wait(timeout=LIMIT + 3)
    except subprocess.TimeoutExpired:
        proc.kill()
        proc.wait()
        fail("%s: still running %.0f s after the signal" % (what, LIMIT + 3))
        return None
    took = time.monotonic() - t0
    if took > LIMIT:
        fail("%s: took %.2f s to stop, limit %.1f s" % (what, took, LIMIT))
    if rc != 0:
        fail("%s: exit status %d after the signal, want 0" % (what, rc))
    return took


try:
    os.mkdir(os.path.join(work, "flows"))
    subprocess.run([make_flows, os.path.join(work, "flows")], check=True)
    open(os.path.join(work, "ivr.sqlite"), "w").close()
    out_log = os.path.join(work, "out.log")

    # 1. During a long flow load: one real entry and 1023 missing ones, each
    # of which waits 100 ms after its failure.
    write_config([".\\flows\\start_only.cpl"] + [".\\flows\\missing%d.cpl" % n
                                                 for n in range(1, 1024)])
    for sig in (signal.SIGTERM, signal.SIGINT):
        with open(out_log, "w") as out:
            p = subprocess.Popen([olvaro, "--headless"], cwd=work, stdout=out,
                                 stderr=subprocess.DEVNULL)
        if not wait_for(out_log, "加载失败", 5):
            fail("flow load: no failed entry logged")
        stop_within(p, sig, "flow load, %s" % signal.Signals(sig).name)

    # 2. Standard output nobody reads: a one-page pipe that fills with the
    # failure lines of long flow paths.
    long_name = ".\\flows\\" + "x" * 200
    write_config([".\\flows\\start_only.cpl"] + ["%s%d.cpl" % (long_name, n)
                                                 for n in range(1, 60)], trigger=False)
    r, w = os.pipe()
    fcntl.fcntl(w, F_SETPIPE_SZ, 4096)
    p = subprocess.Popen([olvaro, "--headless"], cwd=work, stdout=w,
                         stderr=subprocess.PIPE)
    os.close(w)
    time.sleep(3)  # about 30 lines of 260 bytes: the pipe is full
    stop_within(p, signal.SIGTERM, "blocked standard output")
    err = p.stderr.read().decode("utf-8", "replace")
    if "trace lines were not written" not in err:
        fail("blocked standard output: no note on standard error: %r" % err)
    os.close(r)

    # 3. A reader that goes away: the runtime goes on and stops normally.
    write_config([".\\flows\\start_only.cpl"])
    p = subprocess.Popen([olvaro, "--headless"], cwd=work, stdout=subprocess.PIPE,
                         stderr=subprocess.DEVNULL)
    first = p.stdout.readline()
    p.stdout.close()  # as `olvaro --headless | head -1` does
    time.sleep(1.0)  # the scan thread's start lines meet the closed pipe
    if p.poll() is not None:
        fail("closed standard output ended the runtime with status %d" % p.returncode)
    else:
        stop_within(p, signal.SIGTERM, "closed standard output")
    if not first:
        fail("closed standard output: nothing was written before")

    # 4. A statement waiting on a lock another program holds (for up to the
    # 30 s statement timeout configured here).
    db = os.path.join(work, "ivr.sqlite")
    os.remove(db)
    with open(schema) as f:
        sqlite3.connect(db).executescript(f.read())
    holder = sqlite3.connect(db, isolation_level=None)
    write_config([".\\flows\\callrecord.cpl"], db_timeout=30)
    with open(out_log, "w") as out:
        p = subprocess.Popen([olvaro, "--headless"], cwd=work, stdout=out,
                             stderr=subprocess.DEVNULL)
    if wait_for(out_log, "ivr流程解释线程开始执行", 5):
        with open(out_log, encoding="utf-8") as f:
            port = re.search(r"KeyCall UDP端口(\d+)成功", f.read()).group(1)
        holder.execute("BEGIN EXCLUSIVE")
        subprocess.run([keycall, "--port", port, "call", "0", "555"], check=True)
        if not wait_for(out_log, "sqlexec,sql=", 5):
            fail("database lock: the statement was never run")
        time.sleep(0.3)  # the scan thread is inside the statement now
        stop_within(p, signal.SIGTERM, "statement waiting on a lock")
        with open(out_log, encoding="utf-8") as f:
            if "Print I1=" in f.read():
                fail("database lock: the statement did not wait for the lock")
    else:
        fail("database lock: the runtime did not start")
        p.kill()
        p.wait()
    if holder.in_transaction:
        holder.rollback()
    holder.close()

    # 5. SIGHUP: slot 0 is pointed at another flow; the next call runs it.
    os.remove(db)
    open(db, "w").close()
    write_config([".\\flows\\start_only.cpl"])
    with open(out_log, "w") as out:
        p = subprocess.Popen([olvaro, "--headless"], cwd=work, stdout=out,
                             stderr=subprocess.DEVNULL)
    if wait_for(out_log, "ivr流程解释线程开始执行", 5):
        with open(out_log, encoding="utf-8") as f:
            port = re.search(r"KeyCall UDP端口(\d+)成功", f.read()).group(1)
        p.send_signal(signal.SIGHUP)
        if not wait_for(out_log, "SIGHUP: 0 flows to load, 1 unchanged, 0 removed; 1 triggers", 5):
            fail("SIGHUP with nothing changed: no summary line")
        write_config([".\\flows\\telephony.cpl"])
        p.send_signal(signal.SIGHUP)
        if not wait_for(out_log, "telephony.cpl编号0加载成功", 5):
            fail("SIGHUP: the changed slot was not loaded")
        subprocess.run([keycall, "--port", port, "call", "0", "555"], check=True)
        if not wait_for(out_log, "通道0=>(1)PlayFile", 5):
            fail("SIGHUP: the next call did not run the new flow")
        if p.poll() is not None:
            fail("SIGHUP ended the runtime")
        else:
            stop_within(p, signal.SIGTERM, "after SIGHUP")
    else:
        fail("SIGHUP: the runtime did not start")
        p.kill()
        p.wait()
finally:
    if failures: print(open(os.path.join(work, "out.log")).read()[-3000:])
    shutil.rmtree(work, ignore_errors=True)

if failures:
    sys.exit(1)
print("signals: all passed")
