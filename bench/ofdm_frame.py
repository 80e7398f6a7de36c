"""COFDM frame link from Python: OfdmFrameMod.modulate_frame and
OfdmFrameDemod.decode frames per second for 256-byte payloads at each entry
of the default ladder, and OfdmFrameStreamDemod.feed in samples per second
on bursts with noise gaps and on pure noise.  The native stream benchmark
(bench_ofdm_frame) sets the same receiver beside liquid-dsp's.  Every frame
must come back with the payload sent, each burst of the stream once, and
pure noise must give no frame."""
import sys

import numpy as np

import vatel_sdr as v
from _checks import exit_status, expect
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


def feed_msps(stream_factory, x, sent, what):
    """Samples per second through the stream, after checking that it gives
    back exactly the frames sent ({sequence number: payload})."""
    def run():
        s = stream_factory()
        frames = []
        for at in range(0, x.size, PIECE):
            frames += s.feed(x[at:at + PIECE])
        return frames
    got = {}
    for f in run():
        got.setdefault(f.sequence_num, []).append(bytes(f.payload))
    expect(set(got) == set(sent), f"{what}: frames {sorted(got)} received, {sorted(sent)} sent")
    expect(all(got[k] == [sent[k]] for k in set(got) & set(sent)),
           f"{what}: a frame came back twice or with another payload")
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
        got = demod.decode(body)
        expect((bytes(got.payload), got.sequence_num, got.mcs_index) == (p.payload.tobytes(), 1, index),
               f"OfdmFrameDemod.decode {name}: not the frame sent")
        t_mod = best(lambda: [mod.modulate_frame(p) for _ in range(CALLS)], repeat=3)
        t_dec = best(lambda: [demod.decode(body) for _ in range(CALLS)], repeat=3)
        print(f"{name:8} {CALLS / t_mod:17.0f} {CALLS / t_dec:10.0f} {burst.size:14d}")

    print(f"\nOfdmFrameStreamDemod.feed in pieces of {PIECE} samples (Python calls included)")
    parts, sent = [], {}
    for k in range(BURSTS):
        p = v.FramePacket(rng.integers(0, 256, 256, dtype=np.uint8), k, 1, 0)
        sent[k] = p.payload.tobytes()
        b = mod.modulate_frame(p)
        parts += [np.zeros(b.size, np.complex64), b]
    x = np.concatenate(parts)
    x = (x + noise(rng, x.size, 1e-4)).astype(np.complex64)
    msps = feed_msps(lambda: v.OfdmFrameStreamDemod(cfg, table), x, sent, "bursts")
    print(f"  bursts (ladder QPSK) with noise gaps: {msps:6.1f} Msps")
    n = noise(rng, NOISE, 1e-4)
    msps = feed_msps(lambda: v.OfdmFrameStreamDemod(cfg, table), n, {}, "pure noise")
    print(f"  pure noise:                           {msps:6.1f} Msps")
    return exit_status()


if __name__ == "__main__":
    sys.exit(main())
