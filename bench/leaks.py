"""Leak check: a million calls of each of a representative set of callables
(those that return, and those that raise) leave the resident memory flat
after a warm-up.  Exits with status 1 when one grows by 1 MB or more.

A one-frame DVB-T decode takes over a millisecond, so it gets 20 000 calls
(half a minute): a leak of even one payload per call still shows as tens of
megabytes.  Everything else gets the million.

With --quick it makes 10 000 calls of each (100 of the DVB-T decode), to see
that it works."""

import contextlib
import gc
import os
import sys

import numpy as np

import vatel_sdr as v
from _timing import size

CALLS = size(1_000_000, 10_000)
WARMUP = size(20_000, 1_000)
DVB_T_DECODES = size(20_000, 100)
LIMIT_BYTES = 1 << 20
PAGE = os.sysconf("SC_PAGE_SIZE")


def resident_bytes():
    with open("/proc/self/statm") as f:
        return int(f.read().split()[1]) * PAGE


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


def main():
    print(f"{'callable':45} {'calls':>9} {'growth after warm-up':>22}")
    worst = 0
    for name, fn, *fewer in cases():
        calls = fewer[0] if fewer else CALLS
        with quiet_stderr():
            for _ in range(min(WARMUP, calls // 10)):
                fn()
            gc.collect()
            before = resident_bytes()
            for _ in range(calls):
                fn()
            gc.collect()
            growth = resident_bytes() - before
        worst = max(worst, growth)
        verdict = "ok" if growth < LIMIT_BYTES else "LEAK"
        print(f"{name:45} {calls:9d} {growth / 1024:18.0f} KiB  {verdict}")
    return 0 if worst < LIMIT_BYTES else 1


if __name__ == "__main__":
    sys.exit(main())
