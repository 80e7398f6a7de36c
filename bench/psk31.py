"""PSK31: Psk31Stream.feed speed as a multiple of real time at 8 kHz, for
BPSK31 and QPSK31, fed in blocks as a sound card delivers them and in one
call; and the carrier search over the same buffer.  The stream must return
the text sent, however it is fed, and the search must point at the burst."""

import sys

import numpy as np

import vatel_sdr as v
from _checks import exit_status, expect
from _timing import best, size

FS = 8000.0
CARRIER = 1000.0


def main():
    rng = np.random.default_rng(31)
    text = bytes(rng.integers(32, 127, size(400, 20), dtype=np.uint8))
    for mode, mod_cls in (("bpsk", v.Bpsk31Mod), ("qpsk", v.Qpsk31Mod)):
        iq = mod_cls(FS, CARRIER, 0.5).modulate_text(text)
        iq = (iq + 0.3 * (rng.normal(size=iq.size) + 1j * rng.normal(size=iq.size))).astype(np.complex64)
        seconds = iq.size / FS
        blocks = np.split(iq, range(4096, iq.size, 4096))

        def in_blocks():
            s = v.Psk31Stream(mode, FS, CARRIER)
            got = "".join(s.feed(b) for b in blocks)
            return got + s.flush()

        def at_once():
            s = v.Psk31Stream(mode, FS, CARRIER)
            return s.feed(iq) + s.flush()

        for how, run in (("in blocks", in_blocks), ("in one call", at_once)):
            got = run()
            expect(got == text.decode(), f"Psk31Stream {mode} {how}: {got[:40]!r} is not the text sent")
        tb, to = best(in_blocks), best(at_once)
        print(f"Psk31Stream {mode}: {seconds:.0f} s of signal;"
              f" 4096-sample blocks {seconds / tb:8.0f} x real time ({iq.size / tb / 1e6:.1f} M samples/s),"
              f" one call {seconds / to:8.0f} x real time")

    n = int(size(30, 3) * FS)
    iq = (0.3 * (rng.normal(size=n) + 1j * rng.normal(size=n))).astype(np.complex64)
    burst = v.Bpsk31Mod(FS, CARRIER, 1.0).modulate_text(text[:40])
    iq[:burst.size] += burst[:n]
    t = best(lambda: v.psk31_sync(iq, FS, 250.0, 2500.0), repeat=3)
    print(f"psk31_sync: {n / FS:.0f} s at 8 kHz, 250-2500 Hz (73 bins): {t * 1e3:.1f} ms")
    chosen = v.best_psk31_sync(v.psk31_sync(iq, FS, 250.0, 2500.0), CARRIER)
    expect(chosen is not None and abs(chosen["carrier_hz"] - CARRIER) <= 31.25,
           f"psk31_sync: no candidate within a bin of the burst at {CARRIER} Hz ({chosen and chosen['carrier_hz']})")
    return exit_status()


if __name__ == "__main__":
    sys.exit(main())
