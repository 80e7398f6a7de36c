"""DVB-T receivers: frame, super-frame and stream demodulators.

The channel in front of the receivers is an independent NumPy model (delay
with a noise lead-in, carrier offset off the carrier grid, a fixed phase,
multipath taps and white noise), so the receivers meet signals that their
transmitter did not shape for them.
"""
import functools
import subprocess
import sys
import textwrap

import numpy as np
import pytest
from hypothesis import given, settings
from hypothesis import strategies as st

import vatel_sdr as v

GUARDS = ["1/32", "1/16", "1/8", "1/4"]
CP = {"1/32": 64, "1/16": 128, "1/8": 256, "1/4": 512}
RATES = ["1/2", "2/3", "3/4", "5/6", "7/8"]
CONSTELLATIONS = ["qpsk", "qam16", "qam64"]
GI_ERR = "guard-interval acquisition failed (buffer too short or no CP lock)"
SHORT_ERR = "too few samples for the expected frame"
TPS_ERR = "TPS word failed to decode (BCH uncorrectable)"
PAYLOAD_ERR = "payload FEC/CRC decode failed"


def payload_of(n, seed=1):
    return np.random.default_rng(seed).integers(0, 256, n, dtype=np.uint8)


def modulate(payload, guard="1/32", constellation="qpsk", rate="1/2", frame_number=0, cell_id=0):
    params = v.DvbTFrameParams(guard, constellation, rate, frame_number, cell_id)
    return v.DvbTFrameMod(params).modulate(payload)


def channel(iq, rng, delay=0, carriers=0.0, phase=0.0, taps=(1.0,), snr_db=None, tail=0,
            lead_noise=True):
    """The NumPy channel: lead-in, multipath, carrier offset in carrier
    spacings (1/2048 of the sample rate), phase, noise, and a tail."""
    x = np.asarray(iq, np.complex128)
    power = np.mean(np.abs(x) ** 2)
    x = np.convolve(x, np.asarray(taps, np.complex128))[:len(x)]
    x = np.concatenate([np.zeros(delay), x, np.zeros(tail)])
    n = np.arange(len(x))
    x = x * np.exp(1j * (2 * np.pi * carriers * n / 2048 + phase))
    if snr_db is not None:
        sigma = np.sqrt(power / 10 ** (snr_db / 10) / 2)
        x = x + sigma * (rng.standard_normal(len(x)) + 1j * rng.standard_normal(len(x)))
    elif lead_noise and delay:
        sigma = np.sqrt(power / 1e3 / 2)
        x[:delay] += sigma * (rng.standard_normal(delay) + 1j * rng.standard_normal(delay))
    return x.astype(np.complex64)


def demod(guard="1/32", constellation="qpsk", rate="1/2", **kw):
    d = v.DvbTFrameDemod(v.DvbTFrameParams(guard, constellation, rate))
    if kw.get("icfo"):
        d = d.with_integer_cfo_correction(True)
    if "backoff" in kw:
        d = d.with_rx_window_backoff(kw["backoff"])
    return d


# ---------------------------------------------------------------- frames


@pytest.mark.parametrize("guard", GUARDS)
@pytest.mark.parametrize("constellation", CONSTELLATIONS)
def test_frame_round_trip_every_rate_through_delay_phase_and_noise(guard, constellation, rng):
    # The receiver leaves a fractional offset to the pilots of each symbol; its
    # inter-carrier interference (about -23 dB at 0.02 carriers) limits the
    # dense constellations, so the offset shrinks with them.
    snr = {"qpsk": 14, "qam16": 22, "qam64": 28}[constellation]
    cfo = {"qpsk": 0.03, "qam16": 0.01, "qam64": 0.004}[constellation]
    for i, rate in enumerate(RATES):
        payload = payload_of(300 + 97 * i, seed=i)
        frame = modulate(payload, guard, constellation, rate)
        rx = channel(frame.iq, rng, delay=int(rng.integers(1, 2048 + CP[guard] - CP[guard] // 2)),
                     carriers=cfo, phase=float(rng.uniform(-np.pi, np.pi)),
                     snr_db=snr + 2 * i, tail=2048)
        got = demod(guard, constellation, rate).decode(rx, frame.n_symbols, len(payload))
        assert got.payload == payload.tobytes(), (guard, constellation, rate)


# C/N over the 1705 active carriers at which every one of 100 frames (guard
# 1/4, 1000 bytes, delay, phase and an offset of up to 0.005 carriers)
# decodes, measured in 0.25 dB steps.  Half of them decode 0.5 to 0.75 dB
# lower, none 1.5 to 1.75 dB lower.
THRESHOLD_CN_DB = {("qpsk", "1/2"): 4.5, ("qam16", "3/4"): 13.75, ("qam64", "2/3"): 17.0}


def frames_at(rng, constellation, rate, cn_db, count, nbytes=1000):
    """How many of count frames decode through the channel at a C/N of
    cn_db over the active carriers (the noise over all 2048 bins is
    2048/1705 of that in band)."""
    decoded = 0
    d = demod("1/4", constellation, rate)
    for _ in range(count):
        payload = rng.integers(0, 256, nbytes, dtype=np.uint8)
        frame = modulate(payload, "1/4", constellation, rate)
        rx = channel(frame.iq, rng, delay=int(rng.integers(1, 2048)),
                     carriers=float(rng.uniform(-0.005, 0.005)), phase=float(rng.uniform(-np.pi, np.pi)),
                     snr_db=cn_db - 10 * np.log10(2048 / 1705), tail=2560)
        try:
            decoded += d.decode(rx, frame.n_symbols, nbytes).payload == payload.tobytes()
        except ValueError as e:
            assert str(e) in (TPS_ERR, PAYLOAD_ERR)
    return decoded


@pytest.mark.parametrize("mode", sorted(THRESHOLD_CN_DB), ids="-".join)
def test_sensitivity_near_the_threshold(mode):
    # 1.5 dB above the threshold (about 2 dB above where half the frames
    # decode) every frame decodes, so a loss of 2 dB fails; 3 dB below it
    # none does, so the noise really is where the test says.
    rng = np.random.default_rng(700 + sorted(THRESHOLD_CN_DB).index(mode))
    threshold = THRESHOLD_CN_DB[mode]
    assert frames_at(rng, *mode, threshold + 1.5, 10) == 10
    assert frames_at(rng, *mode, threshold - 3.0, 5) == 0


def test_frame_through_two_path_channel_with_backoff():
    rng = np.random.default_rng(5)
    payload = payload_of(1000)
    frame = modulate(payload, "1/8", "qam16", "1/2")
    taps = np.zeros(12, complex)
    taps[0], taps[11] = 1.0, 0.4j
    rx = channel(frame.iq, rng, delay=700, carriers=0.013, phase=1.0, taps=taps, snr_db=26,
                 tail=100)
    for backoff in (0, 8):
        got = demod("1/8", "qam16", "1/2", backoff=backoff).decode(rx, frame.n_symbols, 1000)
        assert got.payload == payload.tobytes()


# An echo 16 samples ahead of the main path, at 0.8 of its amplitude.
PRE_ECHO = np.zeros(17, complex)
PRE_ECHO[0], PRE_ECHO[16] = 0.8, 1.0


def test_frame_start_found_late_decodes_with_a_backoff():
    # The buffer begins with the main path's frame, the first 16 samples of
    # the echo ahead of it left out: the frame is acquired on the main path,
    # and the window at the end of the prefix reaches 16 samples into the
    # echo's next symbol.  Backed off by 16 samples it holds whole symbols of
    # both paths.
    payload = payload_of(1000)
    frame = modulate(payload, "1/8")
    for seed in (1, 2):
        rng = np.random.default_rng(seed)
        rx = channel(frame.iq, rng, carriers=0.01, phase=float(rng.uniform(-np.pi, np.pi)),
                     taps=PRE_ECHO, snr_db=20, tail=3000)[16:]
        with pytest.raises(ValueError, match=f"^{PAYLOAD_ERR}$"):
            demod("1/8").decode(rx, frame.n_symbols, 1000)
        got = demod("1/8", backoff=16).decode(rx, frame.n_symbols, 1000)
        assert got.payload == payload.tobytes(), seed


def test_tps_reports_the_transmitters_frame_number_and_cell_id():
    frame = modulate(payload_of(10), "1/16", "qam64", "5/6", frame_number=7, cell_id=0xA5)
    d = v.DvbTFrameDemod(v.DvbTFrameParams("1/16", "qam64", "5/6", 2, 9))
    got = d.decode(frame.iq, frame.n_symbols, 10)
    assert (got.tps.frame_number, got.tps.cell_id) == (3, 0xA5)
    assert (got.tps.guard, got.tps.constellation, got.tps.code_rate) == ("1/16", "qam64", "5/6")
    assert got.tps is not got.tps and got.payload is not got.payload
    assert repr(got.tps) == ('TpsWord(frame_number=3, constellation="qam64", code_rate="5/6", '
                             'guard="1/16", cell_id=165)')


@pytest.mark.parametrize("shift", [3, -7, 32])
def test_integer_offset_found_with_the_correction(shift, rng):
    payload = payload_of(500)
    frame = modulate(payload, "1/32", "qpsk", "2/3")
    rx = channel(frame.iq, rng, delay=333, carriers=shift + 0.03, phase=0.4, snr_db=20, tail=50)
    got = demod("1/32", "qpsk", "2/3", icfo=True).decode(rx, frame.n_symbols, 500)
    assert got.payload == payload.tobytes()


def test_integer_offset_out_of_range_or_without_the_correction_fails(rng):
    payload = payload_of(500)
    frame = modulate(payload, "1/32", "qpsk", "2/3")
    for shift, icfo in ((33, True), (3, False)):
        rx = channel(frame.iq, rng, delay=333, carriers=shift, snr_db=30, tail=50)
        with pytest.raises(ValueError) as e:
            demod("1/32", "qpsk", "2/3", icfo=icfo).decode(rx, frame.n_symbols, 500)
        assert str(e.value) in (TPS_ERR, PAYLOAD_ERR)


def test_builders_and_attributes():
    d = demod("1/4", "qam16", "3/4")
    assert (d.integer_cfo_correction, d.rx_window_backoff) == (False, 0)
    e = d.with_integer_cfo_correction(True).with_rx_window_backoff(10**12)
    assert (e.integer_cfo_correction, e.rx_window_backoff) == (True, 10**12)
    assert (d.integer_cfo_correction, d.rx_window_backoff) == (False, 0)
    with pytest.raises(OverflowError):
        d.with_rx_window_backoff(-1)


def test_huge_backoff_acts_as_the_cyclic_prefix():
    payload = payload_of(200)
    frame = modulate(payload, "1/32", "qpsk", "1/2")
    rx = np.concatenate([np.zeros(100, np.complex64), frame.iq, np.zeros(10, np.complex64)])
    for backoff in (64, 10**15):
        assert demod(backoff=backoff).decode(rx, frame.n_symbols, 200).payload == payload.tobytes()


def test_errors_in_the_order_of_the_algorithm():
    frame = modulate(payload_of(100))
    iq, n = frame.iq, frame.n_symbols
    d = demod()
    cases = [
        (iq[:64 + 2112 + 2046], n, 100, GI_ERR),
        (iq[:n * 2112 - 1], n, 100, SHORT_ERR),
        (iq, 0, 100, TPS_ERR),
        (iq, 67, 100, TPS_ERR),
        (np.zeros(n * 2112, np.complex64), n, 100, TPS_ERR),
        (iq, n, 10**7, PAYLOAD_ERR),
        (iq, n, 2**64 - 1, PAYLOAD_ERR),
    ]
    for samples, n_symbols, length, text in cases:
        with pytest.raises(ValueError) as e:
            d.decode(samples, n_symbols, length)
        assert str(e.value) == text, (len(samples), n_symbols, length)
    # Exactly long enough decodes; an absurd symbol count is too few samples.
    assert d.decode(iq, n, 100).payload == payload_of(100).tobytes()
    with pytest.raises(ValueError, match="too few samples"):
        d.decode(iq, 2**62, 100)


def test_too_few_samples_exactly_one_short_after_a_delay():
    frame = modulate(payload_of(100))
    rx = np.concatenate([np.zeros(77, np.complex64), frame.iq])
    d = demod()
    assert d.decode(rx, frame.n_symbols, 100).payload == payload_of(100).tobytes()
    with pytest.raises(ValueError, match="^too few samples for the expected frame$"):
        d.decode(rx[:-1], frame.n_symbols, 100)


def test_payload_len_larger_zero_and_smaller():
    payload = payload_of(200)
    frame = modulate(payload)
    d = demod()
    more = d.decode(frame.iq, frame.n_symbols, 400).payload
    assert more[:200] == payload.tobytes() and len(more) == 400
    # The second packet's zero fill, then a null packet's bytes.
    assert more[200:374] == bytes(174)
    assert more[374:377] == b"\x1f\xff\x10" and more[377:] == b"\xff" * 23
    assert d.decode(frame.iq, frame.n_symbols, 0).payload == b""
    assert d.decode(frame.iq, frame.n_symbols, 150).payload == payload[:150].tobytes()


def test_signal_free_buffers_are_not_frames():
    n = 68
    d = demod()
    for fill in (0.0, 0.3 + 0.1j, np.nan, np.inf, complex(np.nan, np.inf)):
        x = np.full(n * 2112 + 4000, fill, np.complex64)
        with pytest.raises(ValueError) as e:
            d.with_integer_cfo_correction(True).decode(x, n, 100)
        assert str(e.value) == TPS_ERR, fill


def test_argument_conventions():
    d = demod()
    with pytest.raises(TypeError):
        d.decode(np.zeros(10, np.complex128), 68, 0)
    with pytest.raises(TypeError):
        d.decode(np.zeros(20, np.complex64)[::2], 68, 0)
    with pytest.raises(OverflowError):
        d.decode(np.zeros(10, np.complex64), -1, 0)
    with pytest.raises(TypeError):
        v.DvbTRxFrame()


# ---------------------------------------------------------- super-frames


def super_frame(payload, cell_id=0x1234, guard="1/32", constellation="qpsk", rate="1/2"):
    return v.DvbTSuperFrameMod(
        v.DvbTSuperFrameParams(guard, constellation, rate, cell_id)).modulate(payload)


def super_demod(guard="1/32", constellation="qpsk", rate="1/2", cell_id=0):
    return v.DvbTSuperFrameDemod(v.DvbTSuperFrameParams(guard, constellation, rate, cell_id))


def test_super_frame_round_trip_through_the_channel(rng):
    payload = payload_of(1001)
    sf = super_frame(payload, 0xBEEF, "1/16", "qam16", "2/3")
    rx = channel(sf.iq, rng, delay=0, carriers=3.01, phase=2.0, snr_db=24, tail=3000)
    d = super_demod("1/16", "qam16", "2/3").with_integer_cfo_correction(True)
    assert d.integer_cfo_correction and d.rx_window_backoff == 0
    got = d.decode(rx, sf.symbols_per_frame, sf.frame_payload_lens)
    assert got.payload == payload.tobytes() and got.cell_id == 0xBEEF
    empty = super_frame(np.zeros(0, np.uint8), 7)
    got = super_demod().decode(empty.iq, empty.symbols_per_frame, [0, 0, 0, 0])
    assert (got.payload, got.cell_id) == (b"", 7)


def test_super_frame_errors():
    sf = super_frame(payload_of(40))
    s, lens, iq = sf.symbols_per_frame, sf.frame_payload_lens, sf.iq
    d = super_demod()
    frame_len = s * 2112
    cases = [
        (iq[:frame_len], "super-frame: too few samples for four frames"),
        (iq[:frame_len - 1], "super-frame: frame 0 failed: " + SHORT_ERR),
        (iq[:3 * frame_len - 1], "super-frame: too few samples for four frames"),
        # Frame 3 needs all of its samples before it is tried.
        (iq[:4 * frame_len - 1], "super-frame: too few samples for four frames"),
    ]
    for samples, text in cases:
        with pytest.raises(ValueError) as e:
            d.decode(samples, s, lens)
        assert str(e.value) == text
    with pytest.raises(ValueError, match=r"^expected a sequence of length 4 \(got 3\)$"):
        d.decode(iq, s, [1, 2, 3])
    with pytest.raises(TypeError):
        d.decode(iq, s, 4)
    with pytest.raises(OverflowError):
        d.decode(iq, s, [1, 2, 3, -4])
    with pytest.raises(ValueError) as e:
        d.decode(iq, 2**62, lens)
    assert str(e.value) == "super-frame: frame 0 failed: " + SHORT_ERR
    # A frame that decodes wrongly names its index and the frame error.
    bad = iq.copy()
    bad[2 * frame_len:3 * frame_len] = 0
    with pytest.raises(ValueError) as e:
        d.decode(bad, s, lens)
    assert str(e.value) == "super-frame: frame 2 failed: " + TPS_ERR


def test_super_frame_numbers_and_cell_id_from_frames_two_and_three():
    def frames(numbers, cells):
        return np.concatenate([modulate(payload_of(5, i), frame_number=f, cell_id=c).iq
                               for i, (f, c) in enumerate(zip(numbers, cells))])
    d = super_demod()
    with pytest.raises(ValueError) as e:
        d.decode(frames([0, 1, 2, 2], [1, 2, 3, 4]), 68, [5] * 4)
    assert str(e.value) == "super-frame: frame numbers out of sequence (got [0, 1, 2, 2], expected 0..3)"
    got = d.decode(frames([4, 5, 6, 7], [0x11, 0x22, 0xAB, 0xCD]), 68, [5] * 4)
    assert got.cell_id == 0xABCD
    assert got.payload == b"".join(payload_of(5, i).tobytes() for i in range(4))


# --------------------------------------------------------------- streams


def stream(n_symbols=68, payload_len=100, guard="1/32", **kw):
    return v.DvbTFrameStreamDemod(v.DvbTFrameParams(guard, "qpsk", "1/2"), n_symbols,
                                  payload_len, **kw)


def frames_signal(count, payload_len=100, guard="1/32", seed=0):
    payloads = [payload_of(payload_len, seed + i) for i in range(count)]
    frames = [modulate(p, guard) for p in payloads]
    return payloads, np.concatenate([f.iq for f in frames]), frames[0].n_symbols


def chunked(x, sizes):
    i, k = 0, 0
    while i < len(x):
        n = sizes[k % len(sizes)]
        yield x[i:i + n]
        i += n
        k += 1


@pytest.mark.parametrize("shift", [0, 3])
@pytest.mark.parametrize("sizes", [[10**9], [50000, 0, 123457], [2112 * 68], [7919, 0, 0, 31]])
def test_stream_every_payload_once_in_order_for_any_chunking(shift, sizes):
    rng = np.random.default_rng(11)
    payloads, iq, n = frames_signal(3)
    rx = channel(iq, rng, delay=1500, carriers=shift + 0.02, phase=0.3, snr_db=22, tail=2112)
    s = stream(n, 100, integer_cfo_correction=bool(shift))
    got = []
    for chunk in chunked(rx, sizes):
        got += s.feed(chunk)
    got += s.flush()
    assert [f.payload for f in got] == [p.tobytes() for p in payloads]
    assert s.flush() == []


@settings(max_examples=8, deadline=None)
@given(st.lists(st.integers(0, 90000), min_size=1, max_size=6))
def test_stream_any_split_gives_the_same_frames(sizes):
    if not any(sizes):
        sizes = sizes + [1]
    payloads, iq, n = split_signal()
    s = stream(n)
    got = []
    for chunk in chunked(iq, sizes):
        got += s.feed(chunk)
    got += s.flush()
    assert [f.payload for f in got] == [p.tobytes() for p in payloads]


@functools.cache
def split_signal():
    payloads, iq, n = frames_signal(2, seed=40)
    return payloads, np.concatenate([np.zeros(999, np.complex64), iq]), n


def test_stream_buffered_exact_after_each_frame():
    payloads, iq, n = frames_signal(2)
    period = 2112
    s = stream(n)
    lead = 500
    x = np.concatenate([np.zeros(lead, np.complex64), iq, np.zeros(period, np.complex64)])
    # Up to one period beyond the first frame nothing is decoded.
    assert s.feed(x[:period * (n + 1) - 1]) == [] and s.buffered == period * (n + 1) - 1
    first = s.feed(x[period * (n + 1) - 1:period * (n + 1)])
    assert [f.payload for f in first] == [payloads[0].tobytes()]
    assert s.buffered == period * (n + 1) - (lead + n * period)
    rest = s.feed(x[period * (n + 1):])
    assert [f.payload for f in rest] == [payloads[1].tobytes()]
    assert s.buffered == len(x) - (lead + 2 * n * period)
    s.clear()
    assert s.buffered == 0 and s.flush() == []


def test_stream_flush_decodes_the_last_frame():
    payloads, iq, n = frames_signal(2)
    s = stream(n)
    # Two frames and one more period at once: both in one call.
    both = s.feed(np.concatenate([iq, np.zeros(2112, np.complex64)]))
    assert [f.payload for f in both] == [p.tobytes() for p in payloads]
    s.clear()
    assert [f.payload for f in s.feed(iq)] == [payloads[0].tobytes()]
    assert s.buffered == n * 2112
    assert [f.payload for f in s.flush()] == [payloads[1].tobytes()]
    assert s.buffered == 0
    # One frame alone, exactly N P samples: the feed keeps it, flush finds it.
    s.feed(iq[:n * 2112])
    assert [f.payload for f in s.flush()] == [payloads[0].tobytes()]


def test_stream_feed_with_errors_reports_failures_in_order():
    rng = np.random.default_rng(2)
    payloads, iq, n = frames_signal(1)
    noise = (rng.standard_normal(n * 2112) + 1j * rng.standard_normal(n * 2112)) * 0.02
    x = np.concatenate([noise.astype(np.complex64), iq, np.zeros(2112, np.complex64)])
    s = stream(n)
    out = s.feed_with_errors(x)
    frames = [f for f, e in out if f is not None]
    errors = [e for f, e in out if e is not None]
    assert [f.payload for f in frames] == [payloads[0].tobytes()]
    assert errors and all(e in (TPS_ERR, PAYLOAD_ERR) for e in errors)
    assert all((f is None) != (e is None) for f, e in out)


def test_stream_recovers_after_a_lead_in_that_is_not_a_frame_boundary():
    payloads, iq, n = frames_signal(4)
    period = 2112
    # Start 17 symbols and 1000 samples into the first frame.
    x = np.concatenate([iq[17 * period + 1000:], np.zeros(period, np.complex64)])
    s = stream(n)
    got = s.feed(x) + s.flush()
    assert [f.payload for f in got][-3:] == [p.tobytes() for p in payloads[1:]]
    assert len(got) == 3


def test_stream_frame_starts_found_late_decode_with_a_backoff():
    # A stream that begins inside a frame finds the next frame start from its
    # TPS word on the symbol grid of the main path, 16 samples after the echo
    # ahead of it, and keeps that grid: with the window at the end of the
    # prefix every frame fails, backed off by 16 samples every whole frame
    # decodes.
    rng = np.random.default_rng(6)
    payloads, iq, n = frames_signal(4, guard="1/8")
    rx = channel(iq, rng, carriers=0.01, phase=2.5, taps=PRE_ECHO, snr_db=20, tail=2304)
    rx = rx[17 * 2304 + 1000:]
    s = stream(n, 100, "1/8")
    assert [e for f, e in s.feed_with_errors(rx)] == [TPS_ERR, PAYLOAD_ERR, PAYLOAD_ERR]
    assert s.flush() == []
    s = stream(n, 100, "1/8", rx_window_backoff=16)
    got = [f.payload for f in s.feed(rx) + s.flush()]
    assert got == [p.tobytes() for p in payloads[1:]]


@pytest.mark.parametrize("slip", [-1500, 700, 2112 * 3 + 5])
def test_stream_recovers_after_a_slip(slip):
    payloads, iq, n = frames_signal(4)
    period = 2112
    cut = n * period + 5 * period  # inside the second frame
    if slip < 0:
        x = np.concatenate([iq[:cut], iq[cut - slip:]])
    else:
        x = np.concatenate([iq[:cut], np.zeros(slip, np.complex64), iq[cut:]])
    x = np.concatenate([x, np.zeros(period, np.complex64)])
    s = stream(n)
    got = [f.payload for f in s.feed(x) + s.flush()]
    # The frame with the slip is lost, no other, and nothing else appears.
    assert got == [payloads[i].tobytes() for i in (0, 2, 3)]


def test_stream_reports_no_frame_from_signal_free_input():
    n = 68
    for fill in (0.0, 1.0 + 0.5j, np.nan, np.inf):
        s = stream(n, integer_cfo_correction=True)
        x = np.full(3 * n * 2112, fill, np.complex64)
        assert s.feed(x) == [] and s.flush() == []
        assert s.buffered < 2112 * (n + 1)


def test_stream_idle_on_noise_holds_bounded_memory():
    rng = np.random.default_rng(4)
    s = stream(68)
    chunk = ((rng.standard_normal(100000) + 1j * rng.standard_normal(100000)) * 0.01)
    chunk = chunk.astype(np.complex64)
    highest = 0
    for _ in range(30):
        assert s.feed(chunk) == []
        highest = max(highest, s.buffered)
    assert highest < 2112 * 69


def test_stream_constructor_and_attributes():
    s = stream(68, 10, integer_cfo_correction=True, rx_window_backoff=12)
    assert (s.integer_cfo_correction, s.rx_window_backoff, s.buffered) == (True, 12, 0)
    with pytest.raises(ValueError):
        stream(0)
    with pytest.raises(OverflowError):
        stream(-1)
    assert s.feed(np.zeros(0, np.complex64)) == []
    assert s.feed_with_errors(np.zeros(0, np.complex64)) == []


SIZE_SCRIPT = textwrap.dedent("""
    import numpy as np, vatel_sdr as v
    p = v.DvbTFrameParams("1/32", "qpsk", "1/2")
    x = np.zeros(5 * 2112, np.complex64)
    for n, length in [(2**64 - 1, 10), (2**63, 10), (68, 2**64 - 1), (68, 10**7), (2**62, 2**64 - 1)]:
        s = v.DvbTFrameStreamDemod(p, n, length)
        assert s.feed(x) == [] and s.flush() == [] and s.buffered == len(x), (n, length)
    frame = v.DvbTFrameMod(p).modulate(np.zeros(10, np.uint8))
    s = v.DvbTFrameStreamDemod(p, frame.n_symbols, 10**7)
    out = s.feed_with_errors(np.concatenate([frame.iq, frame.iq]))
    assert out and all(f is None and e == "payload FEC/CRC decode failed" for f, e in out), out
    print("ok")
""")


def test_stream_sizes_never_wrap_or_exhaust_memory():
    r = subprocess.run([sys.executable, "-c", SIZE_SCRIPT], capture_output=True, text=True,
                       timeout=60)
    assert r.returncode == 0 and r.stdout.strip() == "ok", r.stderr


def test_stream_of_long_frames_recovers_from_a_later_tps_block():
    # 15000 bytes take about 107 symbols: the TPS word repeats at symbol 68.
    payloads, iq, n = frames_signal(3, payload_len=15000)
    assert n > 68 + 16
    period = 2112
    s = stream(n, 15000)
    x = np.concatenate([iq[68 * period:], np.zeros(period, np.complex64)])
    got = [f.payload for f in s.feed(x) + s.flush()]
    assert got == [p.tobytes() for p in payloads[1:]]
    # A frame spoiled on the frame grid costs only itself.
    spoiled = iq.copy()
    spoiled[10 * period:12 * period] = 0
    s = stream(n, 15000)
    x = np.concatenate([spoiled, np.zeros(period, np.complex64)])
    got = [f.payload for f in s.feed(x) + s.flush()]
    assert got == [p.tobytes() for p in payloads[1:]]
