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


def best_cpu(fn, repeat=5):
    """The shortest CPU time of `repeat` runs of fn() on this thread, in
    seconds: what one core spends, however busy the machine is."""
    times = []
    for _ in range(repeat):
        t0 = time.thread_time()
        fn()
        times.append(time.thread_time() - t0)
    return min(times)
