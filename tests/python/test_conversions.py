"""Every conversion of the binding layer, through its test module."""
import collections.abc

import _vatel_probe as p
import numpy as np
import pytest
from conftest import RANGE, raises_text


def test_integers_within_their_widths():
    assert p.ints(255, 65535, 2**32 - 1, -2**31, 2**64 - 1, -2**63) == (
        255, 65535, 2**32 - 1, -2**31, 2**64 - 1, -2**63)

    class Index:
        def __index__(self):
            return 7

    assert p.ints(Index(), True, 0, 0, Index(), 0)[:2] == (7, 1)


@pytest.mark.parametrize("args", [
    (256, 0, 0, 0, 0, 0), (-1, 0, 0, 0, 0, 0), (0, 65536, 0, 0, 0, 0),
    (0, 0, 2**32, 0, 0, 0), (0, 0, -1, 0, 0, 0), (0, 0, 0, 2**31, 0, 0),
    (0, 0, 0, -2**31 - 1, 0, 0),
])
def test_integer_out_of_width_has_no_parameter_name(args):
    err = raises_text(OverflowError, RANGE, lambda: p.ints(*args))
    assert err.__cause__ is None


def test_integers_beyond_64_bits_and_counts_use_the_interpreters_errors():
    with pytest.raises(OverflowError) as info:
        p.ints(2**70, 0, 0, 0, 0, 0)
    assert "argument" not in str(info.value) and str(info.value) != RANGE
    with pytest.raises(OverflowError) as info:
        p.ints(0, 0, 0, 0, -1, 0)
    assert "negative" in str(info.value)
    with pytest.raises(OverflowError):
        p.ints(0, 0, 0, 0, 2**64, 0)


def test_non_integers_are_type_errors_with_the_name():
    raises_text(TypeError, "argument 'u8': 'float' object cannot be interpreted as an integer",
            lambda: p.ints(1.0, 0, 0, 0, 0, 0))
    raises_text(TypeError, "argument 'size': 'str' object cannot be interpreted as an integer",
            lambda: p.ints(0, 0, 0, 0, "1", 0))


def test_float32_rounding_and_range():
    assert p.f32(0.1) == float(np.float32(0.1))
    assert p.f32(3) == 3.0
    assert p.f32(1e300) == float("inf")
    assert np.isnan(p.f32(float("nan")))
    assert p.f32(np.float64(2.5)) == 2.5


def test_bool():
    assert p.flag(True) is False and p.flag(False) is True
    assert p.flag(np.bool_(True)) is False
    raises_text(TypeError, "argument 'b': 'int' object is not an instance of 'bool'", lambda: p.flag(1))
    raises_text(TypeError, "argument 'b': 'None' is not an instance of 'bool'", lambda: p.flag(None))


def test_str_and_bytes():
    assert p.echo("héllo") == "héllo!"

    class S(str):
        pass

    assert p.echo(S("a")) == "a!"
    raises_text(TypeError, "argument 's': 'bytes' object is not an instance of 'str'", lambda: p.echo(b"a"))
    with pytest.raises(UnicodeEncodeError):
        p.echo("\ud800")
    assert p.reverse(b"abc") == b"cba"
    raises_text(TypeError, "argument 'data': 'bytearray' object is not an instance of 'bytes'",
            lambda: p.reverse(bytearray(b"a")))
    raises_text(TypeError, "argument 'data': 'memoryview' object is not an instance of 'bytes'",
            lambda: p.reverse(memoryview(b"a")))


class AbcSequence(collections.abc.Sequence):
    def __len__(self):
        return 3

    def __getitem__(self, i):
        if i >= 3:
            raise IndexError
        return float(i)


def test_fixed_length_sequences():
    assert p.sum3([1, 2, 3]) == 6
    assert p.sum3((1.5, 2, 3)) == 6.5
    assert p.sum3(np.array([1, 2, 3], np.float64)) == 6
    assert p.sum3(AbcSequence()) == 3
    raises_text(ValueError, "expected a sequence of length 3 (got 2)", lambda: p.sum3([1, 2]))
    raises_text(TypeError, "argument 'values': 'int' object is not an instance of 'Sequence'",
            lambda: p.sum3(5))
    raises_text(TypeError, "argument 'values': must be real number, not str", lambda: p.sum3([1, "a", 3]))


def test_list_and_dict():
    assert p.list_len([1, 2, 3]) == 3
    raises_text(TypeError, "argument 'items': 'tuple' object is not an instance of 'list'",
            lambda: p.list_len((1,)))
    assert p.dict_get({"a": 5}, "a") == 5
    assert p.dict_get({"a": 5}, "b") is None
    raises_text(TypeError, "argument 'table': 'list' object is not an instance of 'dict'",
            lambda: p.dict_get([], "a"))


def test_defaults_and_signatures():
    assert p.optional_gain() == "none:bpsk"
    assert p.optional_gain(None) == "none:bpsk"
    assert p.optional_gain(2, mode="qpsk") == "2.000000:qpsk"
    assert p.optional_gain.__text_signature__ == "(gain=None, mode='bpsk')"
    assert p.defaults(3) == "3,60,1,x"
    assert p.defaults(3, flag=False, stopband_db=40.5) == "3,40.5,0,x"
    raises_text(TypeError, "argument 'flag': 'None' is not an instance of 'bool'",
            lambda: p.defaults(3, flag=None))
    raises_text(TypeError, "defaults() takes from 1 to 4 positional arguments but 5 were given",
            lambda: p.defaults(1, 2, True, "a", 5))
    raises_text(TypeError, "defaults() missing 1 required positional argument: 'n'", lambda: p.defaults())
    assert p.Counter.__text_signature__ == "(start, label='')"
    assert p.Counter.add.__text_signature__ == "($self, n)"
    assert p.Pair.make.__text_signature__ == "(a, b)"


def test_unexpected_keyword_is_reported_before_missing_arguments():
    raises_text(TypeError, "defaults() got an unexpected keyword argument 'g'", lambda: p.defaults(g=1))


def test_functions_without_arguments():
    assert p.no_args() == 42
    with pytest.raises(TypeError, match="takes no arguments"):
        p.no_args(1)
    assert p.Pair.answer() == 42
    assert p.no_args.__module__ == "_vatel_probe"


def test_arrays_of_each_dtype():
    out = p.floats(np.array([1.5, -2], np.float32))
    assert out.dtype == np.float32 and out.tolist() == [1.5, -2]
    out = p.ints_array(np.array([7, -9], np.int32))
    assert out.dtype == np.int32 and out.tolist() == [7, -9]
    raises_text(TypeError, "argument 'x': 'ndarray' object is not an instance of 'ndarray'",
            lambda: p.floats(np.zeros(2, np.float64)))
    raises_text(TypeError, "argument 'x': 'ndarray' object is not an instance of 'ndarray'",
            lambda: p.ints_array(np.zeros(2, np.int64)))


def test_every_argument_is_converted_before_array_data_is_taken():
    strided = np.zeros(8, np.uint8)[::2]
    # The second argument's type error wins over the first one's layout.
    raises_text(TypeError, "argument 'b': 'list' object is not an instance of 'ndarray'",
            lambda: p.two_arrays(strided, [1]))
    raises_text(TypeError, "The given array is not contiguous or is misaligned.",
            lambda: p.two_arrays(strided, np.zeros(1, np.uint8)))


def test_results():
    d = p.table()
    assert list(d) == ["start_sample", "score", "name"]
    assert d == {"start_sample": 12, "score": 0.5, "name": "x"}
    pairs = p.pairs(3)
    assert [x.a for x in pairs] == [0, 1, 2]
    assert p.maybe(True) == 7 and p.maybe(False) is None


def test_error_values_become_value_errors():
    raises_text(ValueError, "nothing to see", lambda: p.fail_with("nothing to see"))
    raises_text(ValueError, 'Counter: label must not be "bad"', lambda: p.Counter(1, "bad"))


def test_class_objects():
    c = p.Counter(5, "a")
    c.add(2)
    assert c.count == 7 and c.label == "a"
    assert repr(c) == "Counter(7)"
    twin = c.clone()
    assert twin is not c and twin == c and not (twin != c)
    twin.add(1)
    assert twin != c and c.count == 7
    assert (c == 5) is False
    assert p.Counter(1).label == ""
    assert p.Counter.count.__doc__ == "The count."
    with pytest.raises(AttributeError):
        c.count = 3


def test_members_without_parameters():
    c = p.Counter(4)
    assert c.doubled() == 8
    c.reset()
    assert c.count == 0
    with pytest.raises(TypeError):
        c.doubled(1)


def test_object_arguments_and_borrows():
    a, b = p.Counter(1), p.Counter(10)
    assert a.add_from(b) == 11
    assert a.peek(a) == 22  # two shared borrows of one object
    raises_text(RuntimeError, "Already mutably borrowed", lambda: a.add_from(a))
    assert a.count == 11  # released after the failure
    raises_text(TypeError, "argument 'other': 'Pair' object is not an instance of 'Counter'",
            lambda: a.peek(p.Pair.make(1, 2)))
    raises_text(TypeError, "argument 'other': 'None' is not an instance of 'Counter'", lambda: a.peek(None))


def test_class_without_constructor():
    with pytest.raises(TypeError):
        p.Pair()
    assert p.Pair.make(3, -4).a == 3
    raises_text(OverflowError, RANGE, lambda: p.Pair.make(256, 0))


def test_panics_become_panic_exception(capfd):
    with pytest.raises(BaseException) as info:
        p.panic_now("limit exceeded")
    err = info.value
    assert not isinstance(err, Exception)
    assert type(err).__name__ == "PanicException"
    assert str(err) == "limit exceeded"
    report = capfd.readouterr().err
    assert "limit exceeded" in report and "probe.cpp" in report
    with pytest.raises(BaseException) as again:
        p.Counter(0).boom()
    assert type(again.value) is type(err)
    assert str(again.value) == "counter exploded"
    with pytest.raises(BaseException) as std:
        p.throw_std()
    assert type(std.value) is type(err) and str(std.value) == "plain C++ exception"


def test_sizes_too_large_to_allocate_become_memory_error(capfd):
    # A failed allocation, a container's length refusal and a size product
    # that wraps are one failure to the caller; only the last one says which.
    for how, text in [("bad_alloc", ""), ("length_error", ""),
                      ("size", f"probe size overflows: {2**40} * {2**40}")]:
        raises_text(MemoryError, text, lambda: p.too_large(how))
    assert capfd.readouterr().err == ""  # no invariant report


def test_except_exception_does_not_catch_a_panic():
    caught = None
    try:
        try:
            p.panic_now("x")
        except Exception:  # noqa: BLE001 - the point of the test
            caught = "exception"
    except BaseException:
        caught = "base"
    assert caught == "base"


def test_object_survives_a_panic():
    c = p.Counter(3)
    with pytest.raises(BaseException):
        c.boom()
    c.add(1)
    assert c.count == 4
