import numpy as np
import pytest
from conftest import RefRotator, ref_mix

import vatel_sdr as v

C = np.float32(0.70710677)


def test_zero_frequency_bpsk_is_exact():
    out = v.BpskMod(48000.0, 0.0, 1.0).process(np.array([0, 1, 1], np.uint8))
    assert out.tolist() == [1 + 0j, -1 + 0j, -1 + 0j]


def test_first_sample_carries_one_step():
    out = v.BpskMod(4.0, 1.0, 2.0).process(np.zeros(4, np.uint8))
    assert np.allclose(out, [2j, -2, -2j, 2], atol=1e-5)


@pytest.mark.parametrize("cls, per_symbol", [(v.BpskMod, 1), (v.QpskMod, 2)])
def test_output_equals_reference_oscillator(cls, per_symbol, rng):
    fs, rf, gain = 48000.0, 1234.5, 0.75
    n = 2600  # past two renormalisation points
    bits = rng.integers(0, 4, size=n * per_symbol, dtype=np.uint8)
    mod = cls(fs, rf, gain)
    # Split into uneven calls: the carrier and the renormalisation count run on.
    pieces = np.split(bits, [per_symbol * 3, per_symbol * 1021, per_symbol * 1030])
    out = np.concatenate([mod.process(p) for p in pieces])
    ref = RefRotator(rf, fs)
    expect = np.empty(n, np.complex64)
    for i in range(n):
        p = ref.next()
        if per_symbol == 1:
            x = (np.float32(-1.0 if bits[i] & 1 else 1.0), np.float32(0.0))
        else:
            x = (-C if bits[2 * i] & 1 else C, -C if bits[2 * i + 1] & 1 else C)
        expect[i] = ref_mix(x[0], x[1], p, gain)
    assert out.view(np.uint64).tolist() == expect.view(np.uint64).tolist()


def test_phasor_is_renormalised_every_1024_samples():
    out = v.BpskMod(1000.0, 123.0, 1.0).process(np.zeros(4096, np.uint8))
    mag = np.abs(out.astype(np.complex128))
    for k in (1023, 2047, 4095):
        assert abs(mag[k] - 1.0) < 2e-7


def test_split_calls_equal_one_call(rng):
    bits = rng.integers(0, 2, size=8, dtype=np.uint8)
    one = v.BpskMod(8000.0, 1000.0, 1.0).process(bits)
    mod = v.BpskMod(8000.0, 1000.0, 1.0)
    two = np.concatenate([mod.process(bits[:3]), mod.process(bits[3:])])
    assert np.array_equal(one.view(np.uint64), two.view(np.uint64))


def test_qpsk_symbol_counts_and_points():
    mod = v.QpskMod(8000.0, 0.0, 1.0)
    assert mod.process(np.zeros(5, np.uint8)).shape == (2,)
    assert mod.process(np.zeros(0, np.uint8)).shape == (0,)
    out = v.QpskMod(8000.0, 0.0, 1.0).process(np.array([0, 1], np.uint8))
    assert out[0] == np.complex64(complex(C, -C))


def test_only_least_significant_bit_counts():
    a = v.BpskMod(8000.0, 0.0, 1.0).process(np.array([2, 3, 254, 255], np.uint8))
    b = v.BpskMod(8000.0, 0.0, 1.0).process(np.array([0, 1, 0, 1], np.uint8))
    assert np.array_equal(a, b)


@pytest.mark.parametrize("cls, gain, iq, bits", [
    (v.QpskDemod, 1.0, [0.5 - 0.5j], [0, 1]),
    (v.QpskDemod, 1.0, [0j], [0, 0]),
    (v.QpskDemod, 1.0, [complex(-0.0, -0.0)], [0, 0]),
    (v.BpskDemod, -1.0, [0.5], [1]),
    (v.BpskDemod, 0.0, [-3.0], [0]),
    (v.BpskDemod, float("nan"), [-3.0], [0]),
    (v.BpskDemod, 1e-30, [-3.0], [1]),
    (v.BpskDemod, 1.0, [complex(float("nan"), 0)], [0]),
])
def test_decisions(cls, gain, iq, bits):
    assert cls(gain).process(np.array(iq, np.complex64)).tolist() == bits


def test_set_gain_takes_effect():
    d = v.BpskDemod(1.0)
    x = np.array([0.5], np.complex64)
    assert d.process(x).tolist() == [0]
    d.set_gain(-2.0)
    assert d.process(x).tolist() == [1]


@pytest.mark.parametrize("mod_cls, demod_cls", [(v.BpskMod, v.BpskDemod), (v.QpskMod, v.QpskDemod)])
def test_round_trip_through_noise(mod_cls, demod_cls, rng):
    bits = rng.integers(0, 2, size=20000, dtype=np.uint8)
    iq = mod_cls(48000.0, 0.0, 1.0).process(bits)
    noise = (rng.normal(size=iq.size) + 1j * rng.normal(size=iq.size)) * 0.15
    out = demod_cls(1.0).process((iq + noise).astype(np.complex64))
    assert np.array_equal(out, bits)
