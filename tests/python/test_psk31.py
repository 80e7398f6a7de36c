import ctypes
import ctypes.util
import subprocess
import sys
import textwrap

import numpy as np
import pytest
from conftest import RefRotator, fma32, under_asan
from hypothesis import given, settings
from hypothesis import strategies as st

import vatel_sdr as v
from conftest import raises_panic

_libm = ctypes.CDLL(ctypes.util.find_library("m"))
_libm.cosf.argtypes = [ctypes.c_float]
_libm.cosf.restype = ctypes.c_float
F = np.float32
ROTATIONS = [1 + 0j, -1j, 1j, -1 + 0j]
MODS = {"bpsk": v.Bpsk31Mod, "qpsk": v.Qpsk31Mod}


def ramp(n):
    if n == 1:
        return np.ones(1, F)
    return np.array([F(0.5) - F(0.5) * F(_libm.cosf(float(F(i) * F(3.1415927) / F(n - 1)))) for i in range(n)], F)


def ref_baseband(points, sps, gain=1.0):
    """Symbols moving from point to point along the ramp, in float32."""
    w, g = ramp(sps), F(gain)
    out = []
    for p, q in zip(points[:-1], points[1:]):
        pr, pi, qr, qi = F(p.real), F(p.imag), F(q.real), F(q.imag)
        out.append(((w * (qr - pr) + pr) * g) + 1j * ((w * (qi - pi) + pi) * g))
    return np.concatenate(out).astype(np.complex64) if out else np.zeros(0, np.complex64)


def ref_mixed(x, rot):
    out = np.empty_like(x)
    for i, s in enumerate(x):
        pr, pi = rot.next()
        re, im = F(s.real), F(s.imag)
        out[i] = complex(fma32(re, pr, -(im * pi))[()], fma32(im, pr, re * pi)[()])
    return out


def bpsk_points(bits, level=1.0):
    pts = [level]
    for b in bits:
        pts.append(-pts[-1] if b == 0 else pts[-1])
    return [complex(p) for p in pts]


def qpsk_points(bits):
    s, pts = 0, [1 + 0j]
    for x in bits:
        c0 = (x ^ s ^ (s >> 2)) & 1
        c1 = (x ^ s ^ (s >> 1)) & 1
        s = (s >> 1) | ((x & 1) << 3)
        pts.append(ROTATIONS[2 * c0 + c1] * pts[-1])
    return pts


def awgn(x, sigma, rng):
    n = rng.normal(0, sigma, (len(x), 2)).astype(F)
    return (x + n[:, 0] + 1j * n[:, 1]).astype(np.complex64)


# --- Varicode ---------------------------------------------------------------

def test_encoder_separators_and_drain():
    e = v.VaricodeEncoder()
    assert e.is_empty() and e.drain_bits().dtype == np.uint8 and len(e.drain_bits()) == 0
    e.push_byte(0x41)
    assert not e.is_empty()
    assert e.drain_bits().tolist() == [1, 1, 1, 1, 1, 0, 1]
    e.push_byte(0x41)
    assert e.drain_bits().tolist() == [0, 0, 1, 1, 1, 1, 1, 0, 1]
    e.push_preamble(0)
    e.push_byte(0x20)
    e.push_postamble(2)
    assert e.drain_bits().tolist() == [1, 0, 0, 1, 1]
    assert e.is_empty()


def test_every_byte_round_trips_and_postamble_stays_silent():
    e = v.VaricodeEncoder()
    for b in range(128):
        e.push_byte(b)
    e.push_postamble(32)
    bits = np.concatenate([e.drain_bits(), np.zeros(2, np.uint8)])
    d = v.VaricodeDecoder()
    d.push_bits(bits[:1000])
    d.push_bits(bits[1000:])
    assert d.pop_bytes() == bytes(range(128))
    assert d.pop_bytes() == b""


@settings(max_examples=200, deadline=None)
@given(st.lists(st.tuples(st.integers(0, 255), st.integers(0, 9)), max_size=40))
def test_any_text_with_any_pauses_round_trips(chars):
    # Each character may be closed and followed by a pause of idle zeros.
    e = v.VaricodeEncoder()
    e.push_preamble(3)
    for b, pause in chars:
        e.push_byte(b)
        if pause:
            e.push_postamble(0)
            e.push_preamble(pause)
    e.push_postamble(32)  # more ones than any code: never a character
    d = v.VaricodeDecoder()
    d.push_bits(np.concatenate([e.drain_bits(), np.zeros(2, np.uint8)]))
    assert d.pop_bytes() == bytes(b if b < 128 else 0 for b, _ in chars)


def test_high_bytes_travel_as_nul():
    e = v.VaricodeEncoder()
    e.push_byte(200)
    e.push_postamble(0)
    bits = e.drain_bits()
    assert bits.tolist()[:10] == [1, 0, 1, 0, 1, 0, 1, 0, 1, 1]
    d = v.VaricodeDecoder()
    d.push_bits(bits)
    assert d.pop_bytes() == b"\x00"


@pytest.mark.parametrize("bits, text", [
    ([1, 0, 0], b" "),
    ([1, 1, 0, 0], b"e"),
    ([0, 0], b""),
    ([1, 0], b""),
    # An odd idle run before a character no longer swallows it.
    ([1, 0, 0, 0, 1, 1, 0, 0], b" e"),
    ([1, 0, 0, 0, 0, 1, 1, 0, 0], b" e"),
    ([0, 0, 0, 0, 0, 1, 0, 1, 0, 0], b"t"),
])
def test_decoder_sequences(bits, text):
    d = v.VaricodeDecoder()
    d.push_bits(np.array(bits, np.uint8))
    assert d.pop_bytes() == text


def test_varicode_argument_errors_leave_state():
    e = v.VaricodeEncoder()
    with pytest.raises(OverflowError) as err:
        e.push_byte(256)
    assert str(err.value) == "out of range integral type conversion attempted"
    with pytest.raises(OverflowError):
        e.push_preamble(-1)
    assert e.is_empty()
    d = v.VaricodeDecoder()
    with pytest.raises(TypeError) as err:
        d.push_bits(np.array([1, 0, 0, 1], np.uint8)[::2])
    assert "contiguous" in str(err.value)
    with pytest.raises(TypeError) as err:
        d.push_bits(np.array([1, 0, 0], np.int32))
    assert str(err.value).startswith("argument 'bits': ")


# Run in a child whose address space is limited, so that a count which fits
# in memory on a large machine (2^31 bits) is refused here as surely as one
# that never could (2^62), and one past what a vector can hold (2^63) or
# the largest count at all.  Under ASan an allocation that fails stops the
# process, so only the sizes refused before any allocation run there.
HUGE_COUNT_SCRIPT = textwrap.dedent("""
    import resource, sys
    import vatel_sdr as v
    sizes = [int(s) for s in sys.argv[1:]]
    if 1 << 31 in sizes:
        resource.setrlimit(resource.RLIMIT_AS, (1 << 30, 1 << 30))
    fresh = v.VaricodeEncoder()
    fresh.push_byte(ord("e"))
    expected = fresh.drain_bits().tolist()
    for n in sizes:
        e = v.VaricodeEncoder()
        calls = [("push_preamble", lambda: e.push_preamble(n)), ("push_postamble", lambda: e.push_postamble(n))]
        for cls in (v.Bpsk31Mod, v.Qpsk31Mod):
            m = cls(8000.0, 1000.0, 1.0)
            calls += [(cls.__name__ + " preamble", lambda m=m: m.modulate_text(b"CQ", n)),
                      (cls.__name__ + " postamble", lambda m=m: m.modulate_text(b"CQ", 0, n))]
        for name, call in calls:
            try:
                call()
            except MemoryError:
                pass
            else:
                sys.exit(f"{name}({n}) returned")
        # The refused counts left the encoder as it was.
        e.push_byte(ord("e"))
        assert e.drain_bits().tolist() == expected, n
    print("ok")
""")


def test_counts_too_large_to_allocate_raise_memory_error():
    sizes = [2**63, 2**64 - 1] if under_asan() else [1 << 31, 2**62, 2**63, 2**64 - 1]
    r = subprocess.run([sys.executable, "-c", HUGE_COUNT_SCRIPT] + [str(n) for n in sizes],
                       capture_output=True, text=True, timeout=60)
    assert r.returncode == 0 and r.stdout.strip() == "ok", r.stdout + r.stderr


# --- modulators -------------------------------------------------------------

@pytest.mark.parametrize("fs, sps", [(8000, 256), (48000, 1536), (44100, 1411), (11025, 353),
                                     (15.7, 1), (15.6, 0), (-8000, 0), (float("nan"), 0)])
def test_samples_per_symbol(fs, sps):
    bits = np.array([1, 0, 1], np.uint8)
    assert len(v.Bpsk31Mod(fs, 0, 1).modulate_bits(bits)) == 3 * sps
    assert len(v.Qpsk31Mod(fs, 0, 1).modulate_bits(bits)) == 3 * sps


def test_absurd_sample_rates_are_refused():
    for cls in (v.Bpsk31Mod, v.Qpsk31Mod, v.Bpsk31Demod, v.Qpsk31Demod):
        raises_panic(lambda: cls(1e12, 0, 1))
    raises_panic(lambda: v.Psk31Stream("bpsk", float("inf"), 0))


def test_bpsk31_first_symbols():
    m = v.Bpsk31Mod(8000, 0, 1)
    w = ramp(256)
    first = m.modulate_bits(np.array([0], np.uint8))
    assert first.dtype == np.complex64
    assert np.array_equal(first.real, (w * F(-2) + F(1)) * F(1)) and not first.imag.any()
    assert first[0] == 1 and first[-1] == -1
    assert m.modulate_bits(np.array([1], np.uint8)).tolist() == [-1 + 0j] * 256
    assert len(m.modulate_bits(np.zeros(0, np.uint8))) == 0
    # A 2 counts as a 1: no reversal.
    assert m.modulate_bits(np.array([2], np.uint8)).tolist() == [-1 + 0j] * 256


def test_qpsk31_points_follow_the_code():
    bits = [1, 0, 0, 0, 0]
    pts = qpsk_points(bits)
    assert pts[1:] == [-1, -1, -1j, -1, 1]
    m = v.Qpsk31Mod(8000, 0, 0.5)
    out = m.modulate_bits(np.array(bits, np.uint8))
    assert np.array_equal(out, ref_baseband(pts, 256, 0.5))
    # A 2 counts as a 0 here: the same as a fresh [0] after reset.
    m.reset()
    a = m.modulate_bits(np.array([2, 2], np.uint8))
    m.reset()
    assert np.array_equal(a, m.modulate_bits(np.array([0, 0], np.uint8)))
    assert np.all(a == 0.5)


@pytest.mark.parametrize("cls, points", [(v.Bpsk31Mod, bpsk_points), (v.Qpsk31Mod, qpsk_points)])
def test_pieces_equal_one_call_with_a_running_carrier(cls, points, rng):
    fs, rf, gain, sps = 1000.0, 137.0, 0.8, 32
    bits = rng.integers(0, 2, 70, dtype=np.uint8)  # 2240 samples: past two renormalisations
    whole = cls(fs, rf, gain).modulate_bits(bits)
    m = cls(fs, rf, gain)
    pieces = np.concatenate([m.modulate_bits(p) for p in np.split(bits, [1, 5, 33, 34])])
    assert whole.view(np.uint64).tolist() == pieces.view(np.uint64).tolist()
    expect = ref_mixed(ref_baseband(points(bits.tolist()), sps, gain), RefRotator(rf, fs))
    assert whole.view(np.uint64).tolist() == expect.view(np.uint64).tolist()
    # reset restarts the differential state and the carrier.
    m.reset()
    assert np.array_equal(m.modulate_bits(bits), whole)


@settings(max_examples=60, deadline=None)
@given(st.lists(st.integers(0, 1), min_size=1, max_size=80), st.lists(st.integers(0, 80), max_size=6),
       st.sampled_from(["bpsk", "qpsk"]))
def test_any_split_of_a_message_gives_the_same_samples(bits, cuts, mode):
    bits = np.array(bits, np.uint8)
    cls = MODS[mode]
    whole = cls(500.0, 97.0, 1.0).modulate_bits(bits)
    m = cls(500.0, 97.0, 1.0)
    pieces = np.concatenate([m.modulate_bits(p) for p in np.split(bits, sorted(c % (len(bits) + 1) for c in cuts))])
    assert whole.tobytes() == pieces.tobytes()


def test_set_gain_and_text_layout():
    m = v.Bpsk31Mod(8000, 0, 1)
    assert len(m.modulate_text(b"")) == 64 * 256
    m.reset()
    out = m.modulate_text(b"e")
    assert len(out) == 68 * 256
    # Symbol ends carry the level: a zero bit flips it.
    levels = out.real[255::256]
    bits = [int(levels[0] == 1.0)] + [int(a == b) for a, b in zip(levels[:-1], levels[1:])]
    assert bits == [0] * 32 + [1, 1, 0, 0] + [1] * 32
    m.set_gain(2.0)
    assert np.max(np.abs(m.modulate_text(b"", preamble_bits=0, postamble_bits=1))) == 2.0
    assert v.Bpsk31Mod.modulate_text.__text_signature__ == "($self, text, preamble_bits=..., postamble_bits=...)"
    with pytest.raises(TypeError) as err:
        m.modulate_text("e")
    assert str(err.value).startswith("argument 'text': ")


# --- demodulators -----------------------------------------------------------

def test_bpsk31_round_trip_and_decider(rng):
    bits = rng.integers(0, 2, 200, dtype=np.uint8)
    iq = v.Bpsk31Mod(8000, 1500, 1).modulate_bits(bits)
    d = v.Bpsk31Demod(8000, 1500, 1)
    soft = d.process(iq)
    assert soft.dtype == np.float32 and len(soft) == 200
    assert np.allclose(soft, np.where(bits == 1, 1.0, -1.0), atol=1e-3)
    assert np.array_equal(v.Bpsk31Decider().process(soft), bits)
    base = v.Bpsk31Demod(8000, 0, 1).process(v.Bpsk31Mod(8000, 0, 1).modulate_bits(bits))
    assert np.allclose(soft, base, atol=1e-4)


@pytest.mark.parametrize("cls", [v.Bpsk31Demod, v.Qpsk31Demod])
def test_demodulator_pieces_equal_one_call(cls, rng):
    iq = awgn(v.Qpsk31Mod(1000, 200, 1).modulate_bits(rng.integers(0, 2, 40, dtype=np.uint8)), 0.3, rng)
    whole = cls(1000, 200, 1).process(iq)
    d = cls(1000, 200, 1)
    assert len(d.process(iq[:31])) == 0  # one sample short of a symbol
    parts = [d.process(iq[31:32])] + [d.process(iq[i:i + 7]) for i in range(32, len(iq), 7)]
    assert np.concatenate(parts).tobytes() == whole.tobytes()


def test_zero_input_decays_by_ninths():
    # Each symbol integrates -(1 - w) prev: the correlation shrinks by
    # r = sum(w (1 - w)) / sum(w^2), about 1/3, and the product of two
    # successive ones by r^2.
    soft = v.Bpsk31Demod(8000, 0, 1).process(np.zeros(4 * 256, np.complex64))
    w = ramp(256).astype(np.float64)
    r = np.sum(w * (1 - w)) / np.sum(w * w)
    assert abs(r - 1 / 3) < 0.005
    assert np.allclose(soft, [-r, -r**3, -r**5, -r**7], rtol=1e-4)


def test_decider_rule():
    got = v.Bpsk31Decider().process(np.array([0.0, -0.0, -1e-30, np.nan, 5.0], np.float32))
    assert got.dtype == np.uint8 and got.tolist() == [1, 1, 0, 0, 1]


def test_qpsk31_pairs_buffer_and_flush(rng):
    d = v.Qpsk31Demod(8000, 0, 1)
    # Each pair is the rotation from one symbol's point to the next.
    bits = rng.integers(0, 2, 300, dtype=np.uint8)
    iq = v.Qpsk31Mod(8000, 0, 1).modulate_bits(bits)
    pairs = np.concatenate([d.process(iq[:10000]), d.process(iq[10000:])]).reshape(-1, 2)
    pts = qpsk_points(bits.tolist())
    rot = [q / p for p, q in zip(pts[:-1], pts[1:])]
    assert np.allclose(pairs[:, 0] + 1j * pairs[:, 1], rot, atol=1e-3)
    out = d.flush()
    assert out.dtype == np.uint8 and np.array_equal(out, bits)
    assert len(d.flush()) == 0
    d.process(iq[:2560])
    d.reset()
    assert len(d.flush()) == 0


def test_zero_rate_demodulator_panics_on_samples():
    d = v.Bpsk31Demod(10, 0, 1)
    assert len(d.process(np.zeros(0, np.complex64))) == 0
    err = raises_panic(lambda: d.process(np.zeros(3, np.complex64)))
    assert "index out of bounds" in str(err)


# --- text stream ------------------------------------------------------------

# Lower-casing is Unicode's: the Kelvin sign lower-cases to k.
@pytest.mark.parametrize("mode", ["BPSK31", "bpsk", "Qpsk31", "qpsk", "bpsK31", "BPS\u212a"])
def test_stream_modes_accepted(mode):
    s = v.Psk31Stream(mode, 8000, 1000)
    assert s.feed(np.zeros(0, np.complex64)) == "" and s.flush() == ""


@pytest.mark.parametrize("mode", ["psk", "BPSK32", "bpsk 31", "", "qpsk\u00e9"])
def test_stream_mode_errors(mode):
    with pytest.raises(ValueError) as err:
        v.Psk31Stream(mode, 8000, 1000)
    assert str(err.value) == f"mode must be 'bpsk' or 'qpsk', got '{mode}'"
    with pytest.raises(TypeError) as err:
        v.Psk31Stream(31, 8000, 1000)
    assert str(err.value).startswith("argument 'mode': ")


@pytest.mark.parametrize("mode", ["bpsk", "qpsk"])
def test_stream_clean_text_in_one_call(mode):
    s = v.Psk31Stream(mode, 8000, 1000)
    assert s.feed(MODS[mode](8000, 1000, 1).modulate_text(b"hello\nworld")) == "helloworld"
    assert s.flush() == ""


def test_qpsk31_tail_needs_flush_without_postamble():
    s = v.Psk31Stream("qpsk", 8000, 0)
    iq = v.Qpsk31Mod(8000, 0, 1).modulate_text(b"abc def", postamble_bits=0)
    first = s.feed(iq)
    assert first != "abc def" and "abc def".startswith(first)
    assert first + s.flush() == "abc def"


def test_zero_samples_release_nothing():
    # The first pair is near (-1/3, 0); every later one is squelched.
    s = v.Psk31Stream("qpsk", 8000, 0)
    assert s.feed(np.zeros(100 * 256, np.complex64)) == ""


@pytest.mark.parametrize("mode", ["bpsk", "qpsk"])
def test_stream_through_noise_in_pieces(mode, rng):
    text = b"CQ CQ DE K1ABC K1ABC PSE K"
    # About -1 dB SNR in 2500 Hz.
    iq = awgn(MODS[mode](8000, 1200, 0.5).modulate_text(text), 0.7, rng)
    one = v.Psk31Stream(mode, 8000, 1200)
    got_one = one.feed(iq) + one.flush()
    many = v.Psk31Stream(mode, 8000, 1200)
    cuts = np.sort(rng.choice(len(iq), 60, replace=False))
    got_many = "".join(many.feed(p) for p in np.split(iq, cuts)) + many.flush()
    assert got_one == text.decode()
    assert got_many == got_one


@pytest.mark.parametrize("mode, fs", [("bpsk", 500), ("bpsk", 100), ("qpsk", 1000), ("qpsk", 125)])
def test_low_sample_rates_demodulate_every_sample(mode, fs):
    text = b"low rate " * 6
    s = v.Psk31Stream(mode, fs, 0)
    assert s.feed(MODS[mode](fs, 0, 1).modulate_text(text)) + s.flush() == text.decode()


# --- carrier search ---------------------------------------------------------

def burst(fs, carrier, text, start, total, lead=40, gain=1.0):
    """A steady carrier of `lead` symbols, then the text, from symbol `start`."""
    m = v.Bpsk31Mod(fs, carrier, gain)
    sps = round(fs / 31.25)
    b = np.concatenate([m.modulate_bits(np.ones(lead, np.uint8)), m.modulate_text(text)])
    x = np.zeros(total, np.complex64)
    x[start * sps:start * sps + len(b)] = b[:total - start * sps]
    return x


def text_of(soft):
    d = v.VaricodeDecoder()
    d.push_bits(v.Bpsk31Decider().process(soft))
    return d.pop_bytes()


def test_search_finds_the_carrier_among_others(rng):
    fs, n = 8000, 300 * 256
    iq = (burst(fs, 1000.0, b"the wanted one", 10, n)
          + burst(fs, 1250.0, b"another station", 3, n)
          + burst(fs, 750.0, b"and a third", 30, n, gain=0.5))
    iq = awgn(iq, 0.5, rng)
    cands = v.psk31_sync(iq, fs, 500.0, 1500.0, max_cand=20)
    assert cands and all(list(c) == ["time_sym", "freq_bin", "carrier_hz", "score", "soft_bits"] for c in cands)
    assert [c["score"] for c in cands] == sorted((c["score"] for c in cands), reverse=True)
    starts = {(c["freq_bin"], c["time_sym"]) for c in cands}
    assert {(8, 30), (16, 10), (24, 3)} <= starts
    best = v.best_psk31_sync(cands, 1010.0)
    assert any(best is c for c in cands)
    assert (best["time_sym"], best["freq_bin"]) == (10, 16)
    assert best["carrier_hz"] == pytest.approx(1000.0, abs=0.02)
    soft = best["soft_bits"]
    assert soft.dtype == np.float32 and len(soft) == 300 - 10
    assert text_of(soft).startswith(b"the wanted one")


def test_search_geometry_and_limits():
    fs, n = 8000, 100 * 256
    iq = np.zeros(n, np.complex64)
    iq[40 * 256:80 * 256] = v.Bpsk31Mod(fs, 1500.0, 1).modulate_bits(np.ones(40, np.uint8))
    cands = v.psk31_sync(iq, fs, 500.0, 1500.0)
    # 33 bins from 500 Hz: the carrier is in the last one.
    assert (cands[0]["freq_bin"], cands[0]["time_sym"]) == (32, 40)
    assert cands[0]["carrier_hz"] == pytest.approx(1500.0, abs=0.02)
    # Soft bits run from the start to the end of the buffer.
    assert len(cands[0]["soft_bits"]) == 60
    assert len(v.psk31_sync(iq, fs, 500.0, 1500.0, max_cand=1)) == 1
    assert v.psk31_sync(iq, fs, 500.0, 1500.0, max_cand=0) == []
    assert len(v.psk31_sync(iq, fs, 500.0, 1500.0, n_bits=7)[0]["soft_bits"]) == 7
    # max_hz below base_hz: a single bin, at base_hz.
    one = v.psk31_sync(iq, fs, 1500.0, 0.0)
    assert [c["freq_bin"] for c in one] == [0]
    assert one[0]["carrier_hz"] == pytest.approx(1500.0, abs=0.02)
    assert v.psk31_sync(iq[:255], fs, 500.0, 1500.0) == []
    assert v.psk31_sync(np.zeros(0, np.complex64), fs, 500.0, 1500.0) == []
    assert v.psk31_sync(iq, 10.0, 500.0, 1500.0) == []
    assert v.psk31_sync(iq, fs, 500.0, float("inf")) == []
    with pytest.raises(ValueError) as err:
        v.psk31_sync(iq, fs, 0.0, 1e9)
    assert str(err.value).startswith("psk31_sync: search span too large (100 time steps x ")
    with pytest.raises(OverflowError):
        v.psk31_sync(iq, fs, 500.0, 1500.0, n_bits=-1)
    with pytest.raises(TypeError) as err:
        v.psk31_sync(iq, "8000", 500.0, 1500.0)
    assert str(err.value).startswith("argument 'fs': ")


def test_run_length_threshold():
    fs = 8000
    iq = np.zeros(64 * 256, np.complex64)
    iq[10 * 256:20 * 256] = v.Bpsk31Mod(fs, 1000.0, 1).modulate_bits(np.ones(10, np.uint8))
    bins = lambda cands: [(c["time_sym"], c["freq_bin"]) for c in cands if c["freq_bin"] == 16]
    assert bins(v.psk31_sync(iq, fs, 500.0, 1500.0, min_carrier_syms=10)) == [(10, 16)]
    assert bins(v.psk31_sync(iq, fs, 500.0, 1500.0, min_carrier_syms=11)) == []
    assert bins(v.psk31_sync(iq, fs, 500.0, 1500.0, min_carrier_syms=0)) == [(10, 16)]


def station(text, fs, carrier, phase, tune_syms=24):
    """A BPSK31 station in float64, independent of the module's modulator:
    a steady tune-up carrier, then the Varicode of the text with the default
    preamble and postamble; each symbol moves from the old level to the new
    along the raised-cosine ramp 0.5 - 0.5 cos(pi s / (sps - 1)), a bit 0
    reversing it."""
    enc = v.VaricodeEncoder()
    enc.push_preamble(32)
    for b in text:
        enc.push_byte(b)
    enc.push_postamble(32)
    bits = np.concatenate([np.ones(tune_syms, np.uint8), enc.drain_bits()])
    sps = round(fs / 31.25)
    levels = np.cumprod(np.where(bits == 0, -1.0, 1.0))
    before = np.concatenate([[1.0], levels[:-1]])
    w = 0.5 - 0.5 * np.cos(np.pi * np.arange(sps) / (sps - 1))
    shaped = (before[:, None] + w * (levels - before)[:, None]).ravel()
    return shaped * np.exp(1j * (2 * np.pi * carrier * np.arange(shaped.size) / fs + phase))


SNR_DB = -3.0


def on_air(text, fs, carrier, start, snr_db, rng, tail=2000):
    """The station from sample `start` of a recording of complex noise, at
    snr_db in 2500 Hz (mean signal power against the noise in 2500 Hz)."""
    sig = station(text, fs, carrier, rng.uniform(0, 2 * np.pi))
    sigma = np.sqrt(np.mean(np.abs(sig) ** 2) * 10 ** (-snr_db / 10) * fs / 2500 / 2)
    x = rng.normal(0, sigma, (start + sig.size + tail, 2)) @ np.array([1, 1j])
    x[start:start + sig.size] += sig
    return x.astype(np.complex64)


def received(iq, fs, cand, later=0):
    """What the stream tuned to the candidate gives from where its run starts
    (and `later` samples on)."""
    s = v.Psk31Stream("bpsk", fs, cand["carrier_hz"])
    return s.feed(iq[cand["time_sym"] * round(fs / 31.25) + later:]) + s.flush()


# Stations across a bin (on the grid, a quarter bin either side, anywhere),
# starting off the search's time steps, after a noise lead-in, at -3 dB in
# 2500 Hz.  The demodulator has no timing recovery: its symbols start at the
# run's step, so the starts stay within the tolerance the README states.
@pytest.mark.parametrize("offset, fs, lag", [(0.0, 8000, -45), (7.8125, 8000, 9), (-7.8125, 8000, -90),
                                             (11.83, 8000, -20), (-4.41, 11025, -30), (9.2, 48000, -200)])
def test_search_tunes_a_station_anywhere_in_its_bin(offset, fs, lag, rng):
    text = b"CQ CQ DE K1ABC K1ABC PSE K"
    sps = round(fs / 31.25)
    carrier = 1000.0 + offset
    iq = on_air(text, fs, carrier, 20 * sps + lag, SNR_DB, rng)
    cands = v.psk31_sync(iq, fs, 500.0, 1500.0)
    best = v.best_psk31_sync(cands, carrier)
    assert best is not None
    # The run begins in the tune-up carrier (or in the noise just before it,
    # when the bin stands out as a whole).
    assert best["freq_bin"] == 16 and best["time_sym"] < 20 + 24
    assert abs(best["carrier_hz"] - carrier) < 0.1
    assert text in text_of(best["soft_bits"])
    assert text.decode() in received(iq, fs, best)


@pytest.mark.parametrize("lag", [-110, -160, -200, 60])
def test_a_second_stream_half_a_symbol_later_covers_the_other_timings(lag, rng):
    # These stations' symbols begin too far from the search's steps for a
    # stream started on one; half a symbol later they line up.
    fs, sps = 8000, 256
    text = b"CQ CQ DE K1ABC K1ABC PSE K"
    carrier = 1000.0 + rng.uniform(-12, 12)
    iq = on_air(text, fs, carrier, 20 * sps + lag, SNR_DB, rng)
    best = v.best_psk31_sync(v.psk31_sync(iq, fs, 500.0, 1500.0), carrier)
    assert best is not None and abs(best["carrier_hz"] - carrier) < 0.1
    assert text.decode() in received(iq, fs, best, later=sps // 2)


def test_a_station_between_two_bins_needs_a_second_grid(rng):
    # Halfway between two bins a station's power splits between them and the
    # runs break up; a second call on a grid moved by half a bin centres it.
    fs, sps = 8000, 256
    text = b"CQ CQ DE K1ABC K1ABC PSE K"
    carrier = 1000.0 + 15.625
    iq = on_air(text, fs, carrier, 20 * sps - 40, SNR_DB, rng)
    cands = v.psk31_sync(iq, fs, 500.0, 1500.0) + v.psk31_sync(iq, fs, 500.0 + 15.625, 1500.0)
    best = v.best_psk31_sync(cands, carrier)
    assert best is not None and abs(best["carrier_hz"] - carrier) < 0.1
    assert text in text_of(best["soft_bits"])
    assert text.decode() in received(iq, fs, best)


def opening_station(mode, text, fs, carrier, phase):
    """A station that opens as the modulators do: the default preamble of 32
    zeros (reversals in either mode), the text, 32 ones.  Points from the
    independent models above, shaped along the raised-cosine ramp in
    float64, on a carrier of `carrier` from `phase`."""
    enc = v.VaricodeEncoder()
    enc.push_preamble(32)
    for b in text:
        enc.push_byte(b)
    enc.push_postamble(32)
    bits = enc.drain_bits().tolist()
    pts = np.array(bpsk_points(bits) if mode == "bpsk" else qpsk_points(bits))
    sps = round(fs / 31.25)
    w = 0.5 - 0.5 * np.cos(np.pi * np.arange(sps) / (sps - 1))
    shaped = (pts[:-1, None] + w * (pts[1:] - pts[:-1])[:, None]).ravel()
    return shaped * np.exp(1j * (2 * np.pi * carrier * np.arange(shaped.size) / fs + phase))


# A station that opens with its reversals, its symbols lined up with the
# search's steps or an eighth of a symbol either side: the reversals' power
# lies 15.625 Hz either side of the carrier, so the runs can form in the bins
# beside the station's own; the carrier is still its own, and the stream
# tuned to it decodes from the run's start or half a symbol later.
@pytest.mark.parametrize("mode", ["bpsk", "qpsk"])
@pytest.mark.parametrize("carrier", [1000.0, 1008.0, 1025.0, 1040.0, 990.6])
def test_a_station_opening_with_reversals_is_found_at_its_carrier(mode, carrier, rng):
    fs, sps = 8000.0, 256
    text = b"CQ DE K1ABC"
    for lag in (0, sps // 8, -sps // 8):
        sig = opening_station(mode, text, fs, carrier, rng.uniform(0, 2 * np.pi))
        start = 20 * sps + lag
        # 3 dB in 2500 Hz: at -3 dB the reversals of a station on a bin's
        # centre often make no run at all, and only its postamble is found.
        sigma = np.sqrt(np.mean(np.abs(sig) ** 2) * 10 ** (-3.0 / 10) * fs / 2500 / 2)
        iq = rng.normal(0, sigma, (start + sig.size + 2000, 2)) @ np.array([1, 1j])
        iq[start:start + sig.size] += sig
        iq = iq.astype(np.complex64)
        best = v.best_psk31_sync(v.psk31_sync(iq, fs, 250.0, 2500.0), carrier)
        assert best is not None, lag
        assert abs(best["carrier_hz"] - carrier) < 0.5, (lag, best["freq_bin"], best["carrier_hz"])
        got = []
        for later in (0, sps // 2):
            s = v.Psk31Stream(mode, fs, best["carrier_hz"])
            got.append(s.feed(iq[best["time_sym"] * sps + later:]) + s.flush())
        assert any(text.decode() in g for g in got), (lag, got)


def cand(carrier, t, score=0.0):
    return {"time_sym": t, "freq_bin": 0, "carrier_hz": carrier, "score": score}


def test_best_choice_rules():
    cands = [cand(1000.0, 5), cand(1010.0, 3), cand(1100.0, 1)]
    assert v.best_psk31_sync(cands, 1000.0) is cands[1]
    tie = [cand(1040.0, 3), cand(1005.0, 3), cand(995.0, 3)]
    assert v.best_psk31_sync(tie, 1000.0) is tie[1]
    assert v.best_psk31_sync([cand(1062.5, 0)], 1000.0) is not None
    assert v.best_psk31_sync([cand(1070.0, 0)], 1000.0) is None
    assert v.best_psk31_sync([cand(1070.0, 0)], 1000.0, baud=5.0 / 0.5) is None
    assert v.best_psk31_sync([cand(1070.0, 0)], 1000.0, baud=40.0) is not None
    assert v.best_psk31_sync([], 1000.0) is None
    assert v.best_psk31_sync.__text_signature__ == "(candidates, carrier_hz, baud=...)"


def test_best_choice_errors():
    with pytest.raises(TypeError) as err:
        v.best_psk31_sync((cand(1000.0, 1),), 1000.0)
    assert str(err.value).startswith("argument 'candidates': ")
    with pytest.raises(TypeError) as err:
        v.best_psk31_sync([cand(1000.0, 1), 5], 1000.0)
    assert str(err.value) == "'int' object is not an instance of 'dict'"
    with pytest.raises(OverflowError):
        v.best_psk31_sync([cand(1000.0, -1)], 1000.0)
    with pytest.raises(TypeError):
        v.best_psk31_sync([cand("1000", 1)], 1000.0)
    broken = [{"carrier_hz": 1000.0, "time_sym": 1}]
    err = raises_panic(lambda: v.best_psk31_sync(broken, 1000.0))
    assert "freq_bin" in str(err)
    assert broken == [{"carrier_hz": 1000.0, "time_sym": 1}]
