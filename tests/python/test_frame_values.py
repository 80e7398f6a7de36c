import numpy as np
import pytest

import vatel_sdr as v
from conftest import RANGE, raises_panic, raises_text


def test_frame_packet_fields_and_defaults():
    p = v.FramePacket(np.arange(5, dtype=np.uint8), 70000, 255, 0x81)
    assert (p.sequence_num, p.mcs_index, p.flags) == (70000, 255, 0x81)
    assert p.payload.dtype == np.uint8 and p.payload.tolist() == [0, 1, 2, 3, 4]
    q = v.FramePacket(payload=np.zeros(0, np.uint8))
    assert q.payload.dtype == np.uint8 and q.payload.shape == (0,)
    assert (q.sequence_num, q.mcs_index, q.flags) == (0, 0, 0)
    assert v.FramePacket.__text_signature__ == "(payload, sequence_num=0, mcs_index=0, flags=0)"
    assert [n for n in dir(p) if not n.startswith("__")] == [
        "flags", "mcs_index", "payload", "sequence_num"]


def test_frame_packet_payload_is_a_copy_both_ways():
    source = np.array([9, 8, 7], np.uint8)
    p = v.FramePacket(source)
    source[0] = 0
    first, second = p.payload, p.payload
    assert first is not second and not np.shares_memory(first, second)
    assert first.tolist() == second.tolist() == [9, 8, 7]
    first[:] = 1
    assert p.payload.tolist() == [9, 8, 7]


def test_frame_packet_is_read_only():
    p = v.FramePacket(np.zeros(2, np.uint8))
    for name in ("payload", "sequence_num", "mcs_index", "flags"):
        with pytest.raises(AttributeError):
            setattr(p, name, 1)


@pytest.mark.parametrize("payload, given", [
    (b"\x01\x02", "bytes"),
    ([1, 2], "list"),
    (np.zeros(2, np.int32), "ndarray"),
    (np.zeros((2, 2), np.uint8), "ndarray"),
    (np.zeros(2, np.dtype(">u2")), "ndarray"),
])
def test_frame_packet_refuses_anything_but_a_uint8_vector(payload, given):
    raises_text(TypeError, f"argument 'payload': '{given}' object is not an instance of 'ndarray'",
            lambda: v.FramePacket(payload))


@pytest.mark.parametrize("kwargs", [
    {"mcs_index": 256}, {"mcs_index": -1}, {"flags": 256}, {"flags": -1},
    {"sequence_num": 2**32}, {"sequence_num": -1},
])
def test_frame_packet_fields_out_of_range(kwargs):
    raises_text(OverflowError, RANGE, lambda: v.FramePacket(np.zeros(1, np.uint8), **kwargs))


def test_frame_packet_takes_the_array_after_every_conversion():
    strided = np.arange(8, dtype=np.uint8)[::2]
    # The range error of a later argument comes before the contiguity check.
    raises_text(OverflowError, RANGE, lambda: v.FramePacket(strided, flags=300))
    raises_text(TypeError, "The given array is not contiguous or is misaligned.",
            lambda: v.FramePacket(strided))
    # An empty array needs no contiguous data.
    assert v.FramePacket(np.zeros(4, np.uint8)[::2][:0]).payload.shape == (0,)
    assert v.FramePacket(np.arange(8, dtype=np.uint8)[2:5]).payload.tolist() == [2, 3, 4]


def test_mcs_table_lengths_and_ladder():
    t = v.McsTable()
    assert t.len == 0
    assert v.McsTable.__text_signature__ == "()"
    assert v.McsTable.add.__text_signature__ == (
        "($self, constellation, inner_kind='none', inner_code='', outer_kind='none', "
        "outer_a=0, outer_b=0)")
    ladder = v.McsTable.default_ladder()
    assert ladder.len == 4 and type(ladder) is v.McsTable
    assert v.McsTable.default_ladder() is not ladder
    assert isinstance(v.McsTable.__dict__["default_ladder"], staticmethod)
    assert v.McsTable.default_ladder.__text_signature__ == "()"
    with pytest.raises(TypeError):
        v.McsTable.default_ladder(1)
    ladder.add("qam256")
    assert ladder.len == 5 and v.McsTable.default_ladder().len == 4


def bch_degree(t):
    """Degree of the narrow-sense BCH generator of length 255: the size of
    the union of the cyclotomic cosets of 1 .. 2t modulo 255."""
    roots = set()
    for i in range(1, 2 * t + 1):
        x = i
        while x not in roots:
            roots.add(x)
            x = 2 * x % 255
    return len(roots)


LDPC_SIZES = {"n512r12": (256, 512), "n576r23": (384, 576), "n512r34": (384, 512)}
PUNCTURE = {"1/2": ([1], [1]), "2/3": ([1, 1], [1, 0]), "3/4": ([1, 1, 0], [1, 0, 1]),
            "5/6": ([1, 1, 0, 1, 0], [1, 0, 1, 0, 1]),
            "7/8": ([1, 1, 1, 1, 0, 1, 0], [1, 0, 0, 0, 1, 0, 1])}
BITS_PER_POINT = {"bpsk": 1, "qpsk": 2, "qam16": 4, "qam64": 6, "qam256": 8}


def ceil_div(a, b):
    return -(-a // b)


def coded_bits(n_bytes, outer, inner):
    """The payload chain's length (CRC-32, outer code, inner code, no
    interleavers) worked out from the codes' sizes."""
    with_crc = n_bytes + 4
    if outer[0] == "bch":
        x = ceil_div(8 * with_crc, 120) * (120 + bch_degree(outer[1]))
    elif outer[0] == "rs":
        n, parity = outer[1:]
        x = ceil_div(with_crc, n - parity) * n * 8
    else:
        x = 8 * with_crc
    if inner[0] == "ldpc":
        k, n = LDPC_SIZES[inner[1]]
        x = ceil_div(x, k) * n
    elif inner[0] == "conv":
        constraint, rate = inner[1:]
        first, second = PUNCTURE[rate]
        pairs = x + constraint - 1
        x = pairs // len(first) * (sum(first) + sum(second)) + sum(
            first[j] + second[j] for j in range(pairs % len(first)))
    return x


# (add's arguments, keywords, the entry they must make: constellation, outer
# code, inner code), or the panic text of the first frame for a code that
# does not exist.
MCS_CASES = [
    (("qpsk",), {}, ("qpsk", ("none",), ("none",))),
    (("qpsk", "ldpc", "n512r12", "rs", 204, 16), {}, ("qpsk", ("rs", 204, 16), ("ldpc", "n512r12"))),
    (("bpsk", "conv", "7/8"), {}, ("bpsk", ("none",), ("conv", 5, "7/8"))),
    (("qam16", "convolutional", "1/2", "reed_solomon", 255, 239), {},
     ("qam16", ("rs", 255, 239), ("conv", 5, "1/2"))),
    (("qam64",), {"inner_kind": "conv_k7", "inner_code": "3/4"}, ("qam64", ("none",), ("conv", 7, "3/4"))),
    (("qam256", "convolutional_k7", "5/6", "bch", 12), {}, ("qam256", ("bch", 12), ("conv", 7, "5/6"))),
    (("qpsk", "dvb_t", "2/3"), {}, ("qpsk", ("none",), ("conv", 7, "2/3"))),
    (("qpsk", "none", "anything at all"), {}, ("qpsk", ("none",), ("none",))),
    (("qam16", "ldpc", "n512r34", "bch", 3), {}, ("qam16", ("bch", 3), ("ldpc", "n512r34"))),
    (("qpsk", "ldpc", "n576r23", "bch", 0), {}, "valid BCH t: DesignTooLarge(0)"),
    (("bpsk", "none", "", "none", 2**64 - 1, 2**64 - 1), {}, ("bpsk", ("none",), ("none",))),
]
# One data carrier: a payload symbol holds one constellation point, so the
# burst length counts the coded bits to within a point.
ONE_CARRIER = v.OfdmConfig(64, 16, np.array([5], np.int32), np.zeros(0, np.int32),
                           np.zeros(0, np.complex64), 1e6, 0.0, 1.0, "qpsk", None
                           ).with_header_format("none")
PREAMBLE = 4 * 16 + 80


@pytest.mark.parametrize("args, kwargs, entry", MCS_CASES)
def test_mcs_table_add_appends_the_entry_it_names(args, kwargs, entry):
    t = v.McsTable()
    assert t.add("bpsk") is None and t.add(*args, **kwargs) is None
    assert t.len == 2
    m = v.OfdmFrameMod(ONE_CARRIER, t)
    if isinstance(entry, str):
        frame = v.FramePacket(np.zeros(5, np.uint8), 0, 1)
        assert str(raises_panic(lambda: m.modulate_frame(frame))) == entry
        return
    constellation, outer, inner = entry
    for n in (0, 1, 7, 12, 13, 29, 100, 117, 241, 250):
        frame = v.FramePacket(np.zeros(n, np.uint8), 0, 1)
        points = ceil_div(coded_bits(n, outer, inner), BITS_PER_POINT[constellation])
        assert m.modulate_frame(frame).size == PREAMBLE + 80 * points, n


@pytest.mark.parametrize("args, text", [
    (("QPSK",), 'McsTable.add: unknown constellation "QPSK"'),
    (("qpsk ",), 'McsTable.add: unknown constellation "qpsk "'),
    (('q"\\\n',), 'McsTable.add: unknown constellation "q\\"\\\\\\n"'),
    (("qpsk", "ldpc"), 'unknown LDPC code ""'),
    (("qpsk", "ldpc", "n1024r12"), 'unknown LDPC code "n1024r12"'),
    (("qpsk", "conv", "1/3"), 'unknown puncture rate "1/3"'),
    (("qpsk", "conv_k7"), 'unknown puncture rate ""'),
    (("qpsk", "LDPC", "n512r12"), 'McsTable.add: unknown inner FEC "LDPC"'),
    (("qpsk", "turbo"), 'McsTable.add: unknown inner FEC "turbo"'),
    (("qpsk", "none", "", "reed-solomon", 204, 16), 'McsTable.add: unknown outer FEC "reed-solomon"'),
    (("qpsk", "none", "", ""), 'McsTable.add: unknown outer FEC ""'),
    (("qam8", "turbo", "", "golay"), 'McsTable.add: unknown constellation "qam8"'),
])
def test_mcs_table_add_refusals_leave_the_table_unchanged(args, text):
    t = v.McsTable.default_ladder()
    raises_text(ValueError, text, lambda: t.add(*args))
    assert t.len == 4


def test_mcs_table_add_converts_every_argument_first():
    t = v.McsTable()
    # A bad keyword is not examined before every argument has converted.
    with pytest.raises(OverflowError):
        t.add("QPSK", outer_b=-1)
    with pytest.raises(TypeError):
        t.add("QPSK", outer_kind=3)
    with pytest.raises(TypeError):
        t.add(b"qpsk")
    assert t.len == 0


def test_mcs_table_borrows():
    t = v.McsTable()

    class AddsAgain:
        def __index__(self):
            t.add("bpsk")
            return 8

    class ReadsLen:
        def __index__(self):
            return t.len

    raises_text(RuntimeError, "Already borrowed", lambda: t.add("qpsk", "none", "", "bch", AddsAgain()))
    raises_text(RuntimeError, "Already mutably borrowed", lambda: t.add("qpsk", outer_a=ReadsLen()))
    assert t.len == 0
    t.add("qpsk", outer_a=8)  # after the failures the borrow is free again
    assert t.len == 1
    with pytest.raises(AttributeError):
        t.len = 3
