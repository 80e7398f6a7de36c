import numpy as np
import pytest
from conftest import raises_text

import vatel_sdr as v

SEGMENT_SEED = 0x4F46444D50524531
TRAINING_SEED = 0x4F46444D54524E31
MASK = (1 << 64) - 1
C = np.float32(0.70710677)


def unit_sequence(count, seed):
    """The xorshift unit sequence, written independently with Python ints."""
    s = seed
    out = np.empty(count, np.complex64)
    for i in range(count):
        comps = []
        for _ in range(2):
            s ^= (s << 13) & MASK
            s ^= s >> 7
            s ^= (s << 17) & MASK
            x = np.float32(s) * np.float32(2.0 ** -64) - np.float32(0.5)
            comps.append(C if x >= 0 else -C)
        out[i] = complex(comps[0], comps[1])
    return out


def cfg26(gain=1.0, rf_hz=0.0, pilots=()):
    data = np.array([k for k in range(-26, 27) if k != 0 and k not in pilots], np.int32)
    idx = np.array(pilots, np.int32)
    return v.OfdmConfig(64, 16, data, idx, np.ones(len(pilots), np.complex64), 1e6, rf_hz, gain,
                        "qpsk", None)


def segment_reference(n_fft, repeat_len, t, n_data):
    step = n_fft // repeat_len
    bins = []
    for k in range(step, t + 1, step):
        bins += [k, n_fft - k]
    X = np.zeros(n_fft, complex)
    X[bins] = unit_sequence(len(bins), SEGMENT_SEED)
    seg = np.fft.ifft(X)[:repeat_len]
    return seg * (2 * np.sqrt(n_data) / n_fft) / np.sqrt(np.mean(np.abs(seg) ** 2)), bins


@pytest.mark.parametrize("seed, signs", [
    (SEGMENT_SEED, [(-1, 1), (-1, 1), (1, 1), (-1, 1)]),
    (TRAINING_SEED, [(-1, 1), (1, 1), (1, -1), (1, 1)]),
])
def test_sequence_sign_anchors(seed, signs):
    seq = unit_sequence(4, seed)
    assert [(np.sign(z.real), np.sign(z.imag)) for z in seq] == signs


def test_unfiltered_segment_is_the_sequence_itself():
    # 24 does not divide 64: the segment falls back to the raw sequence.
    out = v.generate_ofdm_preamble(cfg26(), 2, 24)
    seq = unit_sequence(24, SEGMENT_SEED)
    assert out.dtype == np.complex64 and out.shape == (48,)
    assert out.tobytes() == np.concatenate([seq, seq]).tobytes()
    assert [(np.sign(z.real), np.sign(z.imag)) for z in out[:4]] == [(-1, 1), (-1, 1), (1, 1), (-1, 1)]


def test_band_limited_segment_repeats_with_the_specified_level():
    out = v.generate_ofdm_preamble(cfg26(), 3, 16, 64, 16)
    assert out.shape == (3 * 16 + 80,)
    seg, bins = segment_reference(64, 16, 26, 52)
    assert bins == [4, 60, 8, 56, 12, 52, 16, 48, 20, 44, 24, 40]
    np.testing.assert_allclose(out[:16], seg, atol=1e-6)
    assert out[:16].tobytes() == out[16:32].tobytes() == out[32:48].tobytes()
    rms = np.sqrt(np.mean(np.abs(out[:16].astype(np.complex128)) ** 2))
    assert rms == pytest.approx(2 * np.sqrt(52) / 64, rel=1e-5)


def test_training_symbol_uses_only_the_plans_bins():
    pilots = (-21, -7, 7, 21)
    out = v.generate_ofdm_preamble(cfg26(pilots=pilots), 1, 16, 64, 16)
    training = out[16:]
    assert training[:16].tobytes() == training[64:].tobytes()
    X = unit_sequence(64, TRAINING_SEED).astype(complex)
    used = np.array([k for k in range(-26, 27) if k != 0]) % 64  # data and pilots
    mask = np.zeros(64, bool)
    mask[used] = True
    X[~mask] = 0
    np.testing.assert_allclose(training[16:], np.fft.ifft(X), atol=1e-6)


def test_training_symbol_of_another_size_is_masked_by_bin_number():
    # Bins at or beyond the training size have no effect; below it they mask.
    out = v.generate_ofdm_preamble(cfg26(), 0, 16, 32, 8)
    assert out.shape == (40,)
    X = unit_sequence(32, TRAINING_SEED).astype(complex)
    used = {k % 64 for k in range(-26, 27) if k != 0}
    X[[i for i in range(32) if i not in used]] = 0
    np.testing.assert_allclose(out[8:], np.fft.ifft(X), atol=1e-6)


def test_gain_scales_everything_and_rf_is_ignored():
    one = v.generate_ofdm_preamble(cfg26(), 2, 16, 64, 16)
    two = v.generate_ofdm_preamble(cfg26(gain=2.0), 2, 16, 64, 16)
    assert two.tobytes() == (one.view(np.float32) * np.float32(2)).tobytes()
    assert v.generate_ofdm_preamble(cfg26(rf_hz=1000.0), 2, 16, 64, 16).tobytes() == one.tobytes()


@pytest.mark.parametrize("kwargs, length", [
    (dict(training_n_fft=64), 48),
    (dict(training_cp_len=16), 48),
    (dict(training_n_fft=64, training_cp_len=None), 48),
    (dict(training_n_fft=64, training_cp_len=0), 112),
    (dict(training_n_fft=0, training_cp_len=0), 48),
])
def test_training_symbol_needs_both_sizes(kwargs, length):
    assert v.generate_ofdm_preamble(cfg26(), 3, 16, **kwargs).shape == (length,)


def test_zero_repeats_and_zero_length():
    assert v.generate_ofdm_preamble(cfg26(), 0, 16).shape == (0,)
    assert v.generate_ofdm_preamble(cfg26(), 5, 0).shape == (0,)


def test_argument_errors_and_panics():
    with pytest.raises(OverflowError):
        v.generate_ofdm_preamble(cfg26(), -1, 16)
    with pytest.raises(TypeError, match="^argument 'cfg': "):
        v.generate_ofdm_preamble(None, 1, 16)
    # A value for only one training size is still converted.
    with pytest.raises(OverflowError):
        v.generate_ofdm_preamble(cfg26(), 1, 16, training_n_fft=-5)
    with pytest.raises(BaseException) as e:
        v.generate_ofdm_preamble(cfg26(), 1, 16, 64, 65)
    assert type(e.value).__name__ == "PanicException"
    # A length that wraps is as much too large to allocate as one that does not.
    raises_text(MemoryError, f"preamble length overflows: {2**63} * 4",
                lambda: v.generate_ofdm_preamble(cfg26(), 2**63, 4))
    assert v.generate_ofdm_preamble.__text_signature__ == (
        "(cfg, num_repeats, repeat_len, training_n_fft=None, training_cp_len=None)")
