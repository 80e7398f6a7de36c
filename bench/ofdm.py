"""OFDM symbols per second of OfdmMod.modulate against the bare inverse FFTs.

The bare transform is FFTW itself (the library the FFT blocks use), loaded
through ctypes and run as one batched plan over as many transforms as the
modulator makes symbols, so neither side pays a Python call per symbol.
When FFTW cannot be loaded, numpy.fft stands in.  At rf_hz 0 the symbols
must demodulate back to the bits modulated.
"""
import ctypes
import ctypes.util
import sys

import numpy as np

import vatel_sdr as v
from _checks import exit_status, expect
from _timing import best, size

FFTW_BACKWARD = 1
FFTW_ESTIMATE = 1 << 6
SAMPLES = size(4_000_000, 40_000)  # per measurement, whatever the FFT size


def load_fftw():
    name = ctypes.util.find_library("fftw3f")
    if not name:
        return None
    lib = ctypes.CDLL(name)
    lib.fftwf_plan_many_dft.restype = ctypes.c_void_p
    lib.fftwf_plan_many_dft.argtypes = [
        ctypes.c_int, ctypes.POINTER(ctypes.c_int), ctypes.c_int,
        ctypes.c_void_p, ctypes.c_void_p, ctypes.c_int, ctypes.c_int,
        ctypes.c_void_p, ctypes.c_void_p, ctypes.c_int, ctypes.c_int,
        ctypes.c_int, ctypes.c_uint]
    lib.fftwf_execute.argtypes = [ctypes.c_void_p]
    lib.fftwf_destroy_plan.argtypes = [ctypes.c_void_p]
    return lib


def bare_transform_time(lib, n_fft, symbols):
    buf = np.zeros(n_fft * symbols, np.complex64)
    if lib is None:
        x = buf.reshape(symbols, n_fft)
        return best(lambda: np.fft.ifft(x, axis=1)), "numpy.fft"
    n = (ctypes.c_int * 1)(n_fft)
    ptr = buf.ctypes.data
    plan = lib.fftwf_plan_many_dft(1, n, symbols, ptr, None, 1, n_fft, ptr, None, 1, n_fft,
                                   FFTW_BACKWARD, FFTW_ESTIMATE)
    try:
        return best(lambda: lib.fftwf_execute(plan)), "FFTW"
    finally:
        lib.fftwf_destroy_plan(plan)


def round_trips(cfg, iq, bits):
    """The baseband symbols of one call demodulate to the bits modulated."""
    sps, per = cfg.samples_per_ofdm_symbol, cfg.bits_per_ofdm_symbol
    d = v.OfdmDemod(cfg)
    return all(np.array_equal(d.demodulate(iq[k * sps:(k + 1) * sps]), bits[k * per:(k + 1) * per])
               for k in range(iq.size // sps))


def modulate_time(cfg, symbols, rng, baseband):
    """Seconds to modulate `symbols` symbols, in calls of about 1 MB of output
    (the size of a long frame), so that freshly mapped pages do not dominate."""
    per_call = max(1, (1 << 20) // (8 * cfg.samples_per_ofdm_symbol))
    calls = max(1, symbols // per_call)
    bits = rng.integers(0, 2, cfg.bits_per_ofdm_symbol * per_call, dtype=np.uint8)
    mod = v.OfdmMod(cfg)
    if baseband:
        expect(round_trips(cfg, v.OfdmMod(cfg).modulate(bits), bits),
               f"OfdmMod ({cfg.samples_per_ofdm_symbol} samples per symbol): the symbols do not demodulate "
               "to the bits modulated")

    def run():
        for _ in range(calls):
            mod.modulate(bits)

    return best(run), calls * per_call


def main():
    lib = load_fftw()
    rng = np.random.default_rng(1)
    print(f"{'n_fft':>6} {'rf_hz':>8} {'symbols/s modulate':>20} {'transforms/s bare':>20} "
          f"{'ratio':>7}  target")
    for n_fft in (64, 256, 2048):
        for rf_hz in (0.0, 123e3):
            cfg = v.OfdmConfig(n_fft, n_fft // 4, np.zeros(0, np.int32), np.zeros(0, np.int32),
                               np.zeros(0, np.complex64), 1e6, rf_hz, 1.0, "qam16", n_fft // 10)
            t_mod, symbols = modulate_time(cfg, max(SAMPLES // n_fft, 1), rng, rf_hz == 0.0)
            t_fft, which = bare_transform_time(lib, n_fft, symbols)
            ratio = t_mod / t_fft
            print(f"{n_fft:6d} {rf_hz:8.0f} {symbols / t_mod:20.4g} {symbols / t_fft:20.4g} "
                  f"{ratio:7.2f}  <= 3x {which}  {'ok' if ratio <= 3 else 'ABOVE'}")
    return exit_status()


if __name__ == "__main__":
    sys.exit(main())
