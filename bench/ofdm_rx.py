"""The OFDM receive path from Python: OfdmDemod.demodulate calls per second
(one symbol per call, so the call and its result arrays are part of the
cost) and ofdm_sync start positions per second including the list of
dictionaries it returns.  The native rates, against bare FFTW, are printed
by build/bench/bench_ofdm_rx.  The demodulated bits of the clean symbols
must be the bits sent."""
import sys

import numpy as np

import vatel_sdr as v
from _checks import exit_status, expect
from _timing import best, size

SYMBOLS = size(64, 4)
NOISE = size(1 << 20, 1 << 14)


def config(n_fft):
    return v.OfdmConfig(n_fft, n_fft // 4, np.zeros(0, np.int32), np.zeros(0, np.int32),
                        np.zeros(0, np.complex64), 1e6, 0.0, 1.0, "qam16", n_fft // 10)


def main():
    rng = np.random.default_rng(3)
    print(f"{'OfdmDemod.demodulate':28} {'calls/s':>12}")
    for n_fft in (64, 256, 2048):
        cfg = config(n_fft)
        bits = rng.integers(0, 2, SYMBOLS * cfg.bits_per_ofdm_symbol, dtype=np.uint8)
        iq = v.OfdmMod(cfg).modulate(bits)
        sps = cfg.samples_per_ofdm_symbol
        symbols = [iq[k * sps:(k + 1) * sps] for k in range(SYMBOLS)]
        d = v.OfdmDemod(cfg)
        per = cfg.bits_per_ofdm_symbol
        wrong = sum(not np.array_equal(d.demodulate(s), bits[k * per:(k + 1) * per]) for k, s in enumerate(symbols))
        expect(wrong == 0, f"OfdmDemod n_fft {n_fft}: {wrong} of {SYMBOLS} clean symbols demodulated to other bits")

        def run():
            for s in symbols:
                d.demodulate(s)

        print(f"  n_fft {n_fft:4d} {'':17} {SYMBOLS / best(run):12.4g}")

    iq = (rng.standard_normal(NOISE) + 1j * rng.standard_normal(NOISE)).astype(np.complex64)
    print(f"{'ofdm_sync (R = 4, L = 16)':28} {'positions/s':>12}  (list of dicts included)")
    for training in (None, (64, 16)):
        args = training or (None, None)
        n = len(v.ofdm_sync(iq, 1e6, 4, 16, 0, iq.size, *args))
        t = best(lambda: v.ofdm_sync(iq, 1e6, 4, 16, 0, iq.size, *args), repeat=3)
        label = "with training (64, 16)" if training else "without training"
        print(f"  {label:26} {n / t:12.4g}")
    return exit_status()


if __name__ == "__main__":
    sys.exit(main())
