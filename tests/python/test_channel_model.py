"""The channel models the receiver tests lean on are themselves right."""
import numpy as np
import pytest

from channel_model import resample


@pytest.mark.parametrize("ppm", [-100.0, -1.0, 20.0, 100.0, 3000.0])
def test_resample_takes_each_sample_at_its_own_time(ppm):
    rng = np.random.default_rng(int(abs(ppm)))
    f = rng.uniform(-0.44, 0.44, 30)
    phase = rng.uniform(0, 2 * np.pi, 30)

    def tones(t):
        return np.exp(1j * (2 * np.pi * np.outer(t, f) + phase)).sum(axis=1)

    start = 0.37
    y = resample(tones(np.arange(12000)).astype(np.complex64), ppm, start)
    t = start + np.arange(y.size) * (1 + ppm * 1e-6)
    assert y.dtype == np.complex64 and t[-1] <= 11999 < t[-1] + (1 + ppm * 1e-6)
    inner = slice(100, y.size - 100)
    ref = tones(t[inner])
    error = np.mean(np.abs(y[inner] - ref) ** 2) / np.mean(np.abs(ref) ** 2)
    assert 10 * np.log10(error) < -80
