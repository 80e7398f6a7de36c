"""COFDM frame link from Python: OfdmFrameMod.modulate_frame and
OfdmFrameDemod.decode frames per second for 256-byte payloads at each entry
of the default ladder, and OfdmFrameStreamDemod.feed in samples per second
on bursts with noise gaps and on pure noise.  The native stream benchmark
(bench_ofdm_frame) sets the same receiver beside liquid-dsp's."""
import numpy as np

import vatel_sdr as v
from _timing import best, size

NAMES = ["BPSK", "QPSK", "16-QAM", "64-QAM"]
PIECE = 4096
CALLS = size(200, 2)
BURSTS = size(60, 3)
NOISE = size(10_000_000, 50_000)


def config():
    return v.OfdmConfig(64, 16, np.zeros(0, np.int32), np.array([-21, -7, 7, 21], np.int32),
                        np.array([1, 1, 1, -1], np.complex64), 1e6, 0.0, 1.0, "qpsk", 5)


def noise(rng, n, power):
    s = np.sqrt(power / 2)
    return (rng.normal(0, s, n) + 1j * rng.normal(0, s, n)).astype(np.complex64)


def feed_msps(stream_factory, x):
    def run():
        s = stream_factory()
        for at in range(0, x.size, PIECE):
            s.feed(x[at:at + PIECE])
    return x.size / best(run, repeat=3) / 1e6


def main():
    rng = np.random.default_rng(3)
    cfg, table = config(), v.McsTable.default_ladder()
    mod, demod = v.OfdmFrameMod(cfg, table), v.OfdmFrameDemod(cfg, table)
    print(f"{'entry':8} {'modulate_frame/s':>17} {'decode/s':>10} {'burst samples':>14}")
    for index, name in enumerate(NAMES):
        p = v.FramePacket(rng.integers(0, 256, 256, dtype=np.uint8), 1, index, 0)
        burst = mod.modulate_frame(p)
        body = (burst[144:] + noise(rng, burst.size - 144, 1e-5)).astype(np.complex64)
        t_mod = best(lambda: [mod.modulate_frame(p) for _ in range(CALLS)], repeat=3)
        t_dec = best(lambda: [demod.decode(body) for _ in range(CALLS)], repeat=3)
        print(f"{name:8} {CALLS / t_mod:17.0f} {CALLS / t_dec:10.0f} {burst.size:14d}")

    print(f"\nOfdmFrameStreamDemod.feed in pieces of {PIECE} samples (Python calls included)")
    parts = []
    for k in range(BURSTS):
        p = v.FramePacket(rng.integers(0, 256, 256, dtype=np.uint8), k, 1, 0)
        b = mod.modulate_frame(p)
        parts += [np.zeros(b.size, np.complex64), b]
    x = np.concatenate(parts)
    x = (x + noise(rng, x.size, 1e-4)).astype(np.complex64)
    print(f"  bursts (ladder QPSK) with noise gaps: {feed_msps(lambda: v.OfdmFrameStreamDemod(cfg, table), x):6.1f} Msps")
    n = noise(rng, NOISE, 1e-4)
    print(f"  pure noise:                           {feed_msps(lambda: v.OfdmFrameStreamDemod(cfg, table), n):6.1f} Msps")


if __name__ == "__main__":
    main()
