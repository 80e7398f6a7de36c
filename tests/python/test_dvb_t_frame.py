import itertools

import numpy as np
import pytest

import vatel_sdr as v

import dvb_t_model as model

CP = {"1/32": 64, "1/16": 128, "1/8": 256, "1/4": 512}


def mod(guard="1/32", constellation="qpsk", rate="1/2", frame_number=0, cell_id=0):
    return v.DvbTFrameMod(v.DvbTFrameParams(guard, constellation, rate, frame_number, cell_id))


# Every guard, constellation and rate, with payloads from empty to more than
# 68 symbols hold.
CASES = [(g, c, r, n)
         for (g, c, r), n in zip(itertools.product(model.GUARDS, model.BITS, model.RATES),
                                 itertools.cycle([0, 187, 1000, 9000, 30000, 188, 4321]))]


@pytest.mark.parametrize("guard,constellation,rate,length", CASES)
def test_frame_matches_the_independent_model(rng, guard, constellation, rate, length):
    payload = rng.integers(0, 256, length, dtype=np.uint8)
    frame_number, cell_id = int(rng.integers(0, 256)), int(rng.integers(0, 256))
    ref, n_symbols = model.frame(payload, guard, constellation, rate, frame_number, cell_id)
    f = mod(guard, constellation, rate, frame_number, cell_id).modulate(payload)
    assert f.n_symbols == n_symbols
    assert f.samples_per_symbol == 2048 + CP[guard]
    iq = f.iq
    assert iq.dtype == np.complex64 and iq.shape == (n_symbols * f.samples_per_symbol,)
    # A single wrong cell would move every sample of its symbol by ~1e-4.
    assert np.max(np.abs(iq - ref)) < 1e-6
    sym = iq.reshape(n_symbols, -1)
    cp = CP[guard]
    assert np.array_equal(sym[:, :cp], sym[:, -cp:])


def test_empty_payload_and_symbol_counts():
    f = mod().modulate(np.zeros(0, np.uint8))
    assert (f.n_symbols, f.samples_per_symbol, f.iq.size) == (68, 2112, 68 * 2112)
    assert mod("1/4").modulate(np.zeros(0, np.uint8)).iq.size == 68 * 2560
    # 11220 bytes need 77 symbols at QPSK 1/2: a second TPS block starts at 68.
    payload = np.arange(11220, dtype=np.uint8)
    ref, n = model.frame(payload, "1/32", "qpsk", "1/2", 1, 9)
    assert n == 77
    f = mod("1/32", "qpsk", "1/2", 1, 9).modulate(payload)
    assert f.n_symbols == 77
    assert np.max(np.abs(f.iq - ref)) < 1e-6
    # Symbol 68 carries the reference signs again, like symbol 0.
    tps_bins = (np.array(model.TPS) - 852) % 2048
    spectrum = np.fft.fft(f.iq.reshape(77, -1)[:, 64:], axis=1)[:, tps_bins]
    assert np.allclose(spectrum[68], spectrum[0], atol=1e-4)
    assert np.allclose(spectrum[68:77], spectrum[0:9], atol=1e-4)


def test_frame_is_repeatable_and_sends_two_frame_number_bits(rng):
    payload = rng.integers(0, 256, 500, dtype=np.uint8)
    a = mod(frame_number=1).modulate(payload).iq
    assert np.array_equal(a, mod(frame_number=1).modulate(payload).iq)
    assert np.array_equal(a, mod(frame_number=5).modulate(payload).iq)
    assert not np.array_equal(a, mod(frame_number=2).modulate(payload).iq)
    f = mod().modulate(payload)
    assert f.iq is not f.iq and np.array_equal(f.iq, f.iq)


def test_pilot_layout_on_air():
    f = mod().modulate(np.zeros(0, np.uint8))
    spectrum = np.fft.fft(f.iq.reshape(68, -1)[:, 64:], axis=1)
    assert np.max(np.abs(spectrum[:, 853:1196])) < 1e-4
    w = model.wk()
    for l in range(4):
        sc = np.arange(3 * l, 1705, 12)
        assert np.allclose(spectrum[l, (sc - 852) % 2048], (1 - 2 * w[sc].astype(float)) * 4 / 3,
                           atol=1e-4)
    cont = (np.array(model.CONTINUAL) - 852) % 2048
    assert np.allclose(spectrum[:, cont], spectrum[0, cont], atol=1e-4)
    # DC is a scattered pilot of phase 0: -4/3.
    assert abs(spectrum[0, 0] + 4 / 3) < 1e-4


def test_symbol_window():
    payload = np.arange(300, dtype=np.uint8)
    base = mod("1/16")
    plain = base.modulate(payload).iq
    assert np.array_equal(base.with_symbol_window(0).modulate(payload).iq, plain)
    S, R = 2176, 100
    tapered = base.with_symbol_window(R).modulate(payload).iq.reshape(68, S)
    p = plain.reshape(68, S)
    ramp = (1 - np.cos((np.arange(R, dtype=np.float32) + np.float32(0.5)) * np.float32(np.pi)
                       / np.float32(R))) / 2
    for sym in (0, 1, 67):
        assert np.allclose(tapered[sym, :R], p[sym, :R] * ramp, rtol=1e-5, atol=1e-9)
        assert np.allclose(tapered[sym, -R:], p[sym, -R:] * ramp[::-1], rtol=1e-5, atol=1e-9)
        assert np.array_equal(tapered[sym, R:-R], p[sym, R:-R])
    # A roll-off beyond half the symbol is used as S / 2.
    assert np.array_equal(base.with_symbol_window(10000).modulate(payload).iq,
                          base.with_symbol_window(S // 2).modulate(payload).iq)


def tx_lowpass_reference(x, num_taps, stopband_db=60.0):
    """x through the TX low-pass, in double precision: a Kaiser-windowed sinc
    of num_taps (made odd) taps with unit DC gain, its cutoff half a
    transition width above carrier 852, applied without its delay."""
    n = max(num_taps, 3) | 1
    half_width = (max(stopband_db, 21) - 8) / (n * 14.36) * 0.5
    cutoff = 852 / 2048 + half_width
    beta = 0.1102 * (stopband_db - 8.7)  # stopband_db above 50
    taps = 2 * cutoff * np.sinc(2 * cutoff * (np.arange(n) - n // 2)) * np.kaiser(n, beta)
    taps /= taps.sum()
    size = 1 << (x.size + n - 2).bit_length()
    y = np.fft.ifft(np.fft.fft(x.astype(np.complex128), size) * np.fft.fft(taps, size))
    return y[n // 2:n // 2 + x.size]


def test_tx_lowpass_builders_and_the_tap_limit():
    base = mod()
    payload = np.arange(100, dtype=np.uint8)
    plain = base.modulate(payload).iq
    lp = base.with_tx_lowpass(45)
    assert np.array_equal(base.modulate(payload).iq, plain)  # the receiver is unchanged
    filtered = lp.modulate(payload).iq
    assert np.max(np.abs(filtered - tx_lowpass_reference(plain, 45))) < 5e-6
    assert np.array_equal(filtered, base.with_tx_lowpass(45, stopband_db=60.0).modulate(payload).iq)
    # Out-of-band power falls (201 taps: a narrow transition above carrier 852).
    def oob(x):
        s = np.abs(np.fft.fft(x[: 2048 * 64].reshape(64, 2048), axis=1)) ** 2
        return s[:, 920:1130].sum() / s.sum()
    assert oob(base.with_tx_lowpass(201).modulate(payload).iq) < oob(plain) / 10
    # At the tap limit as well (the float sums stay within 1.3e-6 of the
    # reference here).
    reference = tx_lowpass_reference(plain, 4097)
    assert np.max(np.abs(base.with_tx_lowpass(4097).modulate(payload).iq - reference)) < 5e-6
    for cls, obj in (("DvbTFrameMod", base),
                     ("DvbTSuperFrameMod", v.DvbTSuperFrameMod(v.DvbTSuperFrameParams("1/32", "qpsk", "1/2")))):
        with pytest.raises(ValueError) as e:
            obj.with_tx_lowpass(4098)
        assert str(e.value).startswith(f"{cls}.with_tx_lowpass: num_taps must be at most 4097")
        with pytest.raises(ValueError, match="at most 4097"):
            obj.with_tx_lowpass(2**40)
        with pytest.raises(OverflowError):
            obj.with_tx_lowpass(-1)
        with pytest.raises(OverflowError):
            obj.with_symbol_window(-1)
        with pytest.raises(TypeError, match=r"^argument 'stopband_db': "):
            obj.with_tx_lowpass(45, "60")


def test_modulator_argument_errors():
    with pytest.raises(TypeError, match=r"^argument 'params': "):
        v.DvbTFrameMod(v.DvbTSuperFrameParams("1/32", "qpsk", "1/2"))
    with pytest.raises(TypeError, match=r"^argument 'params': "):
        v.DvbTSuperFrameMod(v.DvbTFrameParams("1/32", "qpsk", "1/2"))
    m = mod()
    with pytest.raises(TypeError, match=r"^argument 'payload': "):
        m.modulate(b"abc")
    with pytest.raises(TypeError, match=r"^argument 'payload': "):
        m.modulate(np.zeros(3, np.int32))
    with pytest.raises(TypeError, match="The given array is not contiguous or is misaligned."):
        m.modulate(np.zeros(10, np.uint8)[::2])
    for cls in ("DvbTFrame", "DvbTSuperFrame"):
        with pytest.raises(TypeError):
            getattr(v, cls)()
    assert v.DvbTFrameMod.__text_signature__ == "(params)"
    assert v.DvbTFrameMod.with_tx_lowpass.__text_signature__ == "($self, num_taps, stopband_db=60.0)"


def test_super_frame_split_and_frames():
    params = v.DvbTSuperFrameParams("1/8", "qam16", "3/4", cell_id=0x1234)
    payload = np.arange(1, 11, dtype=np.uint8)
    sf = v.DvbTSuperFrameMod(params).modulate(payload)
    assert sf.frame_payload_lens == [3, 3, 2, 2]
    assert (sf.symbols_per_frame, sf.samples_per_symbol, sf.n_symbols) == (68, 2304, 272)
    parts = [payload[0:3], payload[3:6], np.r_[payload[6:8], 0], np.r_[payload[8:10], 0]]
    frames = sf.iq.reshape(4, -1)
    for i, part in enumerate(parts):
        cell = 0x12 if i % 2 == 0 else 0x34
        alone = mod("1/8", "qam16", "3/4", i, cell).modulate(part.astype(np.uint8)).iq
        assert np.array_equal(frames[i], alone)
        ref, _ = model.frame(part, "1/8", "qam16", "3/4", i, cell)
        assert np.max(np.abs(frames[i] - ref)) < 1e-6
    empty = v.DvbTSuperFrameMod(params).modulate(np.zeros(0, np.uint8))
    assert empty.frame_payload_lens == [0, 0, 0, 0] and empty.n_symbols == 272
    for length, lens in [(1, [1, 0, 0, 0]), (7, [2, 2, 2, 1]), (8, [2, 2, 2, 2])]:
        got = v.DvbTSuperFrameMod(params).modulate(np.zeros(length, np.uint8)).frame_payload_lens
        assert got == lens


def test_super_frame_taper_and_lowpass_over_the_seams():
    params = v.DvbTSuperFrameParams("1/32", "qpsk", "1/2", cell_id=0xBEEF)
    base = v.DvbTSuperFrameMod(params)
    payload = np.arange(40, dtype=np.uint8)
    frame_len = 68 * 2112
    tapered = base.with_symbol_window(32).modulate(payload).iq.reshape(4, -1)
    for i in range(4):
        cell = 0xBE if i % 2 == 0 else 0xEF
        alone = mod("1/32", "qpsk", "1/2", i, cell).with_symbol_window(32).modulate(payload[10 * i:10 * i + 10])
        assert np.array_equal(tapered[i], alone.iq)
    lp = base.with_tx_lowpass(45)
    whole = lp.modulate(payload).iq
    separately = np.concatenate([
        mod("1/32", "qpsk", "1/2", i, 0xBE if i % 2 == 0 else 0xEF).with_tx_lowpass(45)
        .modulate(payload[10 * i:10 * i + 10]).iq for i in range(4)])
    delay = v.dvb_t_tx_lowpass_group_delay(45)
    near = np.zeros(whole.size, bool)
    for seam in (frame_len, 2 * frame_len, 3 * frame_len):
        near[seam - delay:seam + delay] = True
    assert np.array_equal(whole[~near], separately[~near])
    assert not np.allclose(whole[near], separately[near], atol=1e-7)
    unfiltered = base.modulate(payload).iq
    assert not np.array_equal(whole, unfiltered)
