import ctypes
import ctypes.util

import numpy as np
import pytest


def fma32(a, b, c):
    """Exactly rounded float32 fused multiply-add, elementwise.

    The float32 product is exact in float64; the float64 sum is rounded to
    odd (using the exact error of the sum), which then rounds correctly to
    float32.
    """
    a = np.asarray(a, np.float32).astype(np.float64)
    b = np.asarray(b, np.float32).astype(np.float64)
    c = np.asarray(c, np.float32).astype(np.float64)
    p = a * b
    s = p + c
    bb = s - p
    err = (p - (s - bb)) + (c - bb)
    even = (np.asarray(s).view(np.int64) & 1) == 0
    toward = np.where(err > 0, np.inf, -np.inf)
    s = np.where((err != 0) & even, np.nextafter(s, toward), s)
    return s.astype(np.float32)


_libm = ctypes.CDLL(ctypes.util.find_library("m"))
_libm.sincosf.argtypes = [ctypes.c_float, ctypes.POINTER(ctypes.c_float), ctypes.POINTER(ctypes.c_float)]
_libm.sincosf.restype = None


class RefRotator:
    """Independent model of the phasor oscillator's float32 arithmetic."""

    def __init__(self, freq_hz, fs):
        f32 = np.float32
        theta = (f32(freq_hz) * f32(6.2831855)) / f32(fs)
        s, c = ctypes.c_float(), ctypes.c_float()
        _libm.sincosf(float(theta), ctypes.byref(s), ctypes.byref(c))
        self.step = (f32(c.value), f32(s.value))
        self.p = (f32(1.0), f32(0.0))
        self.counter = 0

    def next(self):
        re, im = self.p
        sr, si = self.step
        nre = fma32(re, sr, -(im * si))[()]
        nim = fma32(im, sr, re * si)[()]
        self.counter = (self.counter + 1) % (1 << 32)
        if self.counter % 1024 == 0:
            q = np.sqrt(nre * nre + nim * nim)
            k = np.float32(1.0) / q
            nre, nim = nre * k, nim * k
        self.p = (np.float32(nre), np.float32(nim))
        return self.p


def ref_mix(x_re, x_im, p, gain):
    g = np.float32(gain)
    ore = fma32(x_re, p[0], -(np.float32(x_im) * p[1]))[()] * g
    oim = fma32(x_im, p[0], np.float32(x_re) * p[1])[()] * g
    return np.complex64(complex(ore, oim))


def under_asan():
    """The module under test is a sanitizer build (libasan is loaded)."""
    with open("/proc/self/maps") as maps:
        return "libasan" in maps.read()


@pytest.fixture
def rng():
    return np.random.default_rng(20261210)


RANGE = "out of range integral type conversion attempted"


def raises_text(exc, text, fn):
    """fn() raises exc with exactly this message; returns the exception."""
    with pytest.raises(exc) as info:
        fn()
    assert str(info.value) == text
    return info.value


def raises_panic(fn):
    """fn() raises the binding layer's PanicException (a BaseException)."""
    with pytest.raises(BaseException) as e:
        fn()
    assert type(e.value).__name__ == "PanicException"
    return e.value
