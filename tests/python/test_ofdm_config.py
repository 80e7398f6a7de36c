import math

import numpy as np
import pytest

import vatel_sdr as v

PILOT_IDX = np.array([-21, -7, 7, 21], np.int32)
PILOT_VAL = np.array([1, 1, 1, -1], np.complex64)
EMPTY = np.zeros(0, np.int32)


def make(data=EMPTY, idx=PILOT_IDX, val=PILOT_VAL, constellation="qpsk", edge_guard=4,
         n_fft=64, cp_len=16, fs=1e6, rf_hz=0.0, gain=1.0):
    return v.OfdmConfig(n_fft, cp_len, data, idx, val, fs, rf_hz, gain, constellation, edge_guard)


@pytest.fixture
def cfg():
    return make()


def test_generated_plan_sizes(cfg):
    assert cfg.bits_per_ofdm_symbol == 100
    assert cfg.samples_per_ofdm_symbol == 80
    assert cfg.occupied_half_carriers == 27


@pytest.mark.parametrize("constellation, bits", [
    ("bpsk", 50), ("qpsk", 100), ("qam16", 200), ("qam64", 300), ("qam256", 400)])
def test_bits_per_symbol_per_constellation(constellation, bits):
    assert make(constellation=constellation).bits_per_ofdm_symbol == bits


def test_explicit_data_carriers_and_no_pilots():
    c = make(data=np.array([-3, 5, 1], np.int32), idx=EMPTY, val=np.zeros(0, np.complex64),
             edge_guard=None, constellation="bpsk")
    assert c.bits_per_ofdm_symbol == 3
    assert c.occupied_half_carriers == 5
    # The order of the data carriers is part of the plan.
    assert c != make(data=np.array([1, -3, 5], np.int32), idx=EMPTY,
                     val=np.zeros(0, np.complex64), edge_guard=None, constellation="bpsk")


@pytest.mark.parametrize("kwargs, message", [
    (dict(data=np.array([1, 2], np.int32)),
     "OfdmConfig: pass an empty data_carriers array when edge_guard is set "
     "(the contiguous span is generated automatically)"),
    (dict(edge_guard=None), "no data carriers specified"),
    (dict(edge_guard=40), "no data carriers specified"),
    (dict(edge_guard=2**40), "no data carriers specified"),
    (dict(idx=np.array([1, 2, 3], np.int32), val=np.ones(2, np.complex64)),
     "OfdmConfig: pilot_carrier_indices (3) and pilot_carrier_values (2) must have the same length"),
    (dict(constellation="QPSK"),
     'OfdmConfig: unknown constellation "QPSK" (expected one of: bpsk, qpsk, qam16, qam64, qam256)'),
    (dict(constellation='a"b\\\n\t'),
     'OfdmConfig: unknown constellation "a\\"b\\\\\\n\\t" (expected one of: bpsk, qpsk, qam16, qam64, qam256)'),
    (dict(data=np.array([5, 100], np.int32), edge_guard=None),
     "carrier index 100 is out of range for n_fft=64 (valid: -(n_fft/2)..=((n_fft-1)/2))"),
    (dict(data=np.array([1, 2, 1], np.int32), idx=np.array([200], np.int32),
          val=np.ones(1, np.complex64), edge_guard=None),
     "carrier index 200 is out of range for n_fft=64 (valid: -(n_fft/2)..=((n_fft-1)/2))"),
    (dict(data=np.array([3, 4], np.int32), idx=np.array([3], np.int32),
          val=np.ones(1, np.complex64), edge_guard=None),
     "carrier index 3 is assigned more than one role (data/pilot overlap)"),
])
def test_constructor_errors(kwargs, message):
    with pytest.raises(ValueError) as e:
        make(**kwargs)
    assert str(e.value) == message


def test_constructor_checks_run_in_order():
    strided_idx = np.array([-21, 0, -7, 0, 7, 0, 21, 0], np.int32)[::2]
    strided_data = np.arange(1, 9, dtype=np.int32)[::2]
    # Pilot indices are taken before their length is compared.
    with pytest.raises(TypeError, match="^The given array is not contiguous or is misaligned.$"):
        make(idx=strided_idx, val=np.ones(3, np.complex64))
    # Data carriers are taken after the pilot and constellation checks.
    with pytest.raises(ValueError, match="unknown constellation"):
        make(data=strided_data, edge_guard=None, constellation="qam8")
    with pytest.raises(TypeError, match="^The given array is not contiguous or is misaligned.$"):
        make(data=strided_data, edge_guard=None)
    # An empty strided view is accepted (nothing to read).
    make(data=strided_data[:0], edge_guard=4)


@pytest.mark.parametrize("kwargs, exc, text", [
    (dict(data=np.zeros(0, np.int64)), TypeError,
     "argument 'data_carriers': 'ndarray' object is not an instance of 'ndarray'"),
    (dict(val=np.ones(4, np.complex128)), TypeError,
     "argument 'pilot_carrier_values': 'ndarray' object is not an instance of 'ndarray'"),
    (dict(idx=[1, 2]), TypeError,
     "argument 'pilot_carrier_indices': 'list' object is not an instance of 'ndarray'"),
    (dict(constellation=1), TypeError,
     "argument 'constellation': 'int' object is not an instance of 'str'"),
    (dict(n_fft=-1), OverflowError, None),
    (dict(edge_guard=-1), OverflowError, None),
])
def test_constructor_argument_types(kwargs, exc, text):
    with pytest.raises(exc) as e:
        make(**kwargs)
    if text is not None:
        assert str(e.value) == text


BUILDER_ERRORS = [
    ("with_inner_fec", ("turbo",),
     'with_inner_fec: unknown kind "turbo" (expected none|ldpc|convolutional|convolutional_k7)'),
    ("with_inner_fec", ("ldpc",), 'unknown LDPC code "" (expected n512r12|n576r23|n512r34)'),
    ("with_inner_fec", ("ldpc", "N512R12"),
     'unknown LDPC code "N512R12" (expected n512r12|n576r23|n512r34)'),
    ("with_inner_fec", ("conv",), 'unknown puncture rate "" (expected 1/2|2/3|3/4|5/6|7/8)'),
    ("with_inner_fec", ("dvb_t", "4/5"),
     'unknown puncture rate "4/5" (expected 1/2|2/3|3/4|5/6|7/8)'),
    # The kind is judged before the code.
    ("with_inner_fec", ("LDPC", "bad"),
     'with_inner_fec: unknown kind "LDPC" (expected none|ldpc|convolutional|convolutional_k7)'),
    ("with_outer_fec", ("golay",),
     'with_outer_fec: unknown kind "golay" (expected none|bch|reed_solomon)'),
    ("with_scrambler", (0, 7, 1, False, "middle"),
     'with_scrambler: unknown position "middle" (expected before_outer|after_inner)'),
    ("with_header_crc", ("crc8",), 'unknown CRC "crc8" (expected none|crc16|crc32)'),
    ("with_payload_crc", ("CRC32",), 'unknown CRC "CRC32" (expected none|crc16|crc32)'),
    ("with_header_format", ("tps",),
     'with_header_format: unknown format "tps" (expected vatel_sdr|none|dvb_tps)'),
    ("with_interleaver", ("middle", 4, 4),
     'unknown interleaver stage "middle" (expected inner|outer)'),
    ("with_conv_interleaver", ("Inner",),
     'unknown interleaver stage "Inner" (expected inner|outer)'),
    ("with_ldpc_decode_rule", ("minsum",),
     'with_ldpc_decode_rule: unknown kind "minsum" (expected sum_product|min_sum|scaled_min_sum)'),
]


@pytest.mark.parametrize("method, args, message", BUILDER_ERRORS)
def test_builder_keyword_errors(cfg, method, args, message):
    with pytest.raises(ValueError) as e:
        getattr(cfg, method)(*args)
    assert str(e.value) == message


# Each alias must give exactly the configuration of its canonical keyword,
# and that configuration must differ from a neighbouring choice.
ALIASES = [
    ("with_inner_fec", ("conv", "1/2"), ("convolutional", "1/2"), ("conv_k7", "1/2")),
    ("with_inner_fec", ("dvb_t", "3/4"), ("convolutional_k7", "3/4"), ("convolutional", "3/4")),
    ("with_inner_fec", ("conv_k7", "7/8"), ("convolutional_k7", "7/8"), ("convolutional_k7", "5/6")),
    ("with_inner_fec", ("ldpc", "n576r23"), ("ldpc", "n576r23"), ("ldpc", "n512r34")),
    ("with_inner_fec", ("none", "whatever"), ("none",), ("ldpc", "n512r12")),
    ("with_outer_fec", ("rs", 204, 16), ("reed_solomon", 204, 16), ("bch", 204, 16)),
    ("with_header_format", ("vatelsdr",), ("vatel_sdr",), ("none",)),
    ("with_header_format", ("no_header",), ("none",), ("dvb_tps",)),
    ("with_header_format", ("dvbtps",), ("dvb_tps",), ("vatel_sdr",)),
    ("with_ldpc_decode_rule", ("sum-product",), ("sum_product",), ("min_sum",)),
    ("with_ldpc_decode_rule", ("min-sum",), ("min_sum",), ("scaled_min_sum",)),
    ("with_ldpc_decode_rule", ("scaled-min-sum", 0.5), ("scaled_min_sum", 0.5),
     ("scaled_min_sum", 0.6)),
]


@pytest.mark.parametrize("method, alias, canonical, other", ALIASES)
def test_keyword_aliases(cfg, method, alias, canonical, other):
    f = getattr(cfg, method)
    assert f(*alias) == f(*canonical)
    assert f(*alias) != f(*other)


def test_defaults_of_a_new_configuration(cfg):
    same = [
        cfg.with_inner_fec("none"),
        cfg.with_outer_fec("none", 5, 7),  # numbers unused by "none" are ignored
        cfg.with_scrambler(0, 7),
        cfg.with_header_crc("crc16"),
        cfg.with_payload_crc("crc32"),
        cfg.with_header_format("vatel_sdr"),
        cfg.with_interleaver("inner", 0, 8),
        cfg.with_interleaver("outer", 8, 0),
        cfg.with_conv_interleaver("outer", 12, 0),
        cfg.with_conv_interleaver("inner", 0, 17),
        cfg.with_ldpc_decode_rule("sum_product", 0.1),
        cfg.with_symbol_window(0),
        cfg.with_rx_window_backoff(0),
    ]
    for c in same:
        assert c == cfg
    differ = [
        cfg.with_header_crc("crc32"), cfg.with_payload_crc("none"),
        cfg.with_scrambler(0, 7, position="after_inner"),
        cfg.with_scrambler(0x48, 7), cfg.with_dvb_t_scrambler(),
        cfg.with_interleaver("inner", 4, 8), cfg.with_conv_interleaver("outer"),
        cfg.with_symbol_window(4), cfg.with_rx_window_backoff(1), cfg.with_tx_lowpass(31),
        cfg.with_outer_fec("bch", 2),
    ]
    for c in differ:
        assert c != cfg


def test_builders_leave_the_receiver_unchanged(cfg):
    before = make()
    cfg.with_inner_fec("dvb_t", "3/4")
    cfg.with_outer_fec("rs", 204, 16)
    cfg.with_tx_lowpass(31)
    cfg.with_symbol_window(4)
    assert cfg == before


def test_kind_equality_rules(cfg):
    # Interleaver parameters count; stages are separate.
    assert cfg.with_interleaver("inner", 4, 8) != cfg.with_interleaver("inner", 4, 9)
    assert cfg.with_interleaver("inner", 4, 8) != cfg.with_interleaver("outer", 4, 8)
    assert cfg.with_interleaver("inner", 4, 8) != cfg.with_conv_interleaver("inner", 4, 8)
    # A per-frame seed carries no value; a fixed one does.
    assert cfg.with_scrambler(0x48, 7, 3, True) == cfg.with_scrambler(0x48, 7, 9, True)
    assert cfg.with_scrambler(0x48, 7, 3, False) != cfg.with_scrambler(0x48, 7, 9, False)
    assert cfg.with_scrambler(0x48, 7, 3, False) != cfg.with_scrambler(0x48, 7, 3, True)
    # The scale counts only for the scaled rule.
    assert cfg.with_ldpc_decode_rule("min_sum", 0.1) == cfg.with_ldpc_decode_rule("min_sum", 0.9)
    # BCH compares t only.
    assert cfg.with_outer_fec("bch", 3, 1) == cfg.with_outer_fec("bch", 3, 2)
    assert cfg.with_outer_fec("rs", 204, 16) != cfg.with_outer_fec("rs", 204, 18)
    # The transmit low-pass compares all three settings.
    assert cfg.with_tx_lowpass(31) == cfg.with_tx_lowpass(31, 60.0)
    assert cfg.with_tx_lowpass(31) != cfg.with_tx_lowpass(33)
    assert cfg.with_tx_lowpass(31) != cfg.with_tx_lowpass(31, 70.0)
    # 31 and 30 taps design different filters, but 30 is stored as given.
    assert cfg.with_tx_lowpass(30) != cfg.with_tx_lowpass(31)


def test_scrambler_numbers_are_converted_before_the_position(cfg):
    with pytest.raises(OverflowError, match="^out of range integral type conversion attempted$"):
        cfg.with_scrambler(0, 256, 1, False, "middle")
    with pytest.raises(OverflowError, match="^out of range integral type conversion attempted$"):
        cfg.with_scrambler(2**32, 7)
    with pytest.raises(TypeError, match="^argument 'per_frame_random': "):
        cfg.with_scrambler(0x48, 7, 1, 1)


@pytest.mark.parametrize("build, message", [
    (lambda c: c, None),
    (lambda c: c.with_outer_fec("rs", 204, 16), None),
    (lambda c: c.with_outer_fec("reed_solomon", 255, 254), None),
    (lambda c: c.with_outer_fec("rs", 204, 15), "Reed\u2013Solomon requires 0 < n_parity < n <= 255 with n_parity even"),
    (lambda c: c.with_outer_fec("rs", 256, 16), "Reed\u2013Solomon requires 0 < n_parity < n <= 255 with n_parity even"),
    (lambda c: c.with_outer_fec("rs", 16, 16), "Reed\u2013Solomon requires 0 < n_parity < n <= 255 with n_parity even"),
    (lambda c: c.with_outer_fec("rs", 0, 0), "Reed\u2013Solomon requires 0 < n_parity < n <= 255 with n_parity even"),
    (lambda c: c.with_outer_fec("rs", 204), "Reed\u2013Solomon requires 0 < n_parity < n <= 255 with n_parity even"),
    (lambda c: c.with_outer_fec("bch"), "BCH outer code requires t >= 1"),
    (lambda c: c.with_outer_fec("bch", 1), None),
    (lambda c: c.with_scrambler(0x48, 7, per_frame_random=True).with_header_format("none"),
     "per-frame-random scrambler seed requires a header (header_format != NoHeader)"),
    (lambda c: c.with_scrambler(0x48, 7, per_frame_random=True).with_header_format("dvb_tps"),
     "per-frame-random scrambler seed requires a header (header_format != NoHeader)"),
    (lambda c: c.with_scrambler(0x48, 7, per_frame_random=True).with_header_format("vatelsdr"), None),
    (lambda c: c.with_scrambler(0x48, 7).with_header_format("none"), None),
    # The per-frame rule comes before the outer-code rules.
    (lambda c: c.with_outer_fec("bch").with_scrambler(0x48, 7, per_frame_random=True)
     .with_header_format("none"),
     "per-frame-random scrambler seed requires a header (header_format != NoHeader)"),
])
def test_validate_frame(cfg, build, message):
    c = build(cfg)
    if message is None:
        assert c.validate_frame() is None
    else:
        with pytest.raises(ValueError) as e:
            c.validate_frame()
        assert str(e.value) == message


@pytest.mark.parametrize("taps, delay", [(0, 1), (3, 1), (4, 2), (5, 2), (31, 15), (64, 32)])
def test_tx_lowpass_group_delay(cfg, taps, delay):
    assert cfg.tx_lowpass_group_delay(taps) == delay


@pytest.mark.parametrize("args, fits", [
    ((5, 4), True),                # 4 + 2 <= min(8, 8)
    ((5, 7), False),
    ((5, 0, 2), True),             # 0 + 2 <= min(2, 14)
    ((5, 1, 2), False),
    ((5, 0, 16), False),           # no room on the far side
    ((5, 0, 20), False),           # back-off beyond the prefix
    ((5, 2**64 - 1), False),       # no wrap-around of roll_off + delay
])
def test_tx_lowpass_fits_guard(cfg, args, fits):
    assert cfg.tx_lowpass_fits_guard(*args) is fits


def suggested_taps_reference(stopband_db, h, n_fft):
    f = np.float32
    a = f(max(f(stopband_db), f(21))) - f(8)
    tw = max(f(0.5) - f(h) / f(n_fft), f(0.0001))
    taps = max(math.ceil(f(a / (f(14.36) * tw))), 3)
    return int(taps) | 1


@pytest.mark.parametrize("stopband_db", [60.0, 80.0, 21.0, 0.0, 45.5])
def test_tx_lowpass_suggested_taps(cfg, stopband_db):
    assert cfg.tx_lowpass_suggested_taps(stopband_db) == suggested_taps_reference(stopband_db, 27, 64)


def test_tx_lowpass_suggested_taps_anchor_and_saturation(cfg):
    assert cfg.tx_lowpass_suggested_taps() == 47  # ceil(52 / (14.36 * 0.078125))
    assert cfg.tx_lowpass_suggested_taps(float("inf")) == 2**64 - 1
    assert cfg.tx_lowpass_suggested_taps(float("nan")) == suggested_taps_reference(21.0, 27, 64)


def test_equality_protocol(cfg):
    assert cfg == make()
    assert not (cfg != make())
    nan = make(fs=float("nan"))
    assert nan != nan
    assert make(gain=0.0) == make(gain=-0.0)
    assert (cfg == 1) is False
    assert cfg.__lt__(cfg) is NotImplemented
    with pytest.raises(TypeError):
        cfg < cfg
    with pytest.raises(TypeError):
        hash(cfg)


def test_class_surface():
    assert v.OfdmConfig.__module__ == "builtins"
    assert v.OfdmConfig.__text_signature__ == (
        "(n_fft, cp_len, data_carriers, pilot_carrier_indices, pilot_carrier_values, "
        "fs, rf_hz, gain, constellation, edge_guard=None)")
    assert v.OfdmConfig.with_scrambler.__text_signature__ == (
        "($self, poly, width, seed=1, per_frame_random=False, position='before_outer')")
    assert v.OfdmConfig.tx_lowpass_fits_guard.__text_signature__ == (
        "($self, num_taps, roll_off=0, backoff=None)")
    names = v.__all__
    assert names.index("OfdmConfig") < names.index("OfdmMod") < names.index("generate_ofdm_preamble")
    assert v.generate_ofdm_preamble.__module__ == "vatel_sdr"
