import pytest

import vatel_sdr as v


def test_codec_cache_is_a_plain_object():
    cache = v.CodecCache()
    assert type(cache).__name__ == "CodecCache"
    assert v.CodecCache.__text_signature__ == "()"
    assert [n for n in dir(cache) if not n.startswith("__")] == []
    assert v.CodecCache() is not cache


@pytest.mark.parametrize("args, kwargs, text", [
    ((1,), {}, "CodecCache.__new__() takes 0 positional arguments but 1 was given"),
    ((), {"size": 3}, "CodecCache.__new__() got an unexpected keyword argument 'size'"),
])
def test_codec_cache_takes_no_arguments(args, kwargs, text):
    with pytest.raises(TypeError) as info:
        v.CodecCache(*args, **kwargs)
    assert str(info.value) == text
