"""End-to-end tour of vatel_sdr: each step modulates, sends through noise and
demodulates, printing what came back."""
import math

import numpy as np

import vatel_sdr as v

rng = np.random.default_rng(2026)


def awgn(iq, snr_db):
    """Adds complex Gaussian noise for the given Es/N0 (unit symbol energy)."""
    sigma = math.sqrt(10 ** (-snr_db / 10) / 2)
    noise = rng.normal(0, sigma, iq.size) + 1j * rng.normal(0, sigma, iq.size)
    return (iq + noise).astype(np.complex64)


def q_function(x):
    return 0.5 * math.erfc(x / math.sqrt(2))


def single_carrier():
    print("Single-carrier BPSK/QPSK over AWGN (10^6 bits each)")
    print(f"  {'mode':5} {'Es/N0 dB':>8} {'measured BER':>13} {'theory':>10}")
    n = 1_000_000
    bits = rng.integers(0, 2, n, dtype=np.uint8)
    for name, mod, demod, bits_per_symbol in [("BPSK", v.BpskMod, v.BpskDemod, 1),
                                              ("QPSK", v.QpskMod, v.QpskDemod, 2)]:
        for snr_db in (0.0, 4.0, 7.0):
            iq = mod(48000.0, 0.0, 1.0).process(bits)
            rx = demod(1.0).process(awgn(iq, snr_db))
            ber = np.count_nonzero(rx != bits) / n
            ebn0 = 10 ** (snr_db / 10) / bits_per_symbol
            theory = q_function(math.sqrt(2 * ebn0))
            print(f"  {name:5} {snr_db:8.1f} {ber:13.2e} {theory:10.2e}")


if __name__ == "__main__":
    single_carrier()
