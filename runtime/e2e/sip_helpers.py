"""Helpers the SIP end-to-end tests share: the tools they need, olvaro's
folder and configuration, free loopback ports, keys sent to a baresip
console, and what a caller heard (wave data, correlation with a prompt, the
share of a tone)."""
import audioop  # noqa: deprecated in 3.11, still the quickest C correlation here
import glob
import math
import os
import re
import shutil
import signal
import socket
import subprocess
import sys
import time


class Failures(list):
    """What a test found wrong, each said as it is found."""

    def __init__(self, name):
        super().__init__()
        self.name = name

    def add(self, msg):
        print("FAIL:", msg)
        self.append(msg)

    def finish(self, work, trace):
        """Exits: 1 with the end of the trace and the work folder kept when
        anything failed, else 0 with the work folder removed."""
        if self:
            print("---- trace ----")
            print(trace[-6000:])
            print(f"{self.name}: {len(self)} failure(s); work folder {work}")
            sys.exit(1)
        shutil.rmtree(work, ignore_errors=True)
        print(f"{self.name}: passed")


class Olvaro:
    """olvaro --headless in the folder `run`, its output kept in run/out.log;
    what goes wrong with it is told to `fail`."""

    def __init__(self, olvaro, run, fail):
        self.fail = fail
        self.log_path = os.path.join(run, "out.log")
        self.log = open(self.log_path, "wb")
        self.proc = subprocess.Popen([olvaro, "--headless"], cwd=run, stdout=self.log,
                                     stderr=subprocess.STDOUT)

    def trace(self):
        with open(self.log_path, encoding="utf-8", errors="replace") as f:
            return f.read()

    def waitfor(self, text, timeout=5.0, count=1):
        """True once `text` stands `count` times in the trace; a failure when
        it does not within `timeout` seconds."""
        end = time.monotonic() + timeout
        while time.monotonic() < end:
            if self.trace().count(text) >= count:
                return True
            time.sleep(0.02)
        self.fail(f"no trace line with '{text}' within {timeout} s")
        return False

    def stop(self, peers=()):
        """Ends the peers that still run, then olvaro by SIGTERM (a failure
        when it takes more than 5 s)."""
        for p in peers:
            if p.poll() is None:
                p.kill()
        self.proc.send_signal(signal.SIGTERM)
        try:
            self.proc.wait(timeout=5)
        except subprocess.TimeoutExpired:
            self.proc.kill()
            self.fail("olvaro did not stop on SIGTERM")
        self.log.close()


def require_tools(*tools):
    """Exits 77 (ctest's skip) when a tool the test drives is missing."""
    for tool in tools:
        if not shutil.which(tool):
            print(f"SKIPPED: {tool} is not installed (scripts/setup.sh installs it)")
            sys.exit(77)


def sample_sip_ini(samples, **keys):
    """The documented sample SIP configuration with KeyCall off and each
    KEY=VALUE of `keys` (port, channels, extensions, ...) set as given."""
    with open(os.path.join(samples, "sysconfig-sip.ini"), encoding="utf-8") as f:
        ini = f.read().replace("keycallport=6060", "keycallport=0")
    for k, v in keys.items():
        ini, n = re.subn(rf"(?m)^{k}=.*$", lambda _: f"{k}={v}", ini, count=1)
        if n != 1:
            raise KeyError(f"the sample configuration has no key {k}")
    return ini


def prepare_run(run, samples, ini=None, cpl=None):
    """olvaro's folder: sysconfig.ini (when given), `cpl` as flows/sample.cpl
    (when given), the sample voices and a fresh database."""
    os.makedirs(os.path.join(run, "flows"))
    os.makedirs(os.path.join(run, "voice"))
    if ini is not None:
        with open(os.path.join(run, "sysconfig.ini"), "w", encoding="utf-8") as f:
            f.write(ini)
    if cpl:
        shutil.copy(cpl, os.path.join(run, "flows", "sample.cpl"))
    for v in glob.glob(os.path.join(samples, "voice", "*")):
        shutil.copy(v, os.path.join(run, "voice"))
    subprocess.run(["bash", os.path.join(samples, "db", "make_db.sh"),
                    os.path.join(run, "ivr.sqlite")], check=True, stdout=subprocess.DEVNULL)


def free_udp_port():
    """A loopback port free for UDP and for TCP alike: baresip listens for
    SIP on both, and fails to start when either is taken."""
    for _ in range(100):
        u = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
        u.bind(("127.0.0.1", 0))
        p = u.getsockname()[1]
        t = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
        try:
            t.bind(("127.0.0.1", p))
            return p
        except OSError:
            continue
        finally:
            t.close()
            u.close()
    raise RuntimeError("no loopback port free for both UDP and TCP")


def key(cons, digit):
    s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    s.sendto(digit.encode(), ("127.0.0.1", cons))
    s.close()


def wave_pcm(path):
    """16-bit mono samples of a wave file (bytes), by its data chunk."""
    with open(path, "rb") as f:
        b = f.read()
    pos = 12
    while pos + 8 <= len(b):
        cid, size = b[pos:pos + 4], int.from_bytes(b[pos + 4:pos + 8], "little")
        if cid == b"data":
            # A file still being written says 0 (or too much): take what is there.
            end = pos + 8 + size if 0 < size <= len(b) - pos - 8 else len(b)
            return b[pos + 8:end]
        pos += 8 + size + (size & 1)
    return b""


def correlation(heard, ref):
    """Best normalized correlation of ref somewhere in heard (16-bit PCM)."""
    if len(heard) < len(ref):
        return 0.0
    off, _ = audioop.findfit(heard, ref)
    seg = heard[off * 2:off * 2 + len(ref)]
    num = sum(a * b for a, b in zip(memoryview(seg).cast("h"), memoryview(ref).cast("h")))
    den = math.sqrt(sum(a * a for a in memoryview(seg).cast("h")) *
                    sum(b * b for b in memoryview(ref).cast("h")))
    return num / den if den else 0.0


def tone_share(pcm, freq):
    """Share of the signal's power at `freq` (Goertzel), 0..1."""
    x = memoryview(pcm).cast("h")
    n = len(x)
    if n == 0:
        return 0.0
    k = 2 * math.cos(2 * math.pi * freq / 8000)
    s1 = s2 = 0.0
    for v in x:
        s1, s2 = v + k * s1 - s2, s1
    power = s1 * s1 + s2 * s2 - k * s1 * s2
    total = sum(v * v for v in x)
    return 2 * power / (n * total) if total else 0.0
