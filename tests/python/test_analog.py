"""Analog and QAM modems through the Python surface: round trips, block
splits, error texts."""
import numpy as np
import pytest

import vatel_sdr as v

FS = 48000.0


def tone(freq, n, fs=FS, amp=1.0):
    return (amp * np.cos(2 * np.pi * freq * np.arange(n) / fs)).astype(np.float32)


def tone_fit(x, freq, fs=FS):
    """The amplitude of x's least-squares fit by one tone plus DC, and the
    SNR against that fit."""
    t = np.arange(x.size) / fs
    basis = np.stack([np.cos(2 * np.pi * freq * t), np.sin(2 * np.pi * freq * t), np.ones_like(t)], 1)
    coef, *_ = np.linalg.lstsq(basis, x.astype(np.float64), rcond=None)
    fit = basis[:, :2] @ coef[:2]
    resid = x - basis @ coef
    return np.hypot(coef[0], coef[1]), 10 * np.log10(np.sum(fit ** 2) / np.sum(resid ** 2))


def audio_lowpass(freq, audio_bw_hz, fs=FS):
    """Response at freq of the modems' audio low-pass: two RBJ low-pass
    sections with the corner at 0.9 audio_bw_hz and Q = 1/sqrt(2)."""
    w0 = 2 * np.pi * 0.9 * audio_bw_hz / fs
    c, alpha = np.cos(w0), np.sin(w0) / np.sqrt(2)
    z = np.exp(-2j * np.pi * freq / fs)
    section = (1 - c) / 2 * (1 + 2 * z + z * z) / ((1 + alpha) - 2 * c * z + (1 - alpha) * z * z)
    return section ** 2


def dc_blocker(freq, fs=FS):
    """Response at freq of the DC blocker, pole 1 - 2 pi 2 / fs."""
    z = np.exp(-2j * np.pi * freq / fs)
    return (1 - z) / (1 - (1 - 4 * np.pi / fs) * z)


def noise(rng, n, sigma):
    return (rng.normal(0, sigma, n) + 1j * rng.normal(0, sigma, n)).astype(np.complex64)


SETTLE = 24000  # the DC blockers settle within half a second


# The level each chain must recover from a 1 kHz tone of amplitude 0.8 (1 for
# PM): AM, the envelope's swing 0.5 x 0.8 (x 0.9482 for the |I| weight); FM,
# the phase step 2 pi 5000 x 0.8 / fs per sample over the 5000 Hz deviation;
# PM, the step of a phase 1 x the tone, 2 sin(pi 1000 / fs); SSB, the 500 Hz
# product left by the 1500 Hz IF and the 2500 Hz one its low-pass leaves,
# mixed down to 1 kHz together.
SSB_IF = (np.conj(audio_lowpass(500.0, 1200.0 / 0.9)) + audio_lowpass(2500.0, 1200.0 / 0.9)) / 2
AM_LEVEL = 0.4 * abs(audio_lowpass(1000.0, 4000.0) * dc_blocker(1000.0))
FM_LEVEL = 0.8 * 2 * np.pi / FS * abs(audio_lowpass(1000.0, 4000.0))
PM_LEVEL = 2 * np.sin(np.pi * 1000.0 / FS) * abs(audio_lowpass(1000.0, 4000.0))
SSB_LEVEL = 0.8 * abs(SSB_IF * audio_lowpass(1000.0, 3000.0) * dc_blocker(1000.0))


@pytest.mark.parametrize("name, mod, demod, min_snr, level", [
    ("am", lambda: v.AmDsbMod(FS, 0.0, 1.0, 0.5), lambda: v.AmEnvelopeDemod(FS, 4000.0), 25, AM_LEVEL),
    ("am_abs", lambda: v.AmDsbMod(FS, 0.0, 1.0, 0.5), lambda: v.AmEnvelopeDemod(FS, 4000.0, True), 20,
     0.9482 * AM_LEVEL),
    ("fm", lambda: v.FmPhaseAccumMod(FS, 5000.0, 0.0), lambda: v.FmQuadratureDemod(FS, 5000.0, 4000.0), 25,
     FM_LEVEL),
    ("pm", lambda: v.PmDirectPhaseMod(FS, 1.0, 0.0), lambda: v.PmQuadratureDemod(FS, 1.0, 4000.0), 20,
     PM_LEVEL),
    ("usb", lambda: v.SsbPhasingMod(FS, 1200.0 / 0.9, 1500.0, 10000.0, True),
     lambda: v.SsbProductDemod(FS, 11500.0, 3000.0), 25, SSB_LEVEL),
    ("lsb", lambda: v.SsbPhasingMod(FS, 1200.0 / 0.9, 1500.0, 10000.0, False),
     lambda: v.SsbProductDemod(FS, 8500.0, 3000.0), 25, SSB_LEVEL),
])
def test_audio_round_trip_through_noise(name, mod, demod, min_snr, level, rng):
    audio = tone(1000.0, 48000, amp=0.8 if name != "pm" else 1.0)
    iq = mod().process(audio)
    assert iq.dtype == np.complex64 and iq.shape == audio.shape
    rx = demod().process(iq + noise(rng, iq.size, 0.01))
    assert rx.dtype == np.float32 and rx.shape == audio.shape
    amplitude, snr = tone_fit(rx[SETTLE:], 1000.0)
    assert snr > min_snr
    # Within 3 %: the arctangent's polynomial costs PM about 1.4 %.
    assert amplitude == pytest.approx(level, rel=0.03)


def test_cw_envelope_follows_the_keying(rng):
    key = np.zeros(9600, np.float32)
    key[2000:5000] = 1.0
    iq = v.CwKeyedMod(FS, 0.0, 5.0, 5.0).process(key)
    env = v.CwEnvelopeDemod(FS, 0.0, 200.0).process(iq + noise(rng, iq.size, 0.01))
    on, off = np.mean(env[4000:5000]), np.mean(env[8000:9600])
    assert on > 0.5 and off < 0.1 * on


def test_am_sudden_drop_keeps_output_finite():
    iq = np.concatenate([np.full(4800, 1.0, np.complex64), np.zeros(4800, np.complex64),
                         np.full(4800, 1.0, np.complex64)])
    out = v.AmEnvelopeDemod(FS, 3000.0).process(iq)
    assert np.all(np.isfinite(out))


STATEFUL = [
    (lambda: v.AmDsbMod(FS, 1000.0, 1.0, 0.5), "f"),
    (lambda: v.CwKeyedMod(FS, 700.0, 4.0, 4.0), "f"),
    (lambda: v.FmPhaseAccumMod(FS, 3000.0, 1000.0), "f"),
    (lambda: v.PmDirectPhaseMod(FS, 0.5, 1000.0), "f"),
    (lambda: v.SsbPhasingMod(FS, 3000.0, 1500.0, 2000.0, True), "f"),
    (lambda: v.AmEnvelopeDemod(FS, 3000.0), "c"),
    (lambda: v.CwEnvelopeDemod(FS, 700.0, 100.0), "c"),
    (lambda: v.SsbProductDemod(FS, 1500.0, 3000.0), "c"),
    (lambda: v.FmQuadratureDemod(FS, 3000.0, 3000.0), "c"),
    (lambda: v.PmQuadratureDemod(FS, 2.0, 3000.0), "c"),
    (lambda: v.QamMod(64, FS, 1000.0, 1.0), "b"),
]


@pytest.mark.parametrize("make, kind", STATEFUL)
def test_block_split_invariance(make, kind, rng):
    n = 3000 if kind != "b" else 6 * 500
    if kind == "f":
        x = rng.uniform(-1, 1, n).astype(np.float32)
    elif kind == "c":
        x = (rng.normal(size=n) + 1j * rng.normal(size=n)).astype(np.complex64)
    else:
        x = rng.integers(0, 2, n, dtype=np.uint8)
    whole = make().process(x)
    obj = make()
    # Bits are cut at symbol boundaries (6 bits a symbol): a partial symbol is
    # dropped, not kept.
    cuts = [0, 1, 7, 1024, 1500, n] if kind != "b" else [0, 6, 12, 1020, 1500, n]
    parts = [obj.process(x[a:b]) for a, b in zip(cuts, cuts[1:])]
    pieced = np.concatenate(parts)
    assert whole.tobytes() == pieced.tobytes()


@pytest.mark.parametrize("order", [16, 64, 256])
def test_qam_round_trip(order, rng):
    m = int(np.log2(order))
    bits = rng.integers(0, 2, m * 4000, dtype=np.uint8)
    iq = v.QamMod(order, FS, 0.0, 1.0).process(bits)
    assert iq.size == 4000
    assert abs(np.mean(np.abs(iq) ** 2) - 1.0) < 0.05
    sigma = {16: 0.02, 64: 0.01, 256: 0.005}[order]
    out = v.QamDemod(order, 1.0).process(iq + noise(rng, iq.size, sigma))
    assert np.array_equal(out, bits)


def test_qam_drops_a_partial_symbol():
    assert v.QamMod(16, FS, 0.0, 1.0).process(np.zeros(7, np.uint8)).size == 1


@pytest.mark.parametrize("make, text", [
    (lambda: v.QamMod(17, FS, 0.0, 1.0), "QamMod: order must be 16, 64, or 256"),
    (lambda: v.QamMod(0, FS, 0.0, 1.0), "QamMod: order must be 16, 64, or 256"),
    (lambda: v.QamDemod(32, 1.0), "QamDemod: order must be 16, 64, or 256"),
])
def test_qam_order_errors(make, text):
    with pytest.raises(ValueError) as info:
        make()
    assert str(info.value) == text


def test_qam_order_out_of_range():
    with pytest.raises(OverflowError, match="out of range integral type conversion attempted"):
        v.QamMod(-16, FS, 0.0, 1.0)


def test_setters_take_effect_and_keep_state():
    mod = v.FmPhaseAccumMod(FS, 1000.0, 0.0)
    mod.set_gain(2.0)
    assert np.allclose(np.abs(mod.process(np.zeros(10, np.float32))), 2.0, atol=1e-5)
    mod.set_deviation(0.0)
    out = mod.process(np.ones(10, np.float32))
    assert np.allclose(out, out[0], atol=1e-5)
    am = v.AmDsbMod(FS, 0.0, 1.0, 1.0)
    am.set_clamp(True)
    assert np.max(np.abs(am.process(np.full(10, 5.0, np.float32)))) <= 2.0 + 1e-6
    with pytest.raises(TypeError, match="argument 'on'"):
        am.set_clamp(1)
    pm = v.PmDirectPhaseMod(FS, 1.0, 0.0)
    pm.set_sensitivity(np.pi / 2)
    assert np.allclose(pm.process(np.ones(1, np.float32)), [1j], atol=1e-6)
