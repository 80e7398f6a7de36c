"""Covering an FT8/FT4 slot off the searches' grids: the four-call recipe of
examples/ft8_slot.py, against bursts that the module did not make."""
import glob
import importlib.util
import pathlib
import shutil
import subprocess
import wave

import numpy as np
import pytest
from scipy.special import erf

import vatel_sdr as v

FS = 12000.0
_spec = importlib.util.spec_from_file_location(
    "ft8_slot", pathlib.Path(__file__).resolve().parents[2] / "examples" / "ft8_slot.py")
ft8_slot = importlib.util.module_from_spec(_spec)
_spec.loader.exec_module(ft8_slot)

COSTAS = [3, 1, 4, 0, 6, 5, 2]


def ft8_gfsk(payload, f0, phase):
    """An FT8 burst after the published protocol, in float64: the 79 channel
    symbols (Costas arrays around the 58 data tones) sent as GFSK with BT 2,
    the frequency pulse spanning three symbols, the first and last tones held
    before and after, and raised-cosine ramps over an eighth of a symbol at
    both ends.  (This model and wsjtx's ft8sim agree to a correlation of
    0.99999.)"""
    data = list(v.Ft8Codec.encode(payload))
    symbols = np.array(COSTAS + data[:29] + COSTAS + data[29:] + COSTAS, float)
    nsps = 1920
    t = (np.arange(3 * nsps) - 1.5 * nsps + 0.5) / nsps
    c = np.pi * np.sqrt(2 / np.log(2))
    pulse = 0.5 * (erf(2.0 * c * (t + 0.5)) - erf(2.0 * c * (t - 0.5)))
    held = np.concatenate([symbols[:1], symbols, symbols[-1:]])
    tone = np.zeros((held.size + 2) * nsps)
    for j, s in enumerate(held):
        tone[j * nsps:(j + 3) * nsps] += s * pulse
    tone = tone[2 * nsps:(symbols.size + 2) * nsps]
    x = np.exp(1j * (phase + 2 * np.pi * np.cumsum(f0 + 6.25 * tone) / FS))
    r = nsps // 8
    ramp = 0.5 - 0.5 * np.cos(np.pi * np.arange(r) / r)
    x[:r] *= ramp
    x[-r:] *= ramp[::-1]
    return x


def noise(n, snr_db, rng):
    """Complex noise for unit-power bursts at snr_db in 2500 Hz."""
    sigma = np.sqrt(10 ** (-snr_db / 10) * FS / 2500 / 2)
    return rng.normal(0, sigma, (n, 2)) @ np.array([1, 1j])


# Tone 0 in bins above 200 Hz plus an offset in Hz; start in symbols plus an
# offset in samples.  Half a bin and half a symbol off the grid, both, a
# quarter of each (as far as a burst can be from all four calls' grids), and
# somewhere.
FT8_BURSTS = [(("CQ", "K1ABC", "FN42"), 40, 0.0, 2, 0),
              (("K1ABC", "W9XYZ", "EN37"), 100, 3.125, 3, 0),
              (("W9XYZ", "K1ABC", "-11"), 160, 0.0, 2, 960),
              (("K1ABC", "W9XYZ", "R-09"), 220, 3.125, 4, 960),
              (("W9XYZ", "K1ABC", "RR73"), 280, 1.5625, 3, 480),
              (("CQ", "W9XYZ", "EN37"), 340, 4.41, 1, 1337)]


def test_four_calls_decode_ft8_bursts_anywhere_in_a_slot(rng):
    slot = noise(int(15 * FS), -10.0, rng)
    for message, k, df, s, ds in FT8_BURSTS:
        burst = ft8_gfsk(v.ft8_pack_standard(*message), 200.0 + 6.25 * k + df, rng.uniform(0, 2 * np.pi))
        slot[s * 1920 + ds:s * 1920 + ds + burst.size] += burst
    slot = slot.astype(np.complex64)

    found = ft8_slot.decode_slot(slot, FS, 200.0, 3000.0)
    assert sorted(v.ft8_unpack(p)["call_de"] + v.ft8_unpack(p)["extra"] for p in found) == sorted(
        m[1] + m[2] for m, *_ in FT8_BURSTS)
    for message, k, df, s, ds in FT8_BURSTS:
        where = found[v.ft8_pack_standard(*message)]
        # The best-scoring call is one whose grid point is next to the burst.
        assert abs(where["tone0_hz"] - (200.0 + 6.25 * k + df)) < 6.25 / 2
        assert abs(where["start_sample"] - (s * 1920 + ds)) < 1920 // 2

    # One call on the grid alone misses every burst half a bin or half a symbol off it.
    one = {v.Ft8Codec.decode_soft(c["llr"]) for c in v.ft8_sync(slot, FS, 200.0, 3000.0, 0, 14, 20)}
    for message, k, df, s, ds in FT8_BURSTS[1:4]:
        assert v.ft8_pack_standard(*message) not in one


def test_four_calls_decode_ft4_bursts_off_the_grid(rng):
    spacing, hop = 20.833334, 576
    bursts = [(("CQ", "K1ABC", "FN42"), 10, 0.0, 2, 0),
              (("K1ABC", "W9XYZ", "EN37"), 30, spacing / 2, 3, 288),
              (("W9XYZ", "K1ABC", "-11"), 50, 3.7, 1, 401)]
    slot = noise(int(7.5 * FS), -6.0, rng)
    for message, k, df, s, ds in bursts:
        tones = v.Ft4Codec.encode(v.ft8_pack_standard(*message))
        burst = v.Ft4Mod(FS, 300.0 + spacing * k + df, 0.0, 1.0).modulate(tones)
        slot[s * hop + ds:s * hop + ds + burst.size] += burst
    found = ft8_slot.decode_slot(slot.astype(np.complex64), FS, 300.0, 2000.0, mode="ft4")
    assert set(found) == {v.ft8_pack_standard(*m) for m, *_ in bursts}


@pytest.mark.skipif(shutil.which("ft8sim") is None, reason="wsjtx's ft8sim is not installed")
def test_four_calls_decode_an_ft8sim_burst_off_the_grid(tmp_path):
    # ft8sim starts the burst at 0.5 s + DT: 6720 samples, three and a half
    # symbols; 1503.125 Hz is half a bin off a grid from 200 Hz.
    subprocess.run(["ft8sim", "K1ABC W9XYZ EN37", "1503.125", "0.06", "0", "0", "1", "-10"],
                   cwd=tmp_path, check=True, capture_output=True)
    with wave.open(glob.glob(str(tmp_path / "*.wav"))[0]) as w:
        audio = np.frombuffer(w.readframes(w.getnframes()), np.int16) / 32768.0
    found = ft8_slot.decode_slot(audio.astype(np.complex64), FS, 200.0, 3000.0)
    assert v.ft8_pack_standard("K1ABC", "W9XYZ", "EN37") in found
