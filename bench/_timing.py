"""Timing shared by the Python benchmarks."""
import time


def best(fn, repeat=5):
    """The shortest of `repeat` wall-clock runs of fn(), in seconds."""
    times = []
    for _ in range(repeat):
        t0 = time.perf_counter()
        fn()
        times.append(time.perf_counter() - t0)
    return min(times)
