"""Leak check: a million calls of each of a representative set of callables
(those that return, and those that raise) leave the memory flat after a
warm-up.  Three measures, each with its own limit:

- the bytes the C allocator has handed out and not had back (glibc's
  mallinfo2: the heap in use plus its mapped chunks), which every C++ and
  NumPy allocation goes through.  It is exact to the byte and flat at 0 in
  the steady state, so the limit is tight: under 16 bytes a call (a leak of
  even the smallest block each call is 32) and never over 4 KiB;
- the interpreter's count of allocated object blocks (sys.getallocatedblocks),
  for a reference kept too many: under one for every four calls, and never
  over 64;

each measured over both halves of the calls and judged on the smaller
growth, so that a cache filled once in one half is not taken for a leak;
- the anonymous resident memory, page-grained, under 1 MB: what escapes the
  two above.

Exits with status 1 when a case goes over any limit.  A one-frame DVB-T
decode takes over a millisecond, so it gets 20 000 calls (half a minute);
everything else gets the million.  With --quick it makes 10 000 calls of each
(100 of the DVB-T decode), and the same limits hold: a leak of one small
block per call fails a quick run too."""

import contextlib
import ctypes
import gc
import os
import sys

import numpy as np

import vatel_sdr as v
from _timing import size

CALLS = size(1_000_000, 10_000)
WARMUP = size(20_000, 1_000)
DVB_T_DECODES = size(20_000, 100)
LIMIT_BYTES = 1 << 20  # resident memory
HEAP_BYTES_PER_CALL = 16
HEAP_LIMIT_BYTES = 4096
BLOCKS_PER_CALL = 0.25
BLOCKS_LIMIT = 64


def resident_bytes():
    """The process's anonymous resident memory.  File-backed pages (the code
    of the libraries) are left out: the page cache evicts and faults them back
    as the machine's other work needs, which no call of ours decides."""
    with open("/proc/self/status") as f:
        for line in f:
            if line.startswith("RssAnon:"):
                return int(line.split()[1]) * 1024
    raise RuntimeError("no RssAnon in /proc/self/status")


class _MallInfo2(ctypes.Structure):
    _fields_ = [(name, ctypes.c_size_t) for name in (
        "arena", "ordblks", "smblks", "hblks", "hblkhd", "usmblks", "fsmblks", "uordblks", "fordblks", "keepcost")]


def _heap_reader():
    try:
        mallinfo2 = ctypes.CDLL(None).mallinfo2
    except AttributeError:  # not glibc 2.33 or later
        return None
    mallinfo2.restype = _MallInfo2
    mallinfo2.argtypes = []

    def heap_bytes():
        m = mallinfo2()
        return m.uordblks + m.hblkhd
    return heap_bytes


heap_bytes = _heap_reader()


@contextlib.contextmanager
def quiet_stderr():
    """Panic reports go to standard error, one per call: keep them out of the log."""
    sys.stderr.flush()
    saved = os.dup(2)
    devnull = os.open(os.devnull, os.O_WRONLY)
    os.dup2(devnull, 2)
    try:
        yield
    finally:
        os.dup2(saved, 2)
        os.close(saved)
        os.close(devnull)


def raises(fn, *errors):
    def call():
        try:
            fn()
        except errors:
            pass
        else:
            raise AssertionError("expected an error")
    return call


def panics(fn):
    def call():
        try:
            fn()
        except BaseException as e:  # PanicException is not a module attribute
            if type(e).__name__ != "PanicException":
                raise
        else:
            raise AssertionError("expected PanicException")
    return call


def cycling(fn, x, piece):
    """fn on the next `piece` samples of x at each call, from the start again
    after the end: the stream goes on for as many calls as are made."""
    pieces = [x[at:at + piece] for at in range(0, x.size, piece)]
    state = {"next": 0}

    def call():
        k = state["next"]
        state["next"] = (k + 1) % len(pieces)
        return fn(pieces[k])
    return call


def complex_noise(rng, n, sigma):
    return (rng.normal(0, sigma, n) + 1j * rng.normal(0, sigma, n)).astype(np.complex64)


def frame_link_cases(rng):
    """The COFDM frame link's receivers: the stream on noise and on bursts
    with noise gaps, and the one-frame decoder on a short frame."""
    cfg = v.OfdmConfig(64, 16, np.zeros(0, np.int32), np.array([-21, -7, 7, 21], np.int32),
                       np.array([1, 1, 1, -1], np.complex64), 1e6, 0.0, 1.0, "qpsk", 5)
    table = v.McsTable.default_ladder()
    mod = v.OfdmFrameMod(cfg, table)
    parts = []
    for k in range(8):
        burst = mod.modulate_frame(v.FramePacket(rng.integers(0, 256, 64, dtype=np.uint8), k, k % 4, 0))
        parts += [np.zeros(burst.size, np.complex64), burst]
    bursts = np.concatenate(parts)
    bursts = (bursts + complex_noise(rng, bursts.size, 0.007)).astype(np.complex64)
    # The bursts must be received, or the case would only measure the search.
    received = v.OfdmFrameStreamDemod(cfg, table).feed(bursts)
    assert len(received) == 8, len(received)
    on_noise = v.OfdmFrameStreamDemod(cfg, table)
    on_bursts = v.OfdmFrameStreamDemod(cfg, table)
    short = mod.modulate_frame(v.FramePacket(rng.integers(0, 256, 16, dtype=np.uint8), 1, 1, 0))
    body = (short[144:] + complex_noise(rng, short.size - 144, 0.003)).astype(np.complex64)
    demod = v.OfdmFrameDemod(cfg, table)
    assert demod.decode(body).sequence_num == 1
    return [
        ("OfdmFrameStreamDemod.feed (noise)", cycling(on_noise.feed, complex_noise(rng, 1 << 16, 0.01), 1024)),
        ("OfdmFrameStreamDemod.feed (bursts)", cycling(on_bursts.feed, bursts, 1024)),
        ("OfdmFrameDemod.decode", lambda: demod.decode(body)),
    ]


def dvb_t_cases(rng):
    """The DVB-T receivers: the stream on noise in small pieces (each call
    costs little, a search runs once a frame's worth is buffered), and the
    one-frame decoder on a frame of ten packets."""
    params = v.DvbTFrameParams("1/32", "qpsk", "1/2")
    payload = rng.integers(0, 256, 10 * 187, dtype=np.uint8)
    frame = v.DvbTFrameMod(params).modulate(payload)
    one = np.concatenate([frame.iq, np.zeros(2112, np.complex64)])
    one = (one + complex_noise(rng, one.size, 1.4e-4)).astype(np.complex64)
    demod = v.DvbTFrameDemod(params)
    assert demod.decode(one, frame.n_symbols, payload.size).payload == payload.tobytes()
    stream = v.DvbTFrameStreamDemod(params, frame.n_symbols, payload.size)
    return [
        ("DvbTFrameStreamDemod.feed (noise)", cycling(stream.feed, complex_noise(rng, 1 << 16, 0.01), 256)),
        ("DvbTFrameDemod.decode", lambda: demod.decode(one, frame.n_symbols, payload.size), DVB_T_DECODES),
    ]


def cases():
    rng = np.random.default_rng(17)
    bits = rng.integers(0, 2, 64, dtype=np.uint8)
    noise = (rng.normal(size=64) + 1j * rng.normal(size=64)).astype(np.complex64)
    cfg = v.OfdmConfig(64, 16, np.zeros(0, np.int32), np.array([-21, -7, 7, 21], np.int32),
                       np.ones(4, np.complex64), 48000.0, 0.0, 1.0, "qpsk", 4)
    ofdm = v.OfdmMod(cfg)
    ofdm_bits = rng.integers(0, 2, cfg.bits_per_ofdm_symbol, dtype=np.uint8)
    payload = v.ft8_pack_standard("CQ", "K1ABC", "FN42")
    tones = v.Ft8Codec.encode(payload)
    bpsk = v.BpskMod(48000.0, 1000.0, 1.0)
    qpsk = v.QpskDemod(1.0)
    stream = v.Psk31Stream("bpsk", 8000.0, 1000.0)
    qstream = v.Psk31Stream("qpsk", 8000.0, 1000.0)
    varicode = v.VaricodeDecoder()
    broken_demod = v.Bpsk31Demod(1.0, 0.0, 1.0)  # fs 1 Hz: no samples per symbol
    one = noise[:1]
    return [
        ("BpskMod.process", lambda: bpsk.process(bits)),
        ("QpskDemod.process", lambda: qpsk.process(noise)),
        ("OfdmConfig.with_inner_fec", lambda: cfg.with_inner_fec("ldpc", "n512r12")),
        ("OfdmConfig.with_tx_lowpass", lambda: cfg.with_tx_lowpass(31)),
        ("OfdmMod.modulate", lambda: ofdm.modulate(ofdm_bits)),
        ("generate_ofdm_preamble", lambda: v.generate_ofdm_preamble(cfg, 2, 32)),
        ("Ft8Codec.encode", lambda: v.Ft8Codec.encode(payload)),
        ("Ft8Codec.decode_hard", lambda: v.Ft8Codec.decode_hard(tones)),
        ("ft8_unpack", lambda: v.ft8_unpack(payload)),
        ("Psk31Stream.feed (BPSK31, noise)", lambda: stream.feed(noise)),
        ("Psk31Stream.feed (QPSK31, noise)", lambda: qstream.feed(noise)),
        ("VaricodeDecoder.push_bits+pop_bytes", lambda: (varicode.push_bits(bits), varicode.pop_bytes())),
        ("BpskMod.process(list): TypeError", raises(lambda: bpsk.process([1, 0]), TypeError)),
        ("QamMod(3, ...): ValueError", raises(lambda: v.QamMod(3, 48000.0, 0.0, 1.0), ValueError)),
        ("push_byte(256): OverflowError", raises(lambda: v.VaricodeEncoder().push_byte(256), OverflowError)),
        ("Bpsk31Demod(fs 1).process: PanicException", panics(lambda: broken_demod.process(one))),
    ] + frame_link_cases(rng) + dvb_t_cases(rng)


def measures():
    """(heap bytes, object blocks) now, after a collection."""
    gc.collect()
    return heap_bytes() if heap_bytes else 0, sys.getallocatedblocks()


def main():
    if heap_bytes is None:
        print("(the C library has no mallinfo2: the heap is not measured)")
    print(f"{'callable':45} {'calls':>9} {'heap bytes':>19} {'objects':>13} {'resident KiB':>13}")
    print(f"{'':55} {'growth after the warm-up, first half / second half':>52}")
    leaks = 0
    for name, fn, *fewer in cases():
        calls = fewer[0] if fewer else CALLS
        # A leak grows in both halves of the calls; the interpreter filling a
        # cache once (a 4 KiB table, seen about one run in forty) in one.
        halves = (calls // 2, calls - calls // 2)
        heap_limit = min(HEAP_LIMIT_BYTES, HEAP_BYTES_PER_CALL * halves[0])
        blocks_limit = min(BLOCKS_LIMIT, int(BLOCKS_PER_CALL * halves[0]))
        with quiet_stderr():
            for _ in range(min(WARMUP, calls // 10)):
                fn()
            rss = resident_bytes()
            points = [measures()]
            for half in halves:
                for _ in range(half):
                    fn()
                points.append(measures())
            rss = resident_bytes() - rss
        heap = [b[0] - a[0] for a, b in zip(points, points[1:])]
        blocks = [b[1] - a[1] for a, b in zip(points, points[1:])]
        over = [what for what, grown, limit in (("heap", min(heap), heap_limit), ("objects", min(blocks), blocks_limit),
                                                ("resident", rss, LIMIT_BYTES - 1)) if grown > limit]
        leaks += bool(over)
        verdict = "LEAK (" + ", ".join(over) + ")" if over else "ok"
        print(f"{name:45} {calls:9d} {heap[0]:9d} / {heap[1]:<7d} {blocks[0]:6d} / {blocks[1]:<4d} {rss / 1024:13.0f}  "
              f"{verdict}")
    print(f"limits in each half: heap {HEAP_BYTES_PER_CALL} bytes a call, at most {HEAP_LIMIT_BYTES}; objects one for "
          f"every {1 / BLOCKS_PER_CALL:.0f} calls, at most {BLOCKS_LIMIT}; in all: resident memory under "
          f"{LIMIT_BYTES >> 10} KiB")
    return 1 if leaks else 0


if __name__ == "__main__":
    sys.exit(main())
