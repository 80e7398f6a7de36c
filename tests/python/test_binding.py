"""Calling conventions shared by every class: binding, borrows, arrays, results."""
import gc
import sys

import numpy as np
import pytest

import vatel_sdr as v
from conftest import raises_text


@pytest.mark.parametrize("call, text", [
    (lambda: v.BpskMod(1.0, 2.0),
     "BpskMod.__new__() missing 1 required positional argument: 'gain'"),
    (lambda: v.BpskMod(1.0),
     "BpskMod.__new__() missing 2 required positional arguments: 'rf_hz' and 'gain'"),
    (lambda: v.BpskMod(),
     "BpskMod.__new__() missing 3 required positional arguments: 'fs', 'rf_hz', and 'gain'"),
    (lambda: v.BpskMod(1.0, 2.0, 3.0, 4.0),
     "BpskMod.__new__() takes 3 positional arguments but 4 were given"),
    (lambda: v.BpskMod(1.0, 2.0, 3.0, fs=1.0),
     "BpskMod.__new__() got multiple values for argument 'fs'"),
    (lambda: v.BpskMod(1.0, 2.0, gain=1.0, q=1),
     "BpskMod.__new__() got an unexpected keyword argument 'q'"),
    (lambda: v.BpskMod(1.0, 2.0, 3.0).process(),
     "BpskMod.process() missing 1 required positional argument: 'bits'"),
    (lambda: v.BpskMod(1.0, 2.0, 3.0).process(np.zeros(1, np.uint8), 1),
     "BpskMod.process() takes 1 positional arguments but 2 were given"),
    (lambda: v.BpskDemod(1.0).set_gain(1.0, g=2.0),
     "BpskDemod.set_gain() got multiple values for argument 'g'"),
    (lambda: v.BpskDemod(1.0).set_gain(h=2.0),
     "BpskDemod.set_gain() got an unexpected keyword argument 'h'"),
])
def test_binding_errors(call, text):
    raises_text(TypeError, text, call)


def test_keywords_and_ints_are_accepted():
    a = v.BpskMod(fs=8.0, rf_hz=1.0, gain=1.0).process(np.zeros(5, np.uint8))
    b = v.BpskMod(8, 1, 1).process(bits=np.zeros(5, np.uint8))
    assert np.array_equal(a, b)


class FloatLike:
    def __float__(self):
        return 8.0


class IndexLike:
    def __index__(self):
        return 3


def test_float_conversion_follows_the_interpreter():
    # fs 8 and rf_hz 3: the carrier turns 3 pi / 4 a sample.
    bits = np.array([1, 0, 1, 1, 0, 0, 1], np.uint8)
    got = v.BpskMod(FloatLike(), IndexLike(), IndexLike()).process(bits)
    assert np.array_equal(got, v.BpskMod(8.0, 3.0, 3.0).process(bits))
    assert not np.array_equal(got, v.BpskMod(8.0, 0.0, 3.0).process(bits))
    err = raises_text(TypeError, "argument 'fs': must be real number, not str",
                  lambda: v.BpskMod("8", 0.0, 1.0))
    assert isinstance(err.__cause__, TypeError)
    assert str(err.__cause__) == "must be real number, not str"
    raises_text(TypeError, "argument 'gain': must be real number, not NoneType",
            lambda: v.BpskMod(8.0, 0.0, None))


def test_huge_float_becomes_infinite():
    out = v.BpskMod(8.0, 0.0, 1e300).process(np.zeros(1, np.uint8))
    assert np.isinf(out[0].real)


@pytest.mark.parametrize("arg, given", [
    (np.zeros(3, np.complex128), "ndarray"),
    (np.zeros(3, np.float32), "ndarray"),
    (np.zeros((2, 2), np.complex64), "ndarray"),
    (np.zeros(3, np.dtype(">c8")), "ndarray"),
    ([0j, 1j], "list"),
    (b"\0\0", "bytes"),
])
def test_array_type_errors(arg, given):
    raises_text(TypeError, f"argument 'iq': '{given}' object is not an instance of 'ndarray'",
            lambda: v.BpskDemod(1.0).process(arg))


def test_none_for_an_array():
    raises_text(TypeError, "argument 'iq': 'None' is not an instance of 'ndarray'",
            lambda: v.BpskDemod(1.0).process(None))


def test_strided_view_is_refused_but_contiguous_views_work():
    base = np.arange(8, dtype=np.complex64) - 4
    raises_text(TypeError, "The given array is not contiguous or is misaligned.",
            lambda: v.BpskDemod(1.0).process(base[::2]))
    assert np.array_equal(v.BpskDemod(1.0).process(base[2:6]), [1, 1, 0, 0])
    reversed_view = base[::-1]
    with pytest.raises(TypeError):
        v.BpskDemod(1.0).process(reversed_view)


def test_misaligned_array_is_refused():
    raw = np.zeros(8 * 5 + 1, np.uint8)
    view = raw[1:].view(np.complex64)
    assert not view.flags.aligned
    raises_text(TypeError, "The given array is not contiguous or is misaligned.",
            lambda: v.BpskDemod(1.0).process(view))


def test_empty_arrays():
    out = v.BpskDemod(1.0).process(np.zeros(0, np.complex64))
    assert out.dtype == np.uint8 and out.shape == (0,)
    # An empty strided view holds no data and is accepted.
    assert v.BpskDemod(1.0).process(np.zeros(4, np.complex64)[::2][:0]).shape == (0,)
    out = v.QpskMod(1.0, 0.0, 1.0).process(np.zeros(1, np.uint8))
    assert out.dtype == np.complex64 and out.shape == (0,)


def test_input_array_subclass_and_readonly_are_accepted():
    class Sub(np.ndarray):
        pass

    arr = np.array([1 + 0j, -1 + 0j], np.complex64).view(Sub)
    arr.flags.writeable = False
    assert list(v.BpskDemod(1.0).process(arr)) == [0, 1]
    assert arr.flags.writeable is False


def test_result_arrays_own_their_buffer():
    mod = v.BpskMod(8.0, 1.0, 1.0)
    out = mod.process(np.array([0, 1, 1], np.uint8))
    assert out.flags.writeable and out.flags.c_contiguous
    assert out.strides == (8,)
    assert out.base is not None and not isinstance(out.base, np.ndarray)
    out[0] = 5
    keep = out.copy()
    del mod
    gc.collect()
    assert np.array_equal(out, keep)
    other = v.BpskMod(8.0, 1.0, 1.0).process(np.array([0, 1, 1], np.uint8))
    assert not np.shares_memory(out, other)


def test_reentry_through_float_conversion_is_refused():
    demod = v.BpskDemod(1.0)

    class Reenter:
        def __float__(self):
            demod.set_gain(2.0)
            return 1.0

    raises_text(RuntimeError, "Already borrowed", lambda: demod.set_gain(Reenter()))
    # The borrow was released on the failing path.
    demod.set_gain(1.0)


def test_reentry_error_is_not_renamed():
    mod = v.BpskMod(8.0, 0.0, 1.0)

    class Reenter:
        def __float__(self):
            mod.process(np.zeros(1, np.uint8))
            return 1.0

    err = raises_text(RuntimeError, "Already borrowed", lambda: mod.set_gain(Reenter()))
    assert err.__cause__ is None


def test_method_called_with_foreign_receiver():
    with pytest.raises(TypeError):
        v.BpskMod.process(v.BpskDemod(1.0), np.zeros(1, np.uint8))


def test_huge_arrays_do_not_crash():
    big = np.zeros(1 << 22, np.uint8)
    out = v.BpskMod(8.0, 1.0, 1.0).process(big)
    assert out.shape == big.shape


def test_refcounts_stay_balanced():
    bits = np.zeros(16, np.uint8)
    mod = v.BpskMod(8.0, 1.0, 1.0)
    before = sys.getrefcount(bits)
    for _ in range(100):
        mod.process(bits)
        with pytest.raises(TypeError):
            mod.process(bits, 1)
    assert sys.getrefcount(bits) == before
