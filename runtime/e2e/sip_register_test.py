#!/usr/bin/env python3
"""Extensions that register with the runtime, over SIP on loopback only.

The runtime serves three registered-user extensions with a password:
  8002  baresip "bob" (1100 Hz, answering by itself) registers with the
        password; baresip "alice" (700 Hz) dials the extension flow and keys
        8002; the runtime rings bob at the Contact he registered, he answers,
        the two hear each other, bob hangs up and the flow goes on.
  8003  a SIP telephone written here registers (digest with qop=auth) and
        answers every INVITE 486 Busy Here: "dave"'s call through the flow
        takes the extension call's busy exit at once, not after 30 s.
  8004  never registers: "erin"'s call takes the no-such-extension exit.
A REGISTER with a wrong password is challenged again, one for an unknown user
is answered 404.

  sip_register_test.py OLVARO MAKE_E2E_FLOWS SAMPLES_DIR
Exits 77 (skipped) when baresip or sox is not installed.
"""

import glob
import hashlib
import os
import re
import shutil
import socket
import subprocess
import sys
import tempfile
import threading
import time
from sip_helpers import free_udp_port, key, wave_pcm, tone_share, require_tools, prepare_run, sample_sip_ini, Failures, Olvaro

olvaro, make_flows, samples = (os.path.abspath(a) for a in sys.argv[1:4])
require_tools("baresip", "sox")

PASSWORD = "s3cret"
work = tempfile.mkdtemp(prefix="sip_reg_")
fails = Failures("sip register")
fail = fails.add


sip_port = free_udp_port()
run = os.path.join(work, "run")
# The documented sample configuration, on ports of its own, with registered
# users for extensions.
prepare_run(run, samples, sample_sip_ini(samples, port=sip_port, channels=4,
                                         extensions="8002,8003,8004", extpassword=PASSWORD))
subprocess.run([make_flows, os.path.join(run, "flows")], check=True, stdout=subprocess.DEVNULL)
shutil.copy(os.path.join(run, "flows", "extension.cpl"), os.path.join(run, "flows", "sample.cpl"))

ol = Olvaro(olvaro, run, fail)
rt, trace = ol.proc, ol.trace
peers = []
waitfor = ol.waitfor


def baresip(name, seconds, wav, register=False):
    """A baresip with its own config folder, ports and sound dump: a caller
    dialling the flow, or (register) extension `name` registered with the
    runtime, answering by itself."""
    d = os.path.join(work, name)
    os.makedirs(os.path.join(d, "snd"))
    own, cons = free_udp_port(), free_udp_port()
    with open(os.path.join(d, "config"), "w") as f:
        f.write(f"sip_listen 127.0.0.1:{own}\nnet_interface 127.0.0.1\n"
                "module_path /usr/lib/baresip/modules\n"
                + "".join(f"module {m}.so\n" for m in
                          ("stdio", "g711", "aufile", "sndfile", "account", "menu", "cons"))
                + f"audio_source aufile,{wav}\naudio_player aufile,{d}/played.wav\n"
                f"snd_path {d}/snd\ncons_listen 127.0.0.1:{cons}\n")
    with open(os.path.join(d, "accounts"), "w") as f:
        if register:
            f.write(f"<sip:{name}@127.0.0.1:{sip_port}>;auth_pass={PASSWORD};regint=60;"
                    "audio_codecs=PCMA;answermode=auto\n")
        else:
            f.write(f"<sip:{name}@127.0.0.1:{own}>;regint=0;audio_codecs=PCMA\n")
    out = open(os.path.join(d, "baresip.log"), "wb")
    dial = [] if register else ["-e", f"/dial sip:8888@127.0.0.1:{sip_port}"]
    p = subprocess.Popen(["baresip", "-f", d] + dial + ["-t", str(seconds)], stdin=subprocess.DEVNULL,
                         stdout=out, stderr=subprocess.STDOUT)
    peers.append(p)
    return d, cons, p


def baresip_log(d):
    with open(os.path.join(d, "baresip.log"), encoding="utf-8", errors="replace") as f:
        return f.read()


def heard_tone(d, freq):
    dec = glob.glob(os.path.join(d, "snd", "*-dec.wav"))
    if not dec:
        return 0.0
    pcm = wave_pcm(dec[0])
    best = 0.0
    for start in range(0, max(0, len(pcm) - 16000), 8000):
        best = max(best, tone_share(pcm[start:start + 16000], freq))
    return best


def md5(text):
    return hashlib.md5(text.encode()).hexdigest()


class BusyPhone:
    """Registers as `user` with the runtime and refuses every call 486."""

    def __init__(self, user):
        self.user = user
        self.sock = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
        self.sock.bind(("127.0.0.1", 0))
        self.sock.settimeout(0.2)
        self.port = self.sock.getsockname()[1]
        self.cseq = 0
        self.invites = 0
        self.stop = False

    def send(self, text):
        self.sock.sendto(text.encode(), ("127.0.0.1", sip_port))

    def recv(self, want, timeout=3.0):
        end = time.monotonic() + timeout
        while time.monotonic() < end:
            try:
                data = self.sock.recv(65536).decode(errors="replace")
            except socket.timeout:
                continue
            if data.startswith(want):
                return data
        return ""

    def register(self, password, auth=None, user=None):
        user = user or self.user
        self.cseq += 1
        uri = f"sip:127.0.0.1:{sip_port}"
        me = f"127.0.0.1:{self.port}"
        head = (f"REGISTER {uri} SIP/2.0\r\nVia: SIP/2.0/UDP {me};branch=z9hG4bKreg{self.cseq}\r\n"
                f"Max-Forwards: 70\r\nFrom: <sip:{user}@127.0.0.1>;tag=b{self.cseq}\r\n"
                f"To: <sip:{user}@127.0.0.1>\r\nCall-ID: reg-{user}@busy\r\nCSeq: {self.cseq} REGISTER\r\n"
                f"Contact: <sip:{user}@{me}>\r\nExpires: 120\r\n")
        if auth:
            realm, nonce = auth
            ha1 = md5(f"{user}:{realm}:{password}")
            ha2 = md5(f"REGISTER:{uri}")
            resp = md5(f"{ha1}:{nonce}:00000001:0a4f113b:auth:{ha2}")
            head += (f'Authorization: Digest username="{user}", realm="{realm}", nonce="{nonce}", '
                     f'uri="{uri}", response="{resp}", algorithm=MD5, qop=auth, nc=00000001, '
                     f'cnonce="0a4f113b"\r\n')
        self.send(head + "Content-Length: 0\r\n\r\n")
        return self.recv("SIP/2.0")

    def challenge(self, reply):
        m = re.search(r'realm="([^"]*)".*?nonce="([^"]*)"', reply)
        return (m.group(1), m.group(2)) if m else None

    def serve(self):
        while not self.stop:
            try:
                data = self.sock.recv(65536).decode(errors="replace")
            except socket.timeout:
                continue
            if not data.startswith("INVITE "):
                continue
            self.invites += 1
            lines = data.split("\r\n")
            keep = [l for l in lines if l.split(":")[0].lower() in ("via", "from", "call-id", "cseq")]
            to = next(l for l in lines if l.lower().startswith("to:"))
            self.send("SIP/2.0 486 Busy Here\r\n" + "\r\n".join(keep) + f"\r\n{to};tag=busy\r\n"
                      "Content-Length: 0\r\n\r\n")


busy = BusyPhone("8003")
server = None
try:
    if not waitfor("硬件初始化成功,通道数=7", 5):
        raise SystemExit
    # Registration by the telephone written here: challenged, wrong password
    # challenged again, the right one taken; an unknown user is not found.
    first = busy.register(PASSWORD)
    chall = busy.challenge(first)
    if not first.startswith("SIP/2.0 401") or not chall or chall[0] != "olvaro":
        fail(f"REGISTER without credentials: {first[:200]!r}")
    else:
        wrong = busy.register("nope", chall)
        if not wrong.startswith("SIP/2.0 401"):
            fail(f"a wrong password was answered {wrong[:60]!r}")
        ok = busy.register(PASSWORD, busy.challenge(wrong) or chall)
        if not ok.startswith("SIP/2.0 200") or f"<sip:8003@127.0.0.1:{busy.port}>;expires=120" not in ok:
            fail(f"the right password was answered {ok[:300]!r}")
    unknown = busy.register(PASSWORD, user="8999")
    if not unknown.startswith("SIP/2.0 404"):
        fail(f"REGISTER for an unknown user was answered {unknown[:60]!r}")
    server = threading.Thread(target=busy.serve, daemon=True)
    server.start()

    a_wav, b_wav = os.path.join(work, "a.wav"), os.path.join(work, "b.wav")
    for path, f in ((a_wav, "700"), (b_wav, "1100")):
        subprocess.run(["sox", "-n", "-r", "8000", "-c", "1", "-b", "16", path,
                        "synth", "30", "sine", f, "vol", "0.5"], check=True)
    # Bob registers with the password and stays 12 s.
    db, _, pb = baresip("8002", 12, b_wav, register=True)
    end = time.monotonic() + 5
    while time.monotonic() < end and "200 OK" not in baresip_log(db):
        time.sleep(0.05)
    if "200 OK" not in baresip_log(db):
        fail("bob's registration was not accepted:\n" + baresip_log(db)[-1500:])
    da, cons_a, pa = baresip("alice", 25, a_wav)
    waitfor("alice从通道0打进8888", 10)
    waitfor("通道0=>(1)Input PlayFileVoc .\\voice\\input.voc")
    for k in "8002":
        key(cons_a, k)
        time.sleep(0.25)
    waitfor("通道0=>振铃分机8002", 5)
    waitfor("通道0=>被叫分机8002摘机", 10)
    waitfor("通道0=>(3)Talk(通道1=0,通道2=4)")
    # Bob quits: his BYE ends the talk, the flow goes on.
    waitfor("通道0=>(3)Talk 座席4挂机", 15)
    waitfor("通道0复位", 10)
    a_hears, b_hears = heard_tone(da, 1100), heard_tone(db, 700)
    print(f"alice heard bob's 1100 Hz: share {a_hears:.2f}; bob heard alice's 700 Hz: share {b_hears:.2f}")
    if a_hears < 0.8 or b_hears < 0.8:
        fail("the caller and the registered extension did not hear each other")

    # Dave keys 8003, whose telephone refuses: the busy exit, well within
    # the ring time.
    for name, number, what in (("dave", "8003", "忙"), ("erin", "8004", "不存在")):
        dd, cons_d, pd = baresip(name, 20, a_wav)
        # The channel it takes: the one before may still be closing.
        end = time.monotonic() + 10
        m = None
        while time.monotonic() < end and not m:
            m = re.search(name + r"从通道(\d+)打进8888", trace())
            time.sleep(0.02)
        if not m:
            fail(f"{name}'s call did not arrive")
            continue
        ch = m.group(1)
        since = trace().rfind(m.group(0))
        end = time.monotonic() + 5
        while time.monotonic() < end and f"通道{ch}=>(1)Input PlayFileVoc" not in trace()[since:]:
            time.sleep(0.02)
        for k in number:
            key(cons_d, k)
            time.sleep(0.25)
        end = time.monotonic() + 5
        while time.monotonic() < end and f"通道{ch}=>振铃分机{number}" not in trace()[since:]:
            time.sleep(0.02)
        rang = time.monotonic()
        line = f"通道{ch}=>分机{number}{what}"
        while time.monotonic() < rang + 5 and line not in trace()[since:]:
            time.sleep(0.02)
        if line not in trace()[since:]:
            fail(f"no trace line '{line}' within 5 s of the ringing")
        # The flow's bye, and the end of the call.
        end = time.monotonic() + 10
        while time.monotonic() < end and f"通道{ch}复位" not in trace()[since:]:
            time.sleep(0.02)
        if f"通道{ch}=>(5)PlayFile" not in trace()[since:] or f"通道{ch}复位" not in trace()[since:]:
            fail(f"{name}'s call did not go on to the bye and end")
        if pd.poll() is None:
            pd.kill()
    if busy.invites < 1:
        fail("the busy telephone was never rung at its Contact")
    if "超时没有摘机" in trace():
        fail("a ringing extension was left to the ring time")
    if rt.poll() is not None:
        fail(f"olvaro exited with {rt.returncode}")
finally:
    busy.stop = True
    ol.stop(peers)

fails.finish(work, trace())
