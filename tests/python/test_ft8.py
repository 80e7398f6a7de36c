"""FT8/FT4 through the Python surface."""
import numpy as np
import pytest

import vatel_sdr as v

FS = 12000.0


def test_pack_unpack_standard_and_free_text():
    p = v.ft8_pack_standard("CQ", "K1ABC", "FN42")
    assert isinstance(p, bytes) and len(p) == 10
    assert v.ft8_unpack(p) == {"type": "standard", "call_to": "CQ", "call_de": "K1ABC", "extra": "FN42"}
    assert list(v.ft8_unpack(p)) == ["type", "call_to", "call_de", "extra"]
    q = v.ft8_pack_free_text("HELLO WORLD")
    assert v.ft8_unpack(q) == {"type": "free_text", "text": "HELLO WORLD"}
    assert list(v.ft8_unpack(q)) == ["type", "text"]
    # Trailing spaces go, leading ones stay.
    assert v.ft8_unpack(v.ft8_pack_free_text(" HI")) == {"type": "free_text", "text": " HI"}


def test_pack_unpack_telemetry():
    # Data bytes shifted up by one bit, the top bit of the next below; n3 = 5.
    t = v.ft8_pack_telemetry(bytes(range(9)))
    assert t == bytes([0, 2, 4, 6, 8, 10, 12, 14, 0x11, 0x40])
    u = v.ft8_unpack(t)
    assert u == {"type": "telemetry", "data": bytes(range(9))}
    assert list(u) == ["type", "data"] and type(u["data"]) is bytes
    # Only the low 71 of the 72 bits travel.
    assert v.ft8_unpack(v.ft8_pack_telemetry(b"\xff" * 9)) == {
        "type": "telemetry", "data": b"\x7f" + b"\xff" * 8}


@pytest.mark.parametrize("call, text", [
    (lambda: v.ft8_pack_telemetry(b"\0" * 8), "ft8_pack_telemetry: expected 9 bytes, got 8"),
    (lambda: v.ft8_unpack(b"\0" * 11), "ft8_unpack: expected 10 bytes, got 11"),
    (lambda: v.ft8_pack_standard("CQ", "??", "FN42"),
     "ft8_pack_standard: failed to pack message (invalid callsign?)"),
    (lambda: v.ft8_pack_free_text("THIS TEXT IS TOO LONG"),
     "ft8_pack_free_text: failed to pack message (text too long or invalid chars?)"),
    (lambda: v.Ft8Mod(FS, 1000.0, 0.0, 1.0).modulate(np.zeros(57, np.uint8)),
     "Ft8Mod.modulate: expected 58 tone indices, got 57"),
    (lambda: v.Ft4Mod(FS, 1000.0, 0.0, 1.0).modulate(np.zeros(0, np.uint8)),
     "Ft4Mod.modulate: expected 87 tone indices, got 0"),
    (lambda: v.Ft8Demod(FS, 1000.0).demodulate(np.zeros(10, np.complex64)),
     "Ft8Demod.demodulate: input too short (10 < 151680)"),
])
def test_error_texts(call, text):
    with pytest.raises(ValueError) as info:
        call()
    assert str(info.value) == text


def test_codec_is_static_and_takes_bytes():
    assert v.Ft8Codec.encode.__text_signature__ == "(payload)"
    with pytest.raises(TypeError, match="argument 'payload': 'bytearray' object is not an instance of 'bytes'"):
        v.Ft8Codec.encode(bytearray(10))
    assert v.Ft8Codec().encode(b"\0" * 10).size == 58


@pytest.mark.parametrize("codec, mod, demod, tones, samples", [
    (v.Ft8Codec, v.Ft8Mod, v.Ft8Demod, 58, 151680),
    (v.Ft4Codec, v.Ft4Mod, v.Ft4Demod, 87, 60480),
])
def test_encode_modulate_demodulate_decode(codec, mod, demod, tones, samples):
    payload = v.ft8_pack_standard("K1ABC", "W9XYZ", "-12")
    t = codec.encode(payload)
    assert t.dtype == np.uint8 and t.size == tones
    assert codec.decode_hard(t) == payload
    iq = mod(FS, 1000.0, 0.0, 1.0).modulate(t)
    assert iq.dtype == np.complex64 and iq.size == samples
    assert np.array_equal(demod(FS, 1000.0).demodulate(iq), t)


@pytest.mark.parametrize("sync, codec, mod, spacing, hop", [
    (v.ft8_sync, v.Ft8Codec, v.Ft8Mod, 6.25, 1920),
    (v.ft4_sync, v.Ft4Codec, v.Ft4Mod, 20.833334, 576),
])
def test_sync_finds_a_burst_and_its_soft_bits_decode(sync, codec, mod, spacing, hop, rng):
    payload = v.ft8_pack_standard("CQ", "K1ABC", "FN42")
    k, s = 7, 4
    iq = mod(FS, 1000.0 + spacing * k, 0.0, 1.0).modulate(codec.encode(payload))
    buf = (rng.normal(0, 0.1, 15 * 12000) + 1j * rng.normal(0, 0.1, 15 * 12000)).astype(np.complex64)
    buf[s * hop:s * hop + iq.size] += iq
    cands = sync(buf, FS, 1000.0, 1300.0, 0, 20, 4)
    assert isinstance(cands, list) and 1 <= len(cands) <= 4
    best = cands[0]
    assert list(best) == ["time_sym", "freq_bin", "score", "llr"]
    assert (best["time_sym"], best["freq_bin"]) == (s, k)
    assert best["llr"].dtype == np.float32 and best["llr"].size == 174
    assert codec.decode_soft(best["llr"]) == payload


def test_sync_argument_ranges():
    with pytest.raises(OverflowError, match="out of range integral type conversion attempted"):
        v.ft8_sync(np.zeros(10, np.complex64), FS, 1000.0, 1100.0, 2**31, 0, 1)
    with pytest.raises(OverflowError):
        v.ft8_sync(np.zeros(10, np.complex64), FS, 1000.0, 1100.0, 0, 1, -1)
