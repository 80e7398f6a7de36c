"""Throughput of the single-carrier modems and the cost of a small call.
The digital modems must give back the bits they were given, at baseband."""

import sys

import numpy as np

import vatel_sdr as v
from _checks import exit_status, expect
from _timing import best, size

N = size(10_000_000, 100_000)


def main():
    rng = np.random.default_rng(1)
    bits = rng.integers(0, 2, N, dtype=np.uint8)
    iq = (rng.normal(size=N) + 1j * rng.normal(size=N)).astype(np.complex64)
    rows = []

    # The timed modulators run on a carrier; the round trip is at baseband.
    pairs = [("BPSK", v.BpskMod(48000.0, 0.0, 1.0), v.BpskDemod(1.0)),
             ("QPSK", v.QpskMod(48000.0, 0.0, 1.0), v.QpskDemod(1.0))]
    pairs += [(f"{order}-QAM", v.QamMod(order, 48000.0, 0.0, 1.0), v.QamDemod(order, 1.0)) for order in (16, 256)]
    for name, m, d in pairs:
        some = bits[:4096]
        expect(np.array_equal(d.process(m.process(some)), some), f"{name}: the demodulator does not return the bits sent")

    mod = v.BpskMod(48000.0, 1000.0, 1.0)
    rows.append(("BpskMod.process", N / best(lambda: mod.process(bits)), "samples/s", 200e6))
    qmod = v.QpskMod(48000.0, 1000.0, 1.0)
    rows.append(("QpskMod.process", N / 2 / best(lambda: qmod.process(bits)), "samples/s", None))
    demod = v.BpskDemod(1.0)
    rows.append(("BpskDemod.process", N / best(lambda: demod.process(iq)), "samples/s", 1e9))
    qdemod = v.QpskDemod(1.0)
    rows.append(("QpskDemod.process", N / best(lambda: qdemod.process(iq)), "samples/s", None))

    audio = rng.uniform(-1, 1, N).astype(np.float32)
    fs = 48000.0
    serial = "serial per sample: one sincosf each (library call, exact bits)"
    discriminator = ("serial per sample: the audio low-pass is two cascaded recursive biquads in the"
                     " exact order written, about 90 M samples/s alone here; the arctangent is not the limit")
    analog = [
        ("QamMod(16).process", v.QamMod(16, fs, 1000.0, 1.0), bits[: N // 4 * 4], 4, None),
        ("QamMod(256).process", v.QamMod(256, fs, 1000.0, 1.0), bits, 8, None),
        ("QamDemod(16).process", v.QamDemod(16, 1.0), iq, 1, None),
        ("QamDemod(256).process", v.QamDemod(256, 1.0), iq, 1, None),
        ("AmDsbMod.process", v.AmDsbMod(fs, 1000.0, 1.0, 0.5), audio, 1, None),
        ("AmEnvelopeDemod.process", v.AmEnvelopeDemod(fs, 4000.0), iq, 1, None),
        ("CwKeyedMod.process", v.CwKeyedMod(fs, 700.0, 5.0, 5.0), audio, 1, None),
        ("CwEnvelopeDemod.process", v.CwEnvelopeDemod(fs, 700.0, 100.0), iq, 1, None),
        ("SsbPhasingMod.process", v.SsbPhasingMod(fs, 3000.0, 1500.0, 1000.0, True), audio, 1, None),
        ("SsbProductDemod.process", v.SsbProductDemod(fs, 1500.0, 3000.0), iq, 1, None),
        ("FmPhaseAccumMod.process", v.FmPhaseAccumMod(fs, 5000.0, 1000.0), audio, 1, serial),
        ("PmDirectPhaseMod.process", v.PmDirectPhaseMod(fs, 1.0, 1000.0), audio, 1, serial),
        ("FmQuadratureDemod.process", v.FmQuadratureDemod(fs, 5000.0, 4000.0), iq, 1, discriminator),
        ("PmQuadratureDemod.process", v.PmQuadratureDemod(fs, 1.0, 4000.0), iq, 1, discriminator),
    ]
    notes = {}
    for name, obj, x, per, note in analog:
        rate = (x.size // per) / best(lambda: obj.process(x), 3)
        rows.append((name, rate, "samples/s", 100e6))
        if note:
            notes[name] = note

    calls = size(1_000_000, 10_000)
    set_gain = demod.set_gain

    def many_calls():
        for _ in range(calls):
            set_gain(1.0)

    ns = best(many_calls, 3) / calls * 1e9
    rows.append(("BpskDemod.set_gain", ns, "ns/call", None))

    print(f"{'benchmark':27} {'value':>14} {'unit':10} target")
    for name, value, unit, target in rows:
        tgt = ""
        if target is not None:
            tgt = f">= {target:.0e}  {'ok' if value >= target else 'BELOW'}"
        if unit == "ns/call":
            tgt = f"< 100  {'ok' if value < 100 else 'ABOVE'}"
        print(f"{name:27} {value:14.4g} {unit:10} {tgt}")
    for name, note in notes.items():
        print(f"  note: {name}: {note}")
    return exit_status()


if __name__ == "__main__":
    sys.exit(main())
