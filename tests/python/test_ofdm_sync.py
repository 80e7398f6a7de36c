import math

import numpy as np
import pytest
from hypothesis import given, settings
from hypothesis import strategies as st
from test_ofdm_mod import data_carriers, make, reference_symbols

import vatel_sdr as v

FS = 1e6
R, L, NT, CP = 4, 16, 64, 16
KEYS = ["start_sample", "cfo_hz", "integer_cfo_bins", "score"]
PILOTS = {-21: 1, -7: 1, 7: 1, 21: -1}
TWO_PATH = np.array([1.0, 0, 0, 0.3 - 0.25j])


def burst(rng, constellation, n_sym, es_n0_db, offset_bins, taps, lead):
    """Lead-in of noise, preamble, training symbol and n_sym data symbols
    made by an independent inverse DFT, through the channel taps, turned by
    offset_bins carriers, with noise at es_n0_db per carrier."""
    cfg = make(constellation)
    pre = v.generate_ofdm_preamble(cfg, R, L, NT, CP).astype(complex)
    bits = rng.integers(0, 2, size=n_sym * cfg.bits_per_ofdm_symbol, dtype=np.uint8)
    sig = np.concatenate([np.zeros(lead), pre, reference_symbols(bits, constellation),
                          np.zeros(100)])
    rx = np.convolve(sig, taps)[:len(sig)]
    t = np.arange(len(rx))
    rx = rx * np.exp(2j * np.pi * offset_bins * t / 64 + 1j * rng.uniform(0, 2 * np.pi))
    sigma2 = 1.0 / (64 * 10 ** (es_n0_db / 10))  # per sample, so that a bin has Es/N0
    rx = rx + np.sqrt(sigma2 / 2) * (rng.standard_normal(len(rx)) + 1j * rng.standard_normal(len(rx)))
    return rx.astype(np.complex64), bits, cfg


def receive(rx, cfg, n_sym, backoff=4):
    """Finds the burst, removes its offset and demodulates in training mode,
    with the FFT windows backed off into the prefix."""
    best = v.ofdm_sync(rx, FS, R, L, 0, len(rx), NT, CP)[0]
    f = best["cfo_hz"] + best["integer_cfo_bins"] * FS / NT
    t = np.arange(len(rx))
    y = (rx * np.exp(-2j * np.pi * f * t / FS)).astype(np.complex64)
    s0 = best["start_sample"] + R * L - backoff
    d = v.OfdmDemod(cfg)
    d.estimate_channel(y[s0:s0 + 80])
    bits = [d.demodulate(y[s0 + 80 * (k + 1):]) for k in range(n_sym)]
    return best, np.concatenate(bits)


def test_result_format_and_a_numpy_model_of_the_scores(rng):
    x = (rng.standard_normal(400) + 1j * rng.standard_normal(400)).astype(np.complex64)
    x[100:164] = np.tile(x[100:116], 4)
    res = v.ofdm_sync(x, FS, R, L, 10, 300)
    assert isinstance(res, list) and len(res) == 290
    for d in res:
        assert list(d) == KEYS
        assert [type(d[k]) for k in KEYS] == [int, float, int, float]
    assert res[0]["start_sample"] == 100 and res[0]["score"] == pytest.approx(1.0, abs=1e-6)
    # Scores and offsets against float64 sums; the order by (E / max E) * score.
    xd = x.astype(complex)
    def model(d):
        a = np.stack([xd[d + j * L:d + (j + 1) * L] for j in range(R)])
        p = np.sum(a[1:] * np.conj(a[:-1]))
        e = np.sum(np.abs(a[1:]) ** 2)
        return min(abs(p) ** 2 / e ** 2, 1.0), np.angle(p) / (2 * np.pi * L / FS), e
    m = {d["start_sample"]: model(d["start_sample"]) for d in res}
    emax = max(e for _, _, e in m.values())
    keys = []
    for d in res:
        score, cfo, e = m[d["start_sample"]]
        assert d["score"] == pytest.approx(score, rel=1e-4, abs=1e-6)
        assert d["cfo_hz"] == pytest.approx(cfo, abs=50.0)
        keys.append(e / emax * score)
    assert all(a >= b - 1e-6 for a, b in zip(keys, keys[1:]))


@pytest.mark.parametrize("args", [
    dict(fs=0.0), dict(fs=-1.0), dict(repeat_len=0), dict(num_repeats=1), dict(n=63),
    dict(search_start=50, search_end=50), dict(search_start=60, search_end=50),
    dict(num_repeats=2 ** 62, repeat_len=8), dict(training_n_fft=2 ** 64 - 1, training_cp_len=1),
    dict(n=143, training_n_fft=64, training_cp_len=16),
])
def test_empty_lists(args):
    x = np.ones(args.pop("n", 400), np.complex64)
    kw = dict(fs=FS, num_repeats=R, repeat_len=L, search_start=0, search_end=2 ** 64 - 1)
    kw.update(args)
    assert v.ofdm_sync(x, **kw) == []
    assert v.ofdm_sync(np.zeros(400, np.complex64), FS, R, L, 0, 400) == []


def test_argument_errors():
    x = np.ones(400, np.complex64)
    with pytest.raises(OverflowError):
        v.ofdm_sync(x, FS, -1, L, 0, 400)
    with pytest.raises(TypeError, match="argument 'iq'"):
        v.ofdm_sync(x.astype(np.complex128), FS, R, L, 0, 400)
    with pytest.raises(TypeError, match="argument 'training_n_fft'"):
        v.ofdm_sync(x, FS, R, L, 0, 400, "64", 16)


def test_a_buffer_that_is_exactly_one_preamble_is_found_at_zero():
    pre = v.generate_ofdm_preamble(make(), R, L, NT, CP)
    res = v.ofdm_sync(pre, FS, R, L, 0, len(pre), NT, CP)
    assert [d["start_sample"] for d in res] == [0]
    assert res[0]["score"] == pytest.approx(1.0, abs=1e-5)
    assert res[0]["integer_cfo_bins"] == 0


def test_one_training_size_alone_is_no_training_symbol(rng):
    rx, _, _ = burst(rng, "qpsk", 1, 25, 5.3, [1.0], 211)
    for a, b in [(NT, None), (None, CP)]:
        res = v.ofdm_sync(rx, FS, R, L, 0, len(rx), a, b)
        assert all(d["integer_cfo_bins"] == 0 for d in res)
    res = v.ofdm_sync(rx, FS, R, L, 0, len(rx), NT, CP)
    assert any(d["integer_cfo_bins"] != 0 for d in res[:5])
    assert all(d["integer_cfo_bins"] == 0 for d in res[5:])


@pytest.mark.parametrize("offset", [0.21, -1.77, 1.95])
def test_fractional_offset_recovered(offset, rng):
    rx, _, _ = burst(rng, "qpsk", 1, 30, offset, [1.0], 157)
    best = v.ofdm_sync(rx, FS, R, L, 0, len(rx))[0]
    assert abs(best["start_sample"] - 157) <= 2
    assert best["cfo_hz"] == pytest.approx(offset * FS / 64, abs=0.01 * FS / 64)


@pytest.mark.parametrize("offset", [-9.3, -6.5, -3.05, 2.6, 4.0, 7.45, 11.2])
def test_integer_offsets_through_multipath_decode_cleanly(offset, rng):
    rx, bits, cfg = burst(rng, "qpsk", 2, 25, offset, TWO_PATH, 333)
    best, got = receive(rx, cfg, 2)
    total = best["cfo_hz"] / (FS / 64) + best["integer_cfo_bins"]
    assert total == pytest.approx(offset, abs=0.02)
    assert abs(best["start_sample"] - 333) <= 6
    np.testing.assert_array_equal(got, bits)


def q(x):
    return 0.5 * math.erfc(x / math.sqrt(2))


@pytest.mark.parametrize("es_n0_db", [2.0, 4.0, 6.0])
def test_bit_error_rate_follows_theory(es_n0_db, rng):
    # BPSK through the two-path channel: each carrier's cell sees the noise
    # of the data symbol and of the one-symbol training estimate, so its
    # error rate is Q(sqrt(Es/N0 |H|^2)).
    errors = total = 0
    for _ in range(80):
        rx, bits, cfg = burst(rng, "bpsk", 1, es_n0_db, rng.uniform(-6, 6), TWO_PATH,
                              int(rng.integers(150, 250)))
        _, got = receive(rx, cfg, 1)
        errors += int(np.sum(got != bits))
        total += len(bits)
    k = np.array(data_carriers(64, 4, PILOTS))
    h = np.array([np.sum(TWO_PATH * np.exp(-2j * np.pi * b * np.arange(4) / 64)) for b in k])
    g = 10 ** (es_n0_db / 10)
    theory = np.mean([q(math.sqrt(g * abs(x) ** 2)) for x in h])
    assert 0.6 * theory < errors / total < 1.6 * theory, (errors / total, theory)


def test_non_finite_samples_give_a_list(rng):
    rx, _, _ = burst(rng, "qpsk", 1, 25, 1.5, [1.0], 200)
    rx[5] = np.nan
    rx[30] = np.inf
    res = v.ofdm_sync(rx, FS, R, L, 0, len(rx), NT, CP)
    assert isinstance(res, list) and len(res) > 0
    assert v.ofdm_sync(np.full(500, np.nan, np.complex64), FS, R, L, 0, 500, NT, CP) == []


@settings(max_examples=80, deadline=None)
@given(n=st.integers(0, 300), repeats=st.integers(0, 5), length=st.integers(0, 20),
       start=st.integers(0, 320), stop=st.integers(0, 2 ** 64 - 1),
       training=st.one_of(st.none(), st.tuples(st.integers(1, 40), st.integers(0, 50))),
       special=st.lists(st.tuples(st.integers(0, 299), st.sampled_from([np.nan, np.inf, -np.inf, 0.0])),
                        max_size=4),
       seed=st.integers(0, 2 ** 32 - 1))
def test_any_buffer_gives_a_well_formed_list(n, repeats, length, start, stop, training, special,
                                             seed):
    x = np.random.default_rng(seed).standard_normal(2 * n).astype(np.float32).view(np.complex64)
    for i, value in special:
        if i < n:
            x[i] = value
    args = training or (None, None)
    res = v.ofdm_sync(x, FS, repeats, length, start, stop, *args)
    span = repeats * length + (sum(training) if training else 0)
    end = min(n - span + 1, stop) if span <= n else 0
    starts = [d["start_sample"] for d in res]
    assert len(set(starts)) == len(starts)
    assert all(start <= s < end for s in starts)
    if repeats < 2 or length == 0:
        assert res == []
    assert all(d["integer_cfo_bins"] == 0 for d in res[5:])
    if training:
        assert all(abs(d["integer_cfo_bins"]) <= training[0] // 2 for d in res[:5])
