"""Soak of the COFDM stream receiver: 10^9 samples of noise (over 16 minutes at 1 Msps) fed in pieces of
varying size, with buffered and the process's resident memory sampled as it
goes; both must stay flat after the first second of samples.  A burst fed
afterwards is still received.  With --quick the soak is three seconds of
samples: long enough to pass the first second and take every reading."""
import sys
import time

import numpy as np

import vatel_sdr as v
from _timing import size

TOTAL = size(1_000_000_000, 3_000_000)
FS = 1e6


def resident_kib():
    with open("/proc/self/status") as f:
        for line in f:
            if line.startswith("VmRSS:"):
                return int(line.split()[1])
    return 0


def main():
    rng = np.random.default_rng(5)
    cfg = v.OfdmConfig(64, 16, np.zeros(0, np.int32), np.array([-21, -7, 7, 21], np.int32),
                       np.array([1, 1, 1, -1], np.complex64), FS, 0.0, 1.0, "qpsk", 5)
    table = v.McsTable.default_ladder()
    s = v.OfdmFrameStreamDemod(cfg, table)
    # Four noise blocks, read at random offsets in pieces of random length.
    blocks = [((rng.normal(0, 0.1, 1 << 20) + 1j * rng.normal(0, 0.1, 1 << 20)).astype(np.complex64))
              for _ in range(4)]
    fed, frames, t0 = 0, 0, time.perf_counter()
    after_first_second = None
    worst_buffered = 0
    samples = []
    while fed < TOTAL:
        n = int(rng.integers(1, 20000))
        b = blocks[int(rng.integers(0, 4))]
        at = int(rng.integers(0, b.size - n))
        frames += len(s.feed(b[at:at + n]))
        fed += n
        if fed >= FS and after_first_second is None:
            after_first_second = (s.buffered, resident_kib())
        if after_first_second is not None:
            worst_buffered = max(worst_buffered, s.buffered)
        if len(samples) < fed // (TOTAL // 10):
            samples.append((fed, s.buffered, resident_kib()))
    seconds = time.perf_counter() - t0
    print(f"fed {fed:.3g} samples of noise in {seconds:.1f} s ({fed / seconds / 1e6:.1f} Msps with Python calls), "
          f"{frames} frames")
    print(f"after 1 s of samples: buffered {after_first_second[0]}, RSS {after_first_second[1]} KiB")
    for f, b, r in samples:
        print(f"  at {f:>11d}: buffered {b:6d}, RSS {r} KiB")
    growth = samples[-1][2] - after_first_second[1]
    print(f"largest buffered after the first second: {worst_buffered} (bound: preamble + symbol + piece "
          f"= {144 + 80 + 20000}); RSS growth {growth} KiB")
    burst = v.OfdmFrameMod(cfg, table).modulate_frame(v.FramePacket(np.arange(50, dtype=np.uint8), 7, 1, 0))
    got = s.feed(np.concatenate([burst, np.zeros(300, np.complex64)]) + blocks[0][:burst.size + 300] * 0.01)
    ok = len(got) == 1 and got[0].sequence_num == 7
    print(f"burst after the soak: {'received' if ok else 'LOST'}")
    flat = worst_buffered < 144 + 80 + 20000 and growth < 2048
    print("soak:", "ok" if flat and ok else "FAILED")
    return 0 if flat and ok else 1


if __name__ == "__main__":
    sys.exit(main())
