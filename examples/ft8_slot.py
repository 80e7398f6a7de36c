"""Covering a whole FT8 (or FT4) slot with ft8_sync / ft4_sync.

The searches score whole symbols and whole tone bins only: their results are a
symbol index ("time_sym") and a bin index ("freq_bin").  A burst that begins
half a symbol after the grid (960 samples for FT8, 288 for FT4) or whose tones
lie halfway between two bins (3.125 Hz, 10.4 Hz) falls between the cells and
does not decode, however strong it is.  Four calls cover every position: the
input as it is and from half a symbol on, each with base_hz as given and half
a bin higher.  A burst found by several of them is the same message; the
decodes are merged by message, keeping the best-scoring call's position.

    PYTHONPATH=build python examples/ft8_slot.py
"""
import math

import numpy as np

import vatel_sdr as v

# search, codec, modulator, samples per symbol, tone spacing (Hz), symbols
MODES = {
    "ft8": (v.ft8_sync, v.Ft8Codec, v.Ft8Mod, 1920, 6.25, 79),
    "ft4": (v.ft4_sync, v.Ft4Codec, v.Ft4Mod, 576, 20.833334, 105),
}


def decode_slot(iq, fs, base_hz, max_hz, mode="ft8", max_cand=20):
    """Every message decoded in iq with tone 0 from base_hz to max_hz:
    {payload: {"start_sample", "tone0_hz", "score"}}, the position from the
    call that scored the message highest (a grid point next to the burst,
    usually the nearest of the four grids')."""
    sync, codec, _, hop, spacing, n_sym = MODES[mode]
    found = {}
    for shift in (0, hop // 2):
        x = iq[shift:]
        last = max(x.size // hop - n_sym, 0)  # the latest start that fits whole
        for df in (0.0, spacing / 2):
            for cand in sync(x, fs, base_hz + df, max_hz, 0, last, max_cand):
                payload = codec.decode_soft(cand["llr"])
                if payload is None:
                    continue
                if payload in found and found[payload]["score"] >= cand["score"]:
                    continue
                found[payload] = {"start_sample": cand["time_sym"] * hop + shift,
                                  "tone0_hz": base_hz + df + spacing * cand["freq_bin"],
                                  "score": cand["score"]}
    return found


def text(payload):
    m = v.ft8_unpack(payload)
    return " ".join(m[key] for key in ("call_to", "call_de", "extra") if key in m)


def main():
    fs, snr_db = 12000.0, -12.0
    rng = np.random.default_rng(15)
    slot = np.zeros(int(15 * fs), np.complex64)
    # (message, tone 0 in Hz, first sample): on the grid of a search from
    # 200 Hz, half a bin off, half a symbol late, and both.
    bursts = [(("CQ", "K1ABC", "FN42"), 200.0 + 6.25 * 80, 3 * 1920),
              (("K1ABC", "W9XYZ", "EN37"), 200.0 + 6.25 * 160 + 3.125, 4 * 1920),
              (("W9XYZ", "K1ABC", "-11"), 200.0 + 6.25 * 240, 5 * 1920 + 960),
              (("K1ABC", "W9XYZ", "R-09"), 200.0 + 6.25 * 320 + 3.125, 6 * 1920 + 960)]
    for message, hz, start in bursts:
        tones = v.Ft8Codec.encode(v.ft8_pack_standard(*message))
        burst = v.Ft8Mod(fs, hz, 0.0, 1.0).modulate(tones)
        slot[start:start + burst.size] += burst
    # Unit-power bursts: the noise in 2500 Hz sets the SNR.
    sigma = math.sqrt(10 ** (-snr_db / 10) * fs / 2500.0 / 2)
    slot += (sigma * (rng.normal(size=slot.size) + 1j * rng.normal(size=slot.size))).astype(np.complex64)

    one = {v.Ft8Codec.decode_soft(c["llr"]) for c in v.ft8_sync(slot, fs, 200.0, 3000.0, 0, 14, 20)}
    print(f"FT8 slot at {snr_db:.0f} dB SNR in 2500 Hz, four bursts on and off the search's grid")
    print(f"  one call decodes {len(one - {None})} of {len(bursts)}")
    found = decode_slot(slot, fs, 200.0, 3000.0)
    print(f"  four calls decode {len(found)}:")
    for payload, where in sorted(found.items(), key=lambda item: item[1]["tone0_hz"]):
        print(f"    t={where['start_sample'] / fs:5.2f} s  f={where['tone0_hz']:8.3f} Hz  {text(payload)}")


if __name__ == "__main__":
    main()
