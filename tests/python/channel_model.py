"""Channels a real receiver meets, modelled in NumPy, independent of the module.

`resample` models a receiver whose sample clock runs off the transmitter's:
with the receiver's clock `ppm` parts per million slower, its n-th sample is
taken at the transmitter's time start + n * (1 + ppm * 1e-6), so a burst
comes out shorter; a negative ppm is a faster clock and a longer burst.
"""
import numpy as np

# Half-length of the interpolation kernel and its Kaiser window: an error
# near -100 dB for signals within 0.45 of the sample rate.  The kernel is
# tabulated at _PHASES fractional delays and interpolated linearly between
# them.
_HALF = 48
_BETA = 10.0
_CUTOFF = 0.48
_PHASES = 1024


def _kernel_table():
    frac = np.arange(_PHASES + 1)[:, None] / _PHASES
    d = frac - np.arange(-_HALF + 1, _HALF + 1)[None, :]  # distance from each tap to t
    w = np.i0(_BETA * np.sqrt(np.clip(1.0 - (d / _HALF) ** 2, 0.0, None))) / np.i0(_BETA)
    return 2 * _CUTOFF * np.sinc(2 * _CUTOFF * d) * w


_TABLE = _kernel_table()


def resample(x, ppm, start=0.0):
    """x sampled by a clock `ppm` slower than its own, from time `start`.

    Windowed-sinc interpolation; samples beyond the ends of x count as 0, and
    the output stops where the input's time runs out.  complex64 in,
    complex64 out.
    """
    x = np.asarray(x)
    ratio = 1.0 + ppm * 1e-6
    n_out = max(int(np.floor((x.size - 1 - start) / ratio)) + 1, 0)
    padded = np.concatenate([np.zeros(_HALF, np.complex128), x.astype(np.complex128),
                             np.zeros(_HALF + 1, np.complex128)])
    out = np.zeros(n_out, np.complex128)
    for lo in range(0, n_out, 1 << 16):
        t = start + ratio * np.arange(lo, min(lo + (1 << 16), n_out))
        base = np.floor(t).astype(np.int64)
        pos = (t - base) * _PHASES
        p0 = np.minimum(pos.astype(np.int64), _PHASES - 1)
        a = pos - p0
        acc = np.zeros(t.size, np.complex128)
        for j, k in enumerate(range(-_HALF + 1, _HALF + 1)):
            h = _TABLE[p0, j] * (1.0 - a) + _TABLE[p0 + 1, j] * a
            acc += h * padded[base + k + _HALF]
        out[lo:lo + t.size] = acc
    return out.astype(np.complex64)
