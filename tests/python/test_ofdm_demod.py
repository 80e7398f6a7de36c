import numpy as np
import pytest
from conftest import raises_text
from test_ofdm_mod import BITS_PER_POINT, make, map_points

import vatel_sdr as v


def bits_for(cfg, rng, symbols=1):
    return rng.integers(0, 2, size=symbols * cfg.bits_per_ofdm_symbol, dtype=np.uint8)


def training_symbol(cfg, scale=1.0):
    return (v.generate_ofdm_preamble(cfg, 0, 16, 64, 16) * np.float32(scale)).astype(np.complex64)


def test_input_length_rules(rng):
    cfg = make()
    d = v.OfdmDemod(cfg)
    x = v.OfdmMod(cfg).modulate(bits_for(cfg, rng, 2))
    for call, name in [(d.demodulate, "demodulate"), (d.demodulate_soft, "demodulate"),
                       (d.estimate_channel, "estimate_channel")]:
        with pytest.raises(ValueError, match=fr"^OfdmDemod\.{name}: input too short \(79 < 80\)$"):
            call(x[:79])
    with pytest.raises(ValueError, match=r"input too short \(0 < 80\)"):
        d.demodulate(np.zeros(0, np.complex64))
    one = d.demodulate(x[:80])
    assert one.dtype == np.uint8 and one.shape == (cfg.bits_per_ofdm_symbol,)
    # A longer array is one symbol: the second is ignored.
    np.testing.assert_array_equal(d.demodulate(x), one)


@pytest.mark.parametrize("keyword", ["pilot-interp", "training-symbol", "Training_Symbol", "",
                                     "pilot_interp "])
def test_unknown_equalizer(keyword):
    with pytest.raises(ValueError) as e:
        v.OfdmDemod(make(), keyword)
    assert str(e.value) == (f'OfdmDemod: unknown equalizer "{keyword}" '
                            "(expected 'training_symbol' or 'pilot_interp')")


def test_argument_types(rng):
    cfg = make()
    with pytest.raises(TypeError, match="argument 'cfg'"):
        v.OfdmDemod(object())
    with pytest.raises(TypeError, match="argument 'equalizer'"):
        v.OfdmDemod(cfg, 1)
    d = v.OfdmDemod(cfg, equalizer="pilot_interp")
    with pytest.raises(TypeError, match="argument 'iq'"):
        d.demodulate(np.zeros(80, np.complex128))
    with pytest.raises(TypeError, match="The given array is not contiguous or is misaligned."):
        d.demodulate(np.zeros(160, np.complex64)[::2])
    with pytest.raises(TypeError, match="argument 'training_iq'"):
        d.estimate_channel([0j] * 80)


@pytest.mark.parametrize("constellation", list(BITS_PER_POINT))
def test_training_mode_without_estimate_returns_the_mapped_points(constellation, rng):
    cfg = make(constellation)
    bits = bits_for(cfg, rng, 3)
    x = v.OfdmMod(cfg).modulate(bits)
    d = v.OfdmDemod(cfg)
    per = cfg.bits_per_ofdm_symbol
    for s in range(3):
        soft, got = d.demodulate_soft(x[80 * s:80 * (s + 1)])
        want = bits[s * per:(s + 1) * per]
        assert soft.dtype == np.complex64
        np.testing.assert_array_equal(got, want)
        np.testing.assert_allclose(soft, map_points(want, constellation), atol=2e-6)


def test_training_estimate_undoes_a_channel(rng):
    cfg = make("qam16")
    bits = bits_for(cfg, rng)
    x = v.OfdmMod(cfg).modulate(bits)
    d = v.OfdmDemod(cfg)
    assert d.estimate_channel(training_symbol(cfg, 0.5)) is None
    soft, got = d.demodulate_soft((x * np.float32(0.5)).astype(np.complex64))
    np.testing.assert_array_equal(got, bits)
    np.testing.assert_allclose(soft, map_points(bits, "qam16"), atol=1e-5)

    # A frequency-selective channel (a circular one inside the prefix).
    h = np.array([0.9 + 0.2j, 0, 0.3 - 0.25j, 0.1j])
    def channel(sig):
        full = np.convolve(sig, h)[:len(sig)]
        return full.astype(np.complex64)
    d = v.OfdmDemod(cfg)
    d.estimate_channel(channel(training_symbol(cfg)))
    soft, got = d.demodulate_soft(channel(x))
    np.testing.assert_array_equal(got, bits)
    np.testing.assert_allclose(soft, map_points(bits, "qam16"), atol=1e-4)


def test_pilot_mode_removes_a_complex_gain_and_ignores_training(rng):
    cfg = make("qam64")
    bits = bits_for(cfg, rng)
    x = v.OfdmMod(cfg).modulate(bits)
    g = np.complex64(0.3 - 1.1j)
    d = v.OfdmDemod(cfg, "pilot_interp")
    soft, got = d.demodulate_soft(x * g)
    np.testing.assert_array_equal(got, bits)
    np.testing.assert_allclose(soft, map_points(bits, "qam64"), atol=1e-5)
    assert d.estimate_channel(training_symbol(cfg, 7.0)) is None
    soft2, _ = d.demodulate_soft(x * g)
    np.testing.assert_array_equal(soft2, soft)


def test_build_ofdm_rx_frame(rng):
    data = np.array([k for k in range(-26, 27) if k not in (0, -21, -7, 7, 21)][:48], np.int32)
    cfg = v.OfdmConfig(64, 16, data, np.array([-21, -7, 7, 21], np.int32),
                       np.ones(4, np.complex64), 1e6, 0.0, 1.0, "qpsk", None)
    bits = rng.integers(0, 2, size=200, dtype=np.uint8)
    soft = map_points(bits, "qpsk").astype(np.complex64)[:100]
    f = v.build_ofdm_rx_frame(cfg, soft, bits)
    assert type(f) is v.OfdmRxFrame
    assert f.num_symbols == 2
    assert f.cfo_hz is None and f.channel_mse is None and f.timing_offset_samples is None
    assert f.evm_db == float("-inf")
    a, b = f.bits, f.bits
    assert a is not b and a.dtype == np.uint8
    np.testing.assert_array_equal(a, bits)
    a[0] ^= 1
    np.testing.assert_array_equal(f.bits, bits)
    # Too few bits for the cells: no EVM.
    assert v.build_ofdm_rx_frame(cfg, soft, bits[:199]).evm_db is None
    # 1 % error power: -20 dB.
    noisy = (soft * np.complex64(1 + 0.1j)).astype(np.complex64)
    assert v.build_ofdm_rx_frame(cfg, noisy, bits).evm_db == pytest.approx(-20.0, abs=1e-4)
    assert v.build_ofdm_rx_frame(cfg, soft[:40], bits).num_symbols == 0
    assert v.build_ofdm_rx_frame(cfg, soft[:40], bits).evm_db is None
    with pytest.raises(TypeError, match="The given array is not contiguous or is misaligned."):
        v.build_ofdm_rx_frame(cfg, soft[::2], bits)
    with pytest.raises(TypeError):
        v.OfdmRxFrame()
    with pytest.raises(AttributeError):
        f.num_symbols = 3


def test_nan_samples_do_not_crash(rng):
    cfg = make("qam256")
    d = v.OfdmDemod(cfg, "pilot_interp")
    x = np.full(80, np.nan + 0j, np.complex64)
    soft, bits = d.demodulate_soft(x)
    assert bits.shape == (cfg.bits_per_ofdm_symbol,)
    assert set(np.unique(bits)) <= {0, 1}
    # The NaN estimate does not stay: the next clean symbol decodes.
    clean_bits = bits_for(cfg, rng)
    np.testing.assert_array_equal(d.demodulate(v.OfdmMod(cfg).modulate(clean_bits)), clean_bits)


def test_prefix_longer_than_the_fft_and_sizes_that_wrap():
    empty_i, empty_c = np.zeros(0, np.int32), np.zeros(0, np.complex64)
    cfg = v.OfdmConfig(64, 100, empty_i, empty_i, empty_c, 1e6, 0.0, 1.0, "qpsk", 4)
    d = v.OfdmDemod(cfg)
    assert d.demodulate(np.ones(164, np.complex64)).shape == (cfg.bits_per_ofdm_symbol,)
    with pytest.raises(ValueError, match=r"input too short \(163 < 164\)"):
        d.demodulate(np.ones(163, np.complex64))
    cfg = v.OfdmConfig(64, 2 ** 64 - 1, empty_i, empty_i, empty_c, 1e6, 0.0, 1.0, "qpsk", 4)
    # A symbol length that wraps is a size too large to allocate.
    raises_text(MemoryError, f"samples per OFDM symbol overflows: 64 + {2**64 - 1}", lambda: v.OfdmDemod(cfg))
