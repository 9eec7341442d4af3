#!/usr/bin/env python3
"""SIP access through a real SIP server, on loopback only: kamailio
(kamailio_test.cfg) is the registrar and proxy, as a provider's server or
a trunk would be.

1. olvaro --headless registers its account "ivr" with a wrong password:
   the trace says the registration failed and which keys to check.
2. With the right password: registered (digest), renewed before the 5 s the
   server grants run out, and a call baresip places to the server for the
   IVR's number 8888 reaches the flow through the server (delivered to the
   registered contact, the number in To), walks it with keys and a
   recorded message, and is hung up by the flow. On stop olvaro
   unregisters (Expires 0).
3. Dialling out (CTICallOut) through the server: the CTI library loaded
   here by ctypes registers the same account, seizes a channel and dials
   "bob", a baresip registered at the server, which answers and hears the
   prompt played to it; the library hangs up (BYE). A second call bob
   hangs up himself (5), and a number nobody holds is refused (5).

  sip_server_test.py OLVARO SAMPLE_CPL SAMPLES_DIR LIBHARDWARE
Exits 77 (skipped) when kamailio, baresip or sox is not installed.
"""
import audioop  # noqa: deprecated in 3.11, still the quickest C correlation here
import ctypes
import glob
import os
import re
import shutil
import signal
import subprocess
import sys
import tempfile
import time
from sip_helpers import free_udp_port, key, wave_pcm, correlation, require_tools, prepare_run, sample_sip_ini

olvaro, cpl, samples, libhw = (os.path.abspath(a) for a in sys.argv[1:5])
here = os.path.dirname(os.path.abspath(__file__))
require_tools("kamailio", "baresip", "sox")

PASSWORD = "olvaro-secret"  # as in kamailio_test.cfg
work = tempfile.mkdtemp(prefix="sip_server_")
fails = []
procs = []


def fail(msg):
    print("FAIL:", msg)
    fails.append(msg)


def read(path):
    try:
        with open(path, encoding="utf-8", errors="replace") as f:
            return f.read()
    except FileNotFoundError:
        return ""


def wait_until(cond, timeout, what):
    end = time.monotonic() + timeout
    while time.monotonic() < end:
        if cond():
            return True
        time.sleep(0.02)
    if cond():
        return True
    fail(f"{what} within {timeout} s")
    return False


def stop(p, sig=signal.SIGTERM, timeout=5):
    if p.poll() is None:
        p.send_signal(sig)
        try:
            p.wait(timeout=timeout)
        except subprocess.TimeoutExpired:
            p.kill()
            p.wait()
            return False
    return True


# The server.
kport = free_udp_port()
kdir = os.path.join(work, "kamailio")
os.makedirs(kdir)
klog_path = os.path.join(kdir, "kamailio.log")
klog = open(klog_path, "wb")
kam = subprocess.Popen(["kamailio", "-DD", "-E", "-f", os.path.join(here, "kamailio_test.cfg"),
                        "-l", f"udp:127.0.0.1:{kport}", "-Y", kdir, "-P",
                        os.path.join(kdir, "kamailio.pid"), "-m", "32", "-M", "4"],
                       stdout=klog, stderr=subprocess.STDOUT, stdin=subprocess.DEVNULL)
procs.append(kam)


def klines(pattern):
    return [l for l in read(klog_path).splitlines() if "olvaro-test:" in l and re.search(pattern, l)]


registrar = f"sip:127.0.0.1:{kport}"


def sip_section(port, password, channels=2):
    return (f"[SIP]\naddress=127.0.0.1\nport={port}\nchannels={channels}\ncodecs=PCMA,PCMU\n"
            f"quiettimeout=60\nregistrar={registrar}\nuser=ivr\npassword={password}\n"
            "realm=olvaro.test\nexpiry=60\nextensions=\n")


# The runtime's folder: the sample configuration with the server's account.
run = os.path.join(work, "run")
prepare_run(run, samples, cpl=cpl)
head, rest = sample_sip_ini(samples).split("\n[SIP]\n", 1)
tail = rest[rest.index("[net]"):]


def start_olvaro(name, password):
    port = free_udp_port()
    with open(os.path.join(run, "sysconfig.ini"), "w", encoding="utf-8") as f:
        f.write(head + sip_section(port, password) + tail)
    path = os.path.join(work, name + ".log")
    out = open(path, "wb")
    p = subprocess.Popen([olvaro, "--headless"], cwd=run, stdout=out, stderr=subprocess.STDOUT,
                         stdin=subprocess.DEVNULL)
    procs.append(p)
    return p, path


def baresip(name, account, audio, extra=()):
    d = os.path.join(work, name)
    os.makedirs(os.path.join(d, "snd"))
    own, cons = free_udp_port(), free_udp_port()
    with open(os.path.join(d, "config"), "w") as f:
        f.write(f"sip_listen 127.0.0.1:{own}\nnet_interface 127.0.0.1\n"
                "module_path /usr/lib/baresip/modules\n"
                + "".join(f"module {m}.so\n" for m in
                          ("stdio", "g711", "aufile", "sndfile", "account", "menu", "cons"))
                + f"audio_source aufile,{audio}\naudio_player aufile,{d}/played.wav\n"
                f"snd_path {d}/snd\ncons_listen 127.0.0.1:{cons}\n")
    with open(os.path.join(d, "accounts"), "w") as f:
        f.write(account + "\n")
    log_path = os.path.join(d, "baresip.log")
    p = subprocess.Popen(["baresip", "-f", d, *extra], stdin=subprocess.DEVNULL,
                         stdout=open(log_path, "wb"), stderr=subprocess.STDOUT)
    procs.append(p)
    return d, cons, p, log_path


def dial_out(renewals):
    """3. Dialling out through the server, by the CTI library itself."""
    bob_wav = os.path.join(work, "bob.wav")
    subprocess.run(["sox", "-n", "-r", "8000", "-c", "1", "-b", "16", bob_wav,
                    "synth", "30", "sine", "500", "vol", "0.3"], check=True)
    d2, cons2, p2, b2 = baresip(
        "bob", f"<sip:bob@127.0.0.1:{kport}>;auth_pass={PASSWORD};regint=60;"
        "answermode=auto;audio_codecs=PCMA", bob_wav)
    wait_until(lambda: klines(r"saved bob "), 8, "bob did not register at the server")

    dial = os.path.join(work, "dial")
    os.makedirs(dial)
    with open(os.path.join(dial, "sysconfig.ini"), "w", encoding="utf-8") as f:
        f.write("[System]\ncallintype=2\n" + sip_section(free_udp_port(), PASSWORD, channels=1))
    os.chdir(dial)
    hw = ctypes.CDLL(libhw)
    hw.CTICallOut.argtypes = [ctypes.c_int, ctypes.c_char_p]
    hw.CTIPlayFile.argtypes = [ctypes.c_int, ctypes.c_char_p, ctypes.c_int]
    a, b = ctypes.c_int(), ctypes.c_int()
    if hw.InitQam(ctypes.byref(a), ctypes.byref(b)) != 1:
        fail("the CTI library did not start one SIP channel")
        return
    wait_until(lambda: len(klines(r"saved ivr ")) > renewals, 5,
               "the library did not register")

    def status():
        return hw.CTIGetOutLineStatus(0, 2)

    def call(number):
        if hw.CTISetOutOffHook(0) != 0:
            fail("CTISetOutOffHook did not seize the channel")
        if status() != 2:
            fail(f"a seized channel reads {status()}, not 2")
        time.sleep(1.0)  # as the window dials: off-hook, a second, then the number
        return hw.CTICallOut(0, number.encode())

    # 3a. Answered; the prompt heard; the library hangs up.
    if call("bob") != 0:
        fail("CTICallOut refused to dial bob")
    seen = set()
    wait_until(lambda: seen.add(status()) or "Call established" in read(b2), 8,
               "bob did not answer the library's call")
    if seen - {2}:
        fail(f"while ringing the line read {sorted(seen)}, not only 2")
    if not klines(r"relayed INVITE to sip:bob"):
        fail("the call out did not go through the server")
    welcome = os.path.join(samples, "voice", "welcome.voc").encode()
    if hw.CTIPlayFile(0, welcome, 2) != 0:
        fail("the answered call out took no prompt")
    wait_until(lambda: hw.CTIGetPlayfinish(0, 2) == 0, 5, "the prompt did not end")
    time.sleep(0.3)
    hw.CTISetOutHook(0)
    if status() != 0:
        fail(f"after CTISetOutHook the line reads {status()}")
    wait_until(lambda: "terminated" in read(b2) or "closed" in read(b2), 5,
               "bob did not see the library's BYE")
    dec = glob.glob(os.path.join(d2, "snd", "*-dec.wav"))
    if not dec:
        fail("bob dumped no received audio")
    else:
        with open(os.path.join(samples, "voice", "welcome.voc"), "rb") as f:
            ref = audioop.alaw2lin(f.read(), 2)
        while len(ref) > 320 and audioop.rms(ref[-320:], 2) < 50:
            ref = ref[:-320]
        c = correlation(wave_pcm(dec[0]), ref)
        print(f"bob heard welcome.voc: correlation {c:.3f}")
        if c < 0.9:
            fail(f"bob did not hear the prompt (correlation {c:.3f})")

    # 3b. Bob hangs up himself: the line reads 5 until it is put on-hook.
    calls_before = read(b2).count("Call established")
    if call("bob") != 0:
        fail("CTICallOut refused to dial bob again")
    if wait_until(lambda: read(b2).count("Call established") > calls_before, 8,
                  "bob did not answer the second call"):
        time.sleep(0.5)
        key(cons2, "b")  # baresip's menu: hang up
        if wait_until(lambda: status() == 5, 5, "bob's hang-up did not read 5"):
            print("bob hung up: the line reads 5")
    hw.CTISetOutHook(0)

    # 3c. Nobody holds 7777: refused by the server, 5.
    if call("7777") != 0:
        fail("CTICallOut refused to dial 7777")
    wait_until(lambda: status() == 5, 5, "a refused call did not read 5")
    hw.CTISetOutHook(0)
    if call("12 34") != -1:
        fail("a number with a space was dialled")
    hw.CTISetOutHook(0)
    hw.HardwareShutdown()
    if not klines(r"REGISTER .* from sip:ivr@olvaro\.test .*expires=0"):
        fail("the library did not unregister on shutdown")


try:
    wait_until(lambda: "Listening on" in read(klog_path), 5, "kamailio did not start")
    caller_wav = os.path.join(work, "caller.wav")
    subprocess.run(["sox", "-n", "-r", "8000", "-c", "1", "-b", "16", caller_wav,
                    "synth", "25", "sine", "700", "vol", "0.5"], check=True)

    # 1. A wrong password: refused, and the trace says what to check.
    rt, rt_log = start_olvaro("olvaro-wrong", "not-the-password")
    aor = f"SIP registration of sip:ivr@olvaro.test at {registrar}"
    if wait_until(lambda: "failed: 403 Forbidden" in read(rt_log), 8,
                  "no failed registration in the trace"):
        line = next(l for l in read(rt_log).splitlines() if "failed: 403" in l)
        print("trace:", line)
        want = (f"{aor} failed: 403 Forbidden; check [SIP] user, password and realm "
                "(the server asks for realm \"olvaro.test\")")
        if want not in line:
            fail(f"the failure reads {line!r}, not {want!r}")
    if not klines("wrong password for sip:ivr@olvaro.test"):
        fail("the server saw no wrong password")
    stop(rt)

    # 2. The right password: registered, renewed, a call through the server.
    rt, rt_log = start_olvaro("olvaro", PASSWORD)
    wait_until(lambda: f"{aor}: registered for 5 s" in read(rt_log), 8,
               "no successful registration in the trace")
    wait_until(lambda: klines(r"saved ivr "), 2, "the server saved no contact for ivr")
    t0 = time.monotonic()
    saved = len(klines(r"saved ivr "))
    # The server grants 5 s: the renewal comes before they run out.
    if wait_until(lambda: len(klines(r"saved ivr ")) > saved, 5.5,
                  "the registration was not renewed before it ran out"):
        print(f"registration renewed after {time.monotonic() - t0:.1f} s of the 5 s granted")

    d1, cons1, p1, b1 = baresip(
        "alice", f"<sip:alice@127.0.0.1:{free_udp_port()}>;regint=0;audio_codecs=PCMA",
        caller_wav, ("-e", f"/dial sip:8888@127.0.0.1:{kport}", "-t", "40"))
    if wait_until(lambda: "alice从通道0打进8888" in read(rt_log), 10,
                  "the call through the server did not reach the flow as 8888"):
        relayed = klines(r"relayed INVITE to sip:ivr@127\.0\.0\.1:")
        if not relayed:
            fail("the server did not deliver the call to the registered contact")
        else:
            print("server:", relayed[0].split("olvaro-test: ")[1])
        wait_until(lambda: "通道0=>(1)PlayVoc正常结束" in read(rt_log), 6, "the welcome did not end")
        wait_until(lambda: "通道0=>(2)Digit 输入等待5秒，重复2次" in read(rt_log), 3,
                   "the menu did not wait for a key")
        time.sleep(1.0)
        key(cons1, "2")
        wait_until(lambda: "通道0=>(2)Digit 用户按键2" in read(rt_log), 5, "key 2 was not taken")
        wait_until(lambda: "通道0=>(5)RecFile .\\voice\\msg" in read(rt_log), 5,
                   "the message was not recorded")
        time.sleep(2.0)
        key(cons1, "#")
        wait_until(lambda: "通道0=>(5)RecFile 按键中止" in read(rt_log), 5, "'#' did not end it")
        wait_until(lambda: "通道0复位" in read(rt_log), 8, "the flow did not end the call")
        wait_until(lambda: "terminated" in read(b1), 5,
                   "alice did not see the runtime's BYE through the server")
        msgs = glob.glob(os.path.join(run, "voice", "msg*.voc"))
        if len(msgs) != 1 or not (1.5 * 8000 < os.path.getsize(msgs[0]) < 3.5 * 8000):
            fail(f"expected one message of about 2 s, found {[(m, os.path.getsize(m)) for m in msgs]}")
    stop(p1)
    renewals = len(klines(r"saved ivr "))
    print(f"{renewals} registrations of ivr saved by the server while the call ran")

    # On stop: Expires 0 to the server, and the trace says so.
    before = len(klines(r"REGISTER .* from sip:ivr@olvaro\.test .*expires=0"))
    if not stop(rt):
        fail("olvaro did not stop on SIGTERM")
    if len(klines(r"REGISTER .* from sip:ivr@olvaro\.test .*expires=0")) <= before:
        fail("olvaro did not unregister on stop")
    if f"{aor}: unregistered" not in read(rt_log):
        fail("the trace does not say the registration ended")

    # 3. A library built with a sanitizer cannot be loaded into python (its
    # runtime must come first); its dialling is tested in hardware_test.
    ldd = subprocess.run(["ldd", libhw], capture_output=True, text=True).stdout
    if "libasan" in ldd or "libtsan" in ldd:
        print("dialling out through the server not run: the CTI library is built with a sanitizer")
    else:
        dial_out(renewals)
    if kam.poll() is not None:
        fail(f"kamailio exited with {kam.returncode}")
finally:
    for p in reversed(procs):
        stop(p, signal.SIGINT if p is kam else signal.SIGTERM)
    klog.close()

if fails:
    print("---- kamailio ----")
    print("\n".join(l for l in read(klog_path).splitlines() if "olvaro-test:" in l)[-4000:])
    print(f"sip server e2e: {len(fails)} failure(s); work folder {work}")
    sys.exit(1)
shutil.rmtree(work, ignore_errors=True)
print("sip server e2e: passed")
