"""DVB-T receive throughput in input Msps: DvbTFrameDemod.decode on one full
frame and DvbTFrameStreamDemod.feed on a run of frames in 100k-sample
pieces, with and without the integer frequency-offset correction.

Times are the thread's CPU time (one core).  The standard 8 MHz channel
runs at 64/7 Msps; the frames are filled with
payload (no null packets), guard 1/4, a little noise on top.
"""
import os

# One core: NumPy's BLAS threads would otherwise spin beside the receiver.
os.environ.setdefault("OPENBLAS_NUM_THREADS", "1")

import numpy as np  # noqa: E402

import vatel_sdr as v  # noqa: E402
from _timing import best_cpu as best, size  # noqa: E402

REAL_TIME_MSPS = 64 / 7
CASES = [("qpsk", "1/2"), ("qam16", "3/4"), ("qam64", "7/8")]
GUARD = "1/4"
FRAMES = size(4, 2)


def full_payload_len(params):
    """The largest payload that still fits in 68 symbols (whole packets)."""
    mod = v.DvbTFrameMod(params)
    lo, hi = 1, 4000
    while lo < hi:
        mid = (lo + hi + 1) // 2
        if mod.modulate(np.zeros(mid * 187, np.uint8)).n_symbols == 68:
            lo = mid
        else:
            hi = mid - 1
    return lo * 187


def main():
    rng = np.random.default_rng(1)
    print(f"real time: {REAL_TIME_MSPS:.2f} Msps")
    print(f"{'case':12} {'payload':>8} {'icfo':>5} {'decode Msps':>12} {'feed Msps':>10}")
    for constellation, rate in CASES:
        params = v.DvbTFrameParams(GUARD, constellation, rate)
        n_bytes = full_payload_len(params)
        mod = v.DvbTFrameMod(params)
        payloads = [rng.integers(0, 256, n_bytes, dtype=np.uint8) for _ in range(FRAMES)]
        frames = [mod.modulate(p) for p in payloads]
        iq = np.concatenate([f.iq for f in frames] + [np.zeros(2560, np.complex64)])
        iq = iq + (rng.standard_normal(len(iq)) + 1j * rng.standard_normal(len(iq))).astype(
            np.complex64) * np.float32(2e-4)
        iq = iq.astype(np.complex64)
        n = frames[0].n_symbols
        one = iq[:n * 2560 + 2560]
        for icfo in (False, True):
            demod = v.DvbTFrameDemod(params).with_integer_cfo_correction(icfo)
            assert demod.decode(one, n, n_bytes).payload == payloads[0].tobytes()
            t_decode = best(lambda: demod.decode(one, n, n_bytes), repeat=5)

            def run_stream():
                s = v.DvbTFrameStreamDemod(params, n, n_bytes, integer_cfo_correction=icfo)
                got = 0
                for i in range(0, len(iq), 100_000):
                    got += len(s.feed(iq[i:i + 100_000]))
                got += len(s.flush())
                assert got == FRAMES, got
            t_feed = best(run_stream, repeat=3)
            print(f"{constellation + ' ' + rate:12} {n_bytes:8d} {str(icfo):>5} "
                  f"{len(one) / t_decode / 1e6:12.2f} {len(iq) / t_feed / 1e6:10.2f}")


if __name__ == "__main__":
    main()
