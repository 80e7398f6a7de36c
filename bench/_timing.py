"""Timing shared by the Python benchmarks.

With --quick on the command line a benchmark runs once on small inputs, so
that CI sees it work in seconds; its figures then mean nothing."""
import sys
import time

QUICK = "--quick" in sys.argv[1:]


def size(full, quick):
    """`full`, or `quick` in a quick run."""
    return quick if QUICK else full


def best(fn, repeat=5):
    """The shortest of `repeat` wall-clock runs of fn(), in seconds."""
    times = []
    for _ in range(1 if QUICK else repeat):
        t0 = time.perf_counter()
        fn()
        times.append(time.perf_counter() - t0)
    return min(times)


def best_cpu(fn, repeat=5):
    """The shortest CPU time of `repeat` runs of fn() on this thread, in
    seconds: what one core spends, however busy the machine is."""
    times = []
    for _ in range(1 if QUICK else repeat):
        t0 = time.thread_time()
        fn()
        times.append(time.thread_time() - t0)
    return min(times)
