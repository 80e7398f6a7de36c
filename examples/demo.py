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


def tone_snr_db(x, freq, fs):
    """SNR of x against its least-squares fit by one tone plus DC."""
    t = np.arange(x.size) / fs
    basis = np.stack([np.cos(2 * np.pi * freq * t), np.sin(2 * np.pi * freq * t), np.ones_like(t)], 1)
    coef, *_ = np.linalg.lstsq(basis, x.astype(np.float64), rcond=None)
    fit = basis[:, :2] @ coef[:2]
    return 10 * np.log10(np.sum(fit ** 2) / np.sum((x - basis @ coef) ** 2))


def analog():
    fs = 48000.0
    audio = (0.8 * np.cos(2 * np.pi * 1000.0 * np.arange(48000) / fs)).astype(np.float32)
    print("Analog modems: a 1 kHz tone through an RF channel at 30 dB SNR")
    links = [
        ("AM", v.AmDsbMod(fs, 0.0, 1.0, 0.5), v.AmEnvelopeDemod(fs, 4000.0)),
        ("FM", v.FmPhaseAccumMod(fs, 5000.0, 0.0), v.FmQuadratureDemod(fs, 5000.0, 4000.0)),
        ("USB", v.SsbPhasingMod(fs, 1200.0 / 0.9, 1500.0, 10000.0, True),
         v.SsbProductDemod(fs, 11500.0, 3000.0)),
    ]
    for name, mod, demod in links:
        rx = demod.process(awgn(mod.process(audio), 30.0))
        print(f"  {name:4} recovered audio SNR {tone_snr_db(rx[24000:], 1000.0, fs):5.1f} dB")
    bits = rng.integers(0, 2, 6 * 100000, dtype=np.uint8)
    rx = v.QamDemod(64, 1.0).process(awgn(v.QamMod(64, fs, 0.0, 1.0).process(bits), 22.0))
    print(f"  64-QAM at 22 dB: BER {np.count_nonzero(rx != bits) / bits.size:.2e}")


if __name__ == "__main__":
    single_carrier()
    analog()
