import numpy as np
import pytest
from conftest import RefRotator, ref_mix

import vatel_sdr as v
from conftest import raises_panic

PILOT_IDX = np.array([-21, -7, 7, 21], np.int32)
PILOT_VAL = np.array([1, 1, 1, -1], np.complex64)
EMPTY = np.zeros(0, np.int32)
BITS_PER_POINT = {"bpsk": 1, "qpsk": 2, "qam16": 4, "qam64": 6, "qam256": 8}


def make(constellation="qpsk", rf_hz=0.0, gain=1.0, fs=1e6, cp_len=16, n_fft=64, edge_guard=4,
         idx=PILOT_IDX, val=PILOT_VAL, data=EMPTY):
    return v.OfdmConfig(n_fft, cp_len, data, idx, val, fs, rf_hz, gain, constellation, edge_guard)


def data_carriers(n_fft, guard, pilots):
    return [k for k in range(guard - n_fft // 2 + 1, (n_fft - 1) // 2 - guard + 1)
            if k != 0 and k not in pilots]


def axis_levels(m):
    """Gray-coded, unit-average-power levels of a square QAM, by bit pattern."""
    L = 1 << m
    energy = 2 * (L * L - 1) / 3
    level = np.empty(L)
    for p in range(L):
        level[p ^ (p >> 1)] = (2 * p - (L - 1)) / np.sqrt(energy)
    return level


def map_points(bits, constellation):
    bits = np.asarray(bits).astype(np.int64) & 1
    if constellation == "bpsk":
        return 1.0 - 2.0 * bits
    if constellation == "qpsk":
        b = bits.reshape(-1, 2)
        return ((1 - 2 * b[:, 0]) + 1j * (1 - 2 * b[:, 1])) / np.sqrt(2)
    m = BITS_PER_POINT[constellation] // 2
    b = bits.reshape(-1, 2 * m)
    weights = 1 << np.arange(m - 1, -1, -1)
    lv = axis_levels(m)
    return lv[b[:, :m] @ weights] + 1j * lv[b[:, m:] @ weights]


def reference_symbols(bits, constellation, n_fft=64, cp_len=16, guard=4,
                      pilots=dict(zip(PILOT_IDX.tolist(), PILOT_VAL.tolist()))):
    """OFDM symbols by an independent inverse DFT (numpy, double precision)."""
    data = data_carriers(n_fft, guard, pilots)
    per_symbol = BITS_PER_POINT[constellation] * len(data)
    n_sym = -(-len(bits) // per_symbol)
    padded = np.zeros(n_sym * per_symbol, np.uint8)
    padded[:len(bits)] = bits
    out = []
    for s in range(n_sym):
        X = np.zeros(n_fft, complex)
        X[np.array(data) % n_fft] = map_points(padded[s * per_symbol:(s + 1) * per_symbol],
                                               constellation)
        for k, val in pilots.items():
            X[k % n_fft] = val
        x = np.fft.ifft(X)
        out.append(np.concatenate([x[n_fft - cp_len:], x]))
    return np.concatenate(out) if out else np.zeros(0, complex)


@pytest.mark.parametrize("constellation", list(BITS_PER_POINT))
def test_matches_an_independent_inverse_dft(constellation, rng):
    cfg = make(constellation)
    bits = rng.integers(0, 2, size=3 * cfg.bits_per_ofdm_symbol - 5, dtype=np.uint8)
    out = v.OfdmMod(cfg).modulate(bits)
    assert out.dtype == np.complex64 and out.shape == (3 * 80,)
    np.testing.assert_allclose(out, reference_symbols(bits, constellation), rtol=0, atol=2e-6)


def test_prefix_is_the_symbols_tail_and_pilots_sit_in_their_bins(rng):
    cfg = make("qam16")
    out = v.OfdmMod(cfg).modulate(rng.integers(0, 2, size=4 * 200, dtype=np.uint8))
    for sym in out.reshape(4, 80):
        assert sym[:16].tobytes() == sym[64:].tobytes()
        X = np.fft.fft(sym[16:].astype(np.complex128))
        np.testing.assert_allclose(X[PILOT_IDX % 64], PILOT_VAL, atol=1e-5)
        assert np.all(np.abs(X[[0, 32, 31, 33, 28, 36]]) < 1e-5)  # DC and guard band


def test_last_symbol_is_completed_with_zero_bits():
    cfg = make(edge_guard=0, idx=EMPTY, val=np.zeros(0, np.complex64))
    assert cfg.bits_per_ofdm_symbol == 124
    bits = np.zeros(125, np.uint8)
    bits[124] = 1
    out = v.OfdmMod(cfg).modulate(bits)
    assert out.shape == (160,)
    X = np.fft.fft(out[96:].astype(np.complex128))
    c = 1 / np.sqrt(2)
    data_bins = np.array(data_carriers(64, 0, {})) % 64
    expect = np.full(62, complex(c, c))
    expect[0] = complex(-c, c)  # bit 124 is the first bit of the second symbol
    np.testing.assert_allclose(X[data_bins], expect, atol=1e-5)


def test_empty_and_lowest_bit_only():
    mod = v.OfdmMod(make())
    empty = mod.modulate(np.zeros(0, np.uint8))
    assert empty.dtype == np.complex64 and empty.shape == (0,)
    a = v.OfdmMod(make()).modulate(np.array([2, 3, 254, 255] * 25, np.uint8))
    b = v.OfdmMod(make()).modulate(np.array([0, 1, 0, 1] * 25, np.uint8))
    assert a.tobytes() == b.tobytes()


def test_gain_without_carrier_scales_exactly(rng):
    bits = rng.integers(0, 2, size=300, dtype=np.uint8)
    base = v.OfdmMod(make()).modulate(bits)
    scaled = v.OfdmMod(make(gain=0.3)).modulate(bits)
    expect = (base.view(np.float32) * np.float32(0.3)).view(np.complex64)
    assert scaled.tobytes() == expect.tobytes()


def test_carrier_mix_is_bit_exact_and_continues_across_calls(rng):
    fs, rf, gain = 1e6, 123456.7, 0.8
    bits = rng.integers(0, 2, size=14 * 100, dtype=np.uint8)  # 14 symbols, past 1024 samples
    base = v.OfdmMod(make()).modulate(bits)
    mod = v.OfdmMod(make(rf_hz=rf, gain=gain, fs=fs))
    out = np.concatenate([mod.modulate(bits[:1]), mod.modulate(bits[100:])])
    # The first call's single bit fills symbol 0 with zeros but for bit 0.
    first = v.OfdmMod(make()).modulate(bits[:1])
    x = np.concatenate([first, base[80:]])
    ref = RefRotator(rf, fs)
    expect = np.array([ref_mix(s.real, s.imag, ref.next(), gain) for s in x], np.complex64)
    assert out.view(np.uint64).tolist() == expect.view(np.uint64).tolist()
    assert abs(abs(complex(*ref.p)) - 1) < 1e-6


def test_nan_frequency_counts_as_a_carrier():
    out = v.OfdmMod(make(rf_hz=float("nan"))).modulate(np.zeros(10, np.uint8))
    assert np.all(np.isnan(out))


@pytest.mark.parametrize("bits, text", [
    (np.zeros(4, np.float64), "argument 'bits': 'ndarray' object is not an instance of 'ndarray'"),
    ([0, 1], "argument 'bits': 'list' object is not an instance of 'ndarray'"),
    (np.zeros(8, np.uint8)[::2], "The given array is not contiguous or is misaligned."),
])
def test_bits_argument_errors(bits, text):
    with pytest.raises(TypeError) as e:
        v.OfdmMod(make()).modulate(bits)
    assert str(e.value) == text


def test_constructor_takes_an_ofdm_config():
    with pytest.raises(TypeError) as e:
        v.OfdmMod(None)
    assert str(e.value) == "argument 'cfg': 'None' is not an instance of 'OfdmConfig'"
    assert v.OfdmMod.__text_signature__ == "(cfg)"
    assert v.OfdmMod.modulate.__text_signature__ == "($self, bits)"


def test_bad_sizes_panic():
    # A prefix longer than the FFT: refused when a symbol is made.
    long_cp = v.OfdmMod(make(cp_len=65))
    assert long_cp.modulate(np.zeros(0, np.uint8)).shape == (0,)
    raises_panic(lambda: long_cp.modulate(np.zeros(1, np.uint8)))
    # An FFT size of 0 validates with carrier 0 alone, but has no bins.
    zero = v.OfdmConfig(0, 0, np.array([0], np.int32), EMPTY, np.zeros(0, np.complex64),
                        1e6, 0.0, 1.0, "bpsk", None)
    e = raises_panic(lambda: v.OfdmMod(zero))
    assert "n_fft is 0" in str(e)
