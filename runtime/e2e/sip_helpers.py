"""Helpers the SIP end-to-end tests share: free loopback ports, keys sent
to a baresip console, and what a caller heard (wave data, correlation with a
prompt, the share of a tone)."""
import audioop  # noqa: deprecated in 3.11, still the quickest C correlation here
import math
import socket


def free_udp_port():
    s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    s.bind(("127.0.0.1", 0))
    p = s.getsockname()[1]
    s.close()
    return p


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
