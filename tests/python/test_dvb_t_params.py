import math

import numpy as np
import pytest

import vatel_sdr as v

GUARDS = {"1/32": 64, "1/16": 128, "1/8": 256, "1/4": 512}


def test_cp_len_per_guard_and_refusals():
    for g, cp in GUARDS.items():
        assert v.dvb_t_cp_len(g) == cp
        assert v.dvb_t_cp_len(guard=g) == cp
    for bad, shown in [("1/3", '"1/3"'), ("1/8 ", '"1/8 "'), ("a\"b\n", '"a\\"b\\n"'), ("", '""')]:
        with pytest.raises(ValueError) as e:
            v.dvb_t_cp_len(bad)
        assert str(e.value) == f"unknown guard interval {shown} (expected 1/32, 1/16, 1/8, 1/4)"
    with pytest.raises(TypeError, match=r"^argument 'guard': "):
        v.dvb_t_cp_len(8)


def test_narrow_band_rates_and_aliases():
    table = {"333khz": (399990.625, 333000.0), "1mhz": (1201173.0, 1000000.0),
             "2mhz": (2402346.0, 2000000.0)}
    aliases = {"333k": "333khz", "1m": "1mhz", "2m": "2mhz"}
    for mode, (fs, occ) in table.items():
        assert v.nb_bandwidth_fs(mode) == fs
        assert v.nb_bandwidth_occupied_hz(mode) == occ
    for alias, mode in aliases.items():
        assert v.nb_bandwidth_fs(alias) == table[mode][0]
        assert v.nb_bandwidth_occupied_hz(alias) == table[mode][1]
    # fs is occupied x 2048 / 1705 rounded once to float32.
    for mode, (fs, occ) in table.items():
        assert fs == float(np.float32(occ * 2048) / np.float32(1705))
    for f in (v.nb_bandwidth_fs, v.nb_bandwidth_occupied_hz):
        with pytest.raises(ValueError) as e:
            f("333KHZ")
        assert str(e.value) == 'unknown NB bandwidth "333KHZ" (expected 333khz, 1mhz, 2mhz)'


def test_lowpass_numerology():
    assert v.dvb_t_max_rx_window_backoff() == 85
    with pytest.raises(TypeError, match="takes no arguments"):
        v.dvb_t_max_rx_window_backoff(1)
    suggested = {None: 45, 60.0: 45, 21.0: 11, -5.0: 11, 40.0: 27, 80.0: 61, 100.0: 77,
                 math.nan: 11, math.inf: 2**64 - 1}
    for db, taps in suggested.items():
        got = v.dvb_t_tx_lowpass_suggested_taps() if db is None else v.dvb_t_tx_lowpass_suggested_taps(db)
        assert got == taps, db
    # Independent Kaiser estimate (A - 8) / (14.36 df), df from carrier 852 to fs/2.
    f32 = np.float32
    for db in (25.0, 33.3, 47.0, 59.9, 70.0, 120.0):
        a = max(f32(db), f32(21)) - f32(8)
        n = int(np.ceil(a / (f32(14.36) * (f32(0.5) - f32(852) / f32(2048)))))
        assert v.dvb_t_tx_lowpass_suggested_taps(stopband_db=db) == max(n, 3) | 1
    for taps, delay in [(0, 1), (1, 1), (2, 1), (3, 1), (4, 2), (5, 2), (45, 22), (2**64 - 1, 2**63 - 1)]:
        assert v.dvb_t_tx_lowpass_group_delay(taps) == delay
    with pytest.raises(OverflowError):
        v.dvb_t_tx_lowpass_group_delay(-1)
    with pytest.raises(OverflowError):
        v.dvb_t_tx_lowpass_group_delay(2**64)


@pytest.mark.parametrize("guard,taps,roll_off,backoff,fits", [
    ("1/4", 45, 0, 256, True),      # 22 <= min(256, 256)
    ("1/4", 45, 0, 10, False),
    ("1/4", 45, 0, 600, False),     # beyond the prefix
    ("1/4", 45, 0, 0, False),
    ("1/4", 45, 0, 512, False),
    ("1/32", 3, 31, 32, True),      # 31 + 1 <= 32
    ("1/32", 3, 32, 32, False),
    ("1/32", 5, 30, 32, True),
    ("1/16", 0, 0, 1, True),        # delay 1 fits a back-off of 1 ... (head 127)
    ("1/16", 0, 1, 1, False),
    ("1/4", 45, 2**64 - 22, 256, False),  # the sum would wrap to 0
    ("1/4", 45, 2**64 - 1, 256, False),
    ("1/4", 2**64 - 1, 0, 256, False),
])
def test_fits_guard_truth_table(guard, taps, roll_off, backoff, fits):
    assert v.dvb_t_tx_lowpass_fits_guard(guard, taps, roll_off, backoff) is fits


def test_fits_guard_converts_numbers_before_parsing_the_guard():
    with pytest.raises(OverflowError):
        v.dvb_t_tx_lowpass_fits_guard("bad", -1, 0, 0)
    with pytest.raises(TypeError, match=r"^argument 'backoff': "):
        v.dvb_t_tx_lowpass_fits_guard("bad", 1, 0, "x")
    with pytest.raises(ValueError, match=r'^unknown guard interval "bad"'):
        v.dvb_t_tx_lowpass_fits_guard("bad", 1, 0, 0)


def test_frame_params():
    p = v.DvbTFrameParams("1/8", "qam16", "2/3")
    assert (p.guard, p.constellation, p.code_rate, p.frame_number, p.cell_id) == \
        ("1/8", "qam16", "2/3", 0, 0)
    assert repr(p) == ('DvbTFrameParams(guard="1/8", constellation="qam16", code_rate="2/3", '
                       'frame_number=0, cell_id=0)')
    q = v.DvbTFrameParams(code_rate="7/8", constellation="qpsk", guard="1/4", frame_number=255,
                          cell_id=17)
    assert repr(q) == ('DvbTFrameParams(guard="1/4", constellation="qpsk", code_rate="7/8", '
                       'frame_number=255, cell_id=17)')
    with pytest.raises(AttributeError):
        q.cell_id = 3
    assert v.DvbTFrameParams.__text_signature__ == \
        "(guard, constellation, code_rate, frame_number=0, cell_id=0)"
    assert v.DvbTSuperFrameParams.__text_signature__ == \
        "(guard, constellation, code_rate, cell_id=0)"
    for c in ("qpsk", "qam16", "qam64"):
        assert v.DvbTFrameParams("1/32", c, "1/2").constellation == c


@pytest.mark.parametrize("args,exc,text", [
    (("1/9", "qam256", "9/10"), ValueError,
     'unknown guard interval "1/9" (expected 1/32, 1/16, 1/8, 1/4)'),
    (("1/8", "qam256", "9/10"), ValueError,
     'unknown DVB-T constellation "qam256" (expected qpsk, qam16, qam64)'),
    (("1/8", "QPSK", "1/2"), ValueError,
     'unknown DVB-T constellation "QPSK" (expected qpsk, qam16, qam64)'),
    (("1/8", "bpsk", "1/2"), ValueError,
     'unknown DVB-T constellation "bpsk" (expected qpsk, qam16, qam64)'),
    (("1/8", "qpsk", "9/10"), ValueError,
     'unknown code rate "9/10" (expected 1/2, 2/3, 3/4, 5/6, 7/8)'),
    (("1/9", "x", "y", 256), OverflowError, "out of range integral type conversion attempted"),
    (("1/9", "x", "y", 0, -1), OverflowError, "out of range integral type conversion attempted"),
])
def test_frame_params_errors_in_order(args, exc, text):
    with pytest.raises(exc) as e:
        v.DvbTFrameParams(*args)
    assert str(e.value) == text


def test_super_frame_params():
    p = v.DvbTSuperFrameParams("1/4", "qpsk", "7/8", cell_id=48879)
    assert (p.guard, p.constellation, p.code_rate, p.cell_id) == ("1/4", "qpsk", "7/8", 48879)
    assert v.DvbTSuperFrameParams("1/32", "qam64", "1/2").cell_id == 0
    with pytest.raises(OverflowError, match="out of range integral type conversion attempted"):
        v.DvbTSuperFrameParams("1/4", "qpsk", "7/8", cell_id=65536)
    with pytest.raises(ValueError, match="unknown code rate"):
        v.DvbTSuperFrameParams("1/4", "qpsk", "1/3", 5)
    with pytest.raises(TypeError, match=r"^argument 'cell_id': "):
        v.DvbTSuperFrameParams("1/4", "qpsk", "7/8", cell_id="1")
    assert repr(p).startswith("<builtins.DvbTSuperFrameParams object")


def test_tps_word_has_no_constructor():
    with pytest.raises(TypeError):
        v.TpsWord()
