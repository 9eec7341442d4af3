#!/usr/bin/env python3
"""An extension call over SIP, on loopback only: baresip "alice" (700 Hz)
dials the extension flow of the runtime's end-to-end tests, keys 8001 as
RFC 4733 events; the runtime rings extension 8001, which is baresip "carol"
(answering by itself, 1100 Hz) at its SIP address; carol answers, the two talk
through the runtime (each hears the other's tone), carol hangs up and the
flow goes on.

  sip_extension_test.py OLVARO MAKE_E2E_FLOWS SAMPLES_DIR
Exits 77 (skipped) when baresip or sox is not installed.
"""

import glob
import os
import shutil
import subprocess
import sys
import tempfile
import time
from sip_helpers import free_udp_port, key, wave_pcm, correlation, tone_share, require_tools, prepare_run, sample_sip_ini, Failures, Olvaro

olvaro, make_flows, samples = (os.path.abspath(a) for a in sys.argv[1:4])
require_tools("baresip", "sox")

work = tempfile.mkdtemp(prefix="sip_e2e_")
fails = Failures("sip extension")
fail = fails.add


sip_port = free_udp_port()
carol_port = free_udp_port()
run = os.path.join(work, "run")
# The documented sample configuration, on ports of its own.
prepare_run(run, samples, sample_sip_ini(samples, port=sip_port, channels=4,
                                         extensions=f"8001=sip:carol@127.0.0.1:{carol_port}"))
subprocess.run([make_flows, os.path.join(run, "flows")], check=True, stdout=subprocess.DEVNULL)
shutil.copy(os.path.join(run, "flows", "extension.cpl"), os.path.join(run, "flows", "sample.cpl"))

ol = Olvaro(olvaro, run, fail)
rt, trace = ol.proc, ol.trace
peers = []
waitfor = ol.waitfor


def baresip(name, seconds, caller_wav, own=None, callee=False):
    """A baresip caller with its own config folder, ports and sound dump."""
    d = os.path.join(work, name)
    os.makedirs(os.path.join(d, "snd"))
    own, cons = own or free_udp_port(), free_udp_port()
    with open(os.path.join(d, "config"), "w") as f:
        f.write(f"sip_listen 127.0.0.1:{own}\nnet_interface 127.0.0.1\n"
                "module_path /usr/lib/baresip/modules\n"
                + "".join(f"module {m}.so\n" for m in
                          ("stdio", "g711", "aufile", "sndfile", "account", "menu", "cons"))
                + f"audio_source aufile,{caller_wav}\naudio_player aufile,{d}/played.wav\n"
                f"snd_path {d}/snd\ncons_listen 127.0.0.1:{cons}\n")
    with open(os.path.join(d, "accounts"), "w") as f:
        f.write(f"<sip:{name}@127.0.0.1:{own}>;regint=0;audio_codecs=PCMA"
                + (";answermode=auto" if callee else "") + "\n")
    out = open(os.path.join(d, "baresip.log"), "wb")
    dial = [] if callee else ["-e", f"/dial sip:8888@127.0.0.1:{sip_port}"]
    p = subprocess.Popen(["baresip", "-f", d] + dial + ["-t", str(seconds)], stdin=subprocess.DEVNULL, stdout=out,
                         stderr=subprocess.STDOUT)
    peers.append(p)
    return d, cons, p



def heard_tone(d, freq):
    dec = glob.glob(os.path.join(d, "snd", "*-dec.wav"))
    if not dec:
        return 0.0
    pcm = wave_pcm(dec[0])
    # The loudest second of what was heard.
    best = 0.0
    for start in range(0, max(0, len(pcm) - 16000), 8000):
        best = max(best, tone_share(pcm[start:start + 16000], freq))
    return best


try:
    if not waitfor("硬件初始化成功,通道数=5", 5):
        raise SystemExit
    a_wav, c_wav = os.path.join(work, "a.wav"), os.path.join(work, "c.wav")
    for path, f in ((a_wav, "700"), (c_wav, "1100")):
        subprocess.run(["sox", "-n", "-r", "8000", "-c", "1", "-b", "16", path,
                        "synth", "30", "sine", f, "vol", "0.5"], check=True)
    dc, _, pc = baresip("carol", 9, c_wav, own=carol_port, callee=True)
    time.sleep(0.5)
    da, cons_a, pa = baresip("alice", 25, a_wav)
    waitfor("alice从通道0打进8888", 10)
    waitfor("通道0=>(1)Input PlayFileVoc .\\voice\\input.voc")
    for k in "8001":
        key(cons_a, k)
        time.sleep(0.25)
    waitfor("通道0=>振铃分机8001", 5)
    waitfor("通道0=>被叫分机8001摘机", 10)
    waitfor("通道0=>(3)Talk(通道1=0,通道2=4)")
    # carol quits after 9 s: her BYE ends the talk, the flow goes on.
    waitfor("通道0=>(3)Talk 座席4挂机", 15)
    waitfor("通道0=>(4)PlayTTS(放音类型=3;放音内容=8001;放音字符串=8001)", 5)
    waitfor("通道0复位", 10)
    a_hears, c_hears = heard_tone(da, 1100), heard_tone(dc, 700)
    print(f"alice heard carol's 1100 Hz: share {a_hears:.2f}; carol heard alice's 700 Hz: share {c_hears:.2f}")
    if a_hears < 0.8 or c_hears < 0.8:
        fail("the two callers did not hear each other through the runtime")
    if rt.poll() is not None:
        fail(f"olvaro exited with {rt.returncode}")
finally:
    ol.stop(peers)

fails.finish(work, trace())
