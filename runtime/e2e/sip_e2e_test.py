#!/usr/bin/env python3
"""End to end over SIP, on loopback only: olvaro --headless under SIP access
([System] callintype=2) answers baresip, which walks the sample flow with
RFC 4733 keys, leaves a message and is hung up on; a second baresip call
hangs up itself during the welcome; linphonec, a second independent peer,
sends its key as SIP INFO and hangs up while recording. Checked: the trace, the recorded
message's length and content (the caller's 700 Hz tone), and that what the
caller heard holds the welcome prompt (correlation, not silence).

  sip_e2e_test.py OLVARO SAMPLE_CPL SAMPLES_DIR
Exits 77 (skipped) when baresip or sox is not installed.
"""
import audioop  # noqa: deprecated in 3.11, still the quickest C correlation here
import glob
import os
import shutil
import subprocess
import sys
import tempfile
import time
from sip_helpers import free_udp_port, key, wave_pcm, correlation, tone_share, require_tools, prepare_run, sample_sip_ini, Failures, Olvaro

olvaro, cpl, samples = (os.path.abspath(a) for a in sys.argv[1:4])
require_tools("baresip", "sox")

work = tempfile.mkdtemp(prefix="sip_e2e_")
fails = Failures("sip e2e")
fail = fails.add


sip_port = free_udp_port()
run = os.path.join(work, "run")
# The documented sample configuration, on ports of its own.
prepare_run(run, samples, sample_sip_ini(samples, port=sip_port, channels=4, extensions=""), cpl)

ol = Olvaro(olvaro, run, fail)
rt, trace = ol.proc, ol.trace
peers = []
waitfor = ol.waitfor


def baresip(name, seconds, caller_wav):
    """A baresip caller with its own config folder, ports and sound dump."""
    d = os.path.join(work, name)
    os.makedirs(os.path.join(d, "snd"))
    own, cons = free_udp_port(), free_udp_port()
    with open(os.path.join(d, "config"), "w") as f:
        f.write(f"sip_listen 127.0.0.1:{own}\nnet_interface 127.0.0.1\n"
                "module_path /usr/lib/baresip/modules\n"
                + "".join(f"module {m}.so\n" for m in
                          ("stdio", "g711", "aufile", "sndfile", "account", "menu", "cons"))
                + f"audio_source aufile,{caller_wav}\naudio_player aufile,{d}/played.wav\n"
                f"snd_path {d}/snd\ncons_listen 127.0.0.1:{cons}\n")
    with open(os.path.join(d, "accounts"), "w") as f:
        f.write(f"<sip:{name}@127.0.0.1:{own}>;regint=0;audio_codecs=PCMA\n")
    out = open(os.path.join(d, "baresip.log"), "wb")
    p = subprocess.Popen(["baresip", "-f", d, "-e", f"/dial sip:8888@127.0.0.1:{sip_port}",
                          "-t", str(seconds)], stdin=subprocess.DEVNULL, stdout=out,
                         stderr=subprocess.STDOUT)
    peers.append(p)
    return d, cons, p


try:
    if not waitfor("硬件初始化成功,通道数=4", 5):
        raise SystemExit
    caller_wav = os.path.join(work, "caller.wav")
    subprocess.run(["sox", "-n", "-r", "8000", "-c", "1", "-b", "16", caller_wav,
                    "synth", "25", "sine", "700", "vol", "0.5"], check=True)

    # 1. The whole walk: welcome heard to its end, key 2, a message of about
    # three seconds ended by #, its row written, good-bye, the runtime's BYE.
    d1, cons1, p1 = baresip("alice", 40, caller_wav)
    waitfor("alice从通道0打进8888", 10)
    waitfor("通道0=>(1)PlayFile CTIPlayFile(0,.\\voice\\welcome.voc)")
    waitfor("通道0=>(1)PlayVoc正常结束", 5)
    waitfor("通道0=>(2)Digit 输入等待5秒，重复2次")
    time.sleep(1.2)  # the menu prompt (0.85 s) is heard whole
    key(cons1, "2")
    waitfor("通道0=>(2)Digit 用户按键2")
    waitfor("通道0=>(5)RecFile .\\voice\\msg", 5)
    t0 = time.monotonic()
    time.sleep(3.0)
    key(cons1, "#")
    t1 = time.monotonic()
    waitfor("通道0=>(5)RecFile 按键中止")
    waitfor("通道0=>(8:7)Print S4=留言")
    waitfor("通道0=>(7)PlayVoc正常结束", 5)
    waitfor("通道0复位", 5)
    # The runtime's BYE ends the call long before the caller's file does.
    end = time.monotonic() + 5
    blog = ""
    while time.monotonic() < end and "terminated" not in blog:
        time.sleep(0.05)
        with open(os.path.join(d1, "baresip.log"), errors="replace") as f:
            blog = f.read()
    if "terminated" not in blog:
        fail("baresip did not see its call ended by the runtime")

    msgs = glob.glob(os.path.join(run, "voice", "msg*.voc"))
    if len(msgs) != 1:
        fail(f"expected one recorded message, found {msgs}")
    else:
        with open(msgs[0], "rb") as f:
            alaw = f.read()
        seconds = len(alaw) / 8000
        want = t1 - t0
        print(f"recorded {seconds:.2f} s for {want:.2f} s between the record trace and '#'")
        if abs(seconds - want) > 0.6:
            fail(f"recording lasts {seconds:.2f} s, the caller spoke {want:.2f} s")
        pcm = audioop.alaw2lin(alaw, 2)
        share = tone_share(pcm[len(pcm) // 4: len(pcm) * 3 // 4], 700)
        print(f"700 Hz share of the recording: {share:.2f}")
        if share < 0.5:
            fail(f"the recording does not hold the caller's tone (share {share:.2f})")

    dec = glob.glob(os.path.join(d1, "snd", "*-dec.wav"))
    if not dec:
        fail("baresip dumped no received audio")
    else:
        heard = wave_pcm(dec[0])
        for prompt in ("welcome.voc", "menu.voc", "bye.voc"):
            with open(os.path.join(samples, "voice", prompt), "rb") as f:
                ref = audioop.alaw2lin(f.read(), 2)
            # A prompt's silent tail (bye.voc ends in 0.1 s of it) is not
            # looked for: the call may end there.
            while len(ref) > 320 and audioop.rms(ref[-320:], 2) < 50:
                ref = ref[:-320]
            c = correlation(heard, ref)
            print(f"caller heard {prompt}: correlation {c:.3f}")
            if c < 0.9:
                fail(f"the caller did not hear {prompt} (correlation {c:.3f})")

    # 2. A caller who hangs up during the welcome: BYE is the hang-up, the
    # channel is reset and free again.
    before = trace().count("通道0复位")
    d2, cons2, p2 = baresip("bob", 1, caller_wav)
    waitfor("bob从通道0打进8888", 10)
    end = time.monotonic() + 8
    while time.monotonic() < end and trace().count("通道0复位") <= before:
        time.sleep(0.05)
    if trace().count("通道0复位") <= before:
        fail("the caller's BYE did not reset channel 0")

    # 3. A second, independent peer: linphonec, its key sent as SIP INFO
    # (use_info), then its own hang-up.
    if shutil.which("linphonec"):
        d3 = os.path.join(work, "linphone")
        os.makedirs(d3)
        lport = free_udp_port()
        with open(os.path.join(d3, "rc"), "w") as f:
            f.write(f"[sip]\nsip_port={lport}\nguess_hostname=0\nuse_info=1\n"
                    f"[rtp]\naudio_rtp_port={free_udp_port()}\n")
        lout = open(os.path.join(d3, "linphonec.log"), "wb")
        lp = subprocess.Popen(["linphonec", "-c", os.path.join(d3, "rc")], cwd=d3, stdin=subprocess.PIPE,
                              stdout=lout, stderr=subprocess.STDOUT, env=dict(os.environ, HOME=d3))
        peers.append(lp)

        def say(line):
            lp.stdin.write((line + "\n").encode())
            lp.stdin.flush()

        time.sleep(0.5)
        say(f"ports sip {lport}")
        time.sleep(0.3)
        resets_before = trace().count("复位")
        say(f"call sip:8888@127.0.0.1:{sip_port}")
        if waitfor("linphone从通道0打进8888", 10):
            waitfor("通道0=>(1)PlayVoc正常结束", 5)
            waitfor("通道0=>(2)Digit 输入等待5秒，重复2次")
            # linphonec acts on its console when it gets to it: on a loaded
            # machine (a sanitizer build) the key is given again, within the
            # block's own repeats.
            end = time.monotonic() + 14
            next_key = 0.0
            while time.monotonic() < end and "通道0=>(2)Digit 用户按键2" not in trace():
                if time.monotonic() >= next_key:
                    say("2")
                    next_key = time.monotonic() + 4
                time.sleep(0.05)
            waitfor("通道0=>(2)Digit 用户按键2", 0.1)
            waitfor("通道0=>(5)RecFile .\\voice\\msg", 10)
            time.sleep(1)
            say("terminate")
            # A loaded machine can leave linphonec's console slow to act on
            # the command: it is given once more, and ten seconds in all.
            end = time.monotonic() + 10
            again = time.monotonic() + 4
            while time.monotonic() < end and trace().count("复位") <= resets_before:
                if again and time.monotonic() > again:
                    say("terminate")
                    again = None
                time.sleep(0.05)
            if trace().count("复位") <= resets_before:
                fail("linphonec's hang-up did not reset the channel")
        say("quit")
        try:
            lp.wait(timeout=5)
        except subprocess.TimeoutExpired:
            lp.kill()
    else:
        print("linphonec not installed (package linphone-cli): second peer not run")

    if rt.poll() is not None:
        fail(f"olvaro exited with {rt.returncode}")
finally:
    ol.stop(peers)

fails.finish(work, trace())
