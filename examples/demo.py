"""End-to-end tour of vatel_sdr: each step modulates, sends through noise and
demodulates, printing what came back."""
import math

import numpy as np

import vatel_sdr as v

rng = np.random.default_rng(2026)


def complex_noise(n, power):
    """n samples of complex Gaussian noise of the given mean power."""
    sigma = math.sqrt(power / 2)
    return (rng.normal(0, sigma, n) + 1j * rng.normal(0, sigma, n)).astype(np.complex64)


def awgn(iq, snr_db):
    """Adds complex Gaussian noise for the given Es/N0 (unit symbol energy)."""
    return (iq + complex_noise(iq.size, 10 ** (-snr_db / 10))).astype(np.complex64)


def q_function(x):
    return 0.5 * math.erfc(x / math.sqrt(2))


def single_carrier():
    print("Single-carrier BPSK/QPSK over AWGN (10^6 bits each)")
    print(f"  {'mode':5} {'Es/N0 dB':>8} {'measured BER':>13} {'theory':>10}")
    n = 1_000_000
    bits = rng.integers(0, 2, n, dtype=np.uint8)
    for name, mod, demod, bits_per_symbol in [("BPSK", v.BpskMod, v.BpskDemod, 1),
                                              ("QPSK", v.QpskMod, v.QpskDemod, 2)]:
        for snr_db in (0.0, 4.0, 7.0):
            iq = mod(48000.0, 0.0, 1.0).process(bits)
            rx = demod(1.0).process(awgn(iq, snr_db))
            ber = np.count_nonzero(rx != bits) / n
            ebn0 = 10 ** (snr_db / 10) / bits_per_symbol
            theory = q_function(math.sqrt(2 * ebn0))
            print(f"  {name:5} {snr_db:8.1f} {ber:13.2e} {theory:10.2e}")


def tone_snr_db(x, freq, fs):
    """SNR of x against its least-squares fit by one tone plus DC."""
    t = np.arange(x.size) / fs
    basis = np.stack([np.cos(2 * np.pi * freq * t), np.sin(2 * np.pi * freq * t), np.ones_like(t)], 1)
    coef, *_ = np.linalg.lstsq(basis, x.astype(np.float64), rcond=None)
    fit = basis[:, :2] @ coef[:2]
    return 10 * np.log10(np.sum(fit ** 2) / np.sum((x - basis @ coef) ** 2))


def analog():
    fs = 48000.0
    audio = (0.8 * np.cos(2 * np.pi * 1000.0 * np.arange(48000) / fs)).astype(np.float32)
    print("Analog modems: a 1 kHz tone through an RF channel at 30 dB SNR")
    links = [
        ("AM", v.AmDsbMod(fs, 0.0, 1.0, 0.5), v.AmEnvelopeDemod(fs, 4000.0)),
        ("FM", v.FmPhaseAccumMod(fs, 5000.0, 0.0), v.FmQuadratureDemod(fs, 5000.0, 4000.0)),
        ("USB", v.SsbPhasingMod(fs, 1200.0 / 0.9, 1500.0, 10000.0, True),
         v.SsbProductDemod(fs, 11500.0, 3000.0)),
    ]
    for name, mod, demod in links:
        rx = demod.process(awgn(mod.process(audio), 30.0))
        print(f"  {name:4} recovered audio SNR {tone_snr_db(rx[24000:], 1000.0, fs):5.1f} dB")
    bits = rng.integers(0, 2, 6 * 100000, dtype=np.uint8)
    rx = v.QamDemod(64, 1.0).process(awgn(v.QamMod(64, fs, 0.0, 1.0).process(bits), 22.0))
    print(f"  64-QAM at 22 dB: BER {np.count_nonzero(rx != bits) / bits.size:.2e}")


def ft8():
    fs = 12000.0
    snr_db = -15.0
    print(f"FT8: a CQ and its reply in one 15 s slot at {snr_db:.0f} dB SNR in 2500 Hz")
    messages = [("CQ", "K1ABC", "FN42", 20, 3), ("K1ABC", "W9XYZ", "EN37", 64, 6)]
    n = int(15 * fs)
    slot = np.zeros(n, np.complex64)
    for call_to, call_de, extra, k, s in messages:
        tones = v.Ft8Codec.encode(v.ft8_pack_standard(call_to, call_de, extra))
        burst = v.Ft8Mod(fs, 200.0 + 6.25 * k, 0.0, 1.0).modulate(tones)
        slot[s * 1920:s * 1920 + burst.size] += burst
    # Unit-power signals: the noise power in 2500 Hz sets the SNR.
    sigma2 = 10 ** (-snr_db / 10) * fs / 2500.0
    slot += complex_noise(n, sigma2)
    found = {}
    for cand in v.ft8_sync(slot, fs, 200.0, 3000.0, -10, 30, 20):
        payload = v.Ft8Codec.decode_soft(cand["llr"])
        if payload is not None and payload not in found:
            found[payload] = cand
    for payload, cand in found.items():
        m = v.ft8_unpack(payload)
        text = " ".join(m[key] for key in ("call_to", "call_de", "extra") if key in m)
        hz = 200.0 + 6.25 * cand["freq_bin"]
        print(f"  t={cand['time_sym'] * 0.16:5.2f} s  f={hz:7.2f} Hz  {text}")
    if len(found) != len(messages):
        print(f"  decoded {len(found)} of {len(messages)}")


def psk31():
    fs = 8000.0
    text = b"CQ CQ DE K1ABC K1ABC PSE K"
    sps = 256
    print("PSK31: a BPSK31 line at 8 kHz next to another station, -3 dB SNR in 2500 Hz")
    n = 320 * sps
    iq = np.zeros(n, np.complex64)
    for carrier, line, start in ((1000.0, text, 12), (1437.5, b"W9XYZ DE N0CALL TU 73", 4)):
        mod = v.Bpsk31Mod(fs, carrier, 0.5)
        # A short steady carrier before the text, as a sender tunes up.
        burst = np.concatenate([mod.modulate_bits(np.ones(24, np.uint8)), mod.modulate_text(line)])
        iq[start * sps:start * sps + burst.size] += burst
    sigma2 = 0.25 * 10 ** (3 / 10) * fs / 2500.0
    iq += complex_noise(n, sigma2)
    cands = v.psk31_sync(iq, fs, 250.0, 2500.0, max_cand=20)
    # The operator clicked near 1010 Hz on the waterfall.
    best = v.best_psk31_sync(cands, 1010.0)
    if best is None:
        print("  no carrier found")
        return
    stream = v.Psk31Stream("bpsk", fs, best["carrier_hz"])
    start = best["time_sym"] * sps
    # The demodulator's symbol clock starts where the carrier was found.
    got = stream.feed(iq[start:]) + stream.flush()
    print(f"  {len(cands)} candidates; carrier {best['carrier_hz']:.2f} Hz from t={start / fs:.2f} s")
    print(f"  decoded: {got!r}")


def ofdm(png_path):
    fs = 1.0e6
    pilots_idx = np.array([-21, -7, 7, 21], np.int32)
    pilots_val = np.array([1, 1, 1, -1], np.complex64)
    cfg = v.OfdmConfig(64, 16, np.zeros(0, np.int32), pilots_idx, pilots_val, fs, 0.0, 1.0, "qam16", 4)
    bits = rng.integers(0, 2, 4 * 52 * 200, dtype=np.uint8)
    iq = v.OfdmMod(cfg).modulate(bits)
    # Each symbol is 16 prefix samples then 64 body samples: the FFT of a body
    # shows the carriers the plan uses.
    bodies = iq.reshape(-1, 80)[:, 16:]
    psd = np.fft.fftshift((np.abs(np.fft.fft(bodies, axis=1)) ** 2).mean(axis=0))
    occupied = np.count_nonzero(psd > psd.max() * 1e-3)
    print(f"OFDM: 64-point FFT, 16-sample prefix, 16-QAM: {iq.size} samples,"
          f" {occupied} of 64 bins occupied ({occupied / 64 * fs / 1e3:.0f} kHz of {fs / 1e3:.0f} kHz)")
    save_spectrum(png_path, (np.arange(64) - 32) * fs / 64 / 1e3, psd, "frequency (kHz)",
                  "OFDM symbol spectrum")


def save_spectrum(png_path, freqs, psd, xlabel, title):
    """Plots a power spectrum in dB relative to its peak, when matplotlib is there."""
    try:
        import matplotlib

        matplotlib.use("Agg")
        import matplotlib.pyplot as plt
    except ImportError:
        return
    fig, ax = plt.subplots(figsize=(7, 3.5))
    ax.plot(freqs, 10 * np.log10(psd / psd.max() + 1e-12))
    ax.set_xlabel(xlabel)
    ax.set_ylabel("power (dB)")
    ax.set_title(title)
    ax.set_ylim(-80, 5)
    fig.tight_layout()
    fig.savefig(png_path)
    print(f"  spectrum saved to {png_path}")


def ofdm_receive(png_path):
    fs, n_fft, cp = 1.0e6, 64, 16
    repeats, repeat_len = 4, 16
    cfg = v.OfdmConfig(n_fft, cp, np.zeros(0, np.int32), np.array([-21, -7, 7, 21], np.int32),
                       np.array([1, 1, 1, -1], np.complex64), fs, 0.0, 1.0, "qpsk", 4)
    n_sym = 6
    bits = rng.integers(0, 2, n_sym * cfg.bits_per_ofdm_symbol, dtype=np.uint8)
    burst = np.concatenate([v.generate_ofdm_preamble(cfg, repeats, repeat_len, n_fft, cp),
                            v.OfdmMod(cfg).modulate(bits)])
    # A lead-in of silence, a second path 3 samples late, 3.37 carriers of
    # offset, and noise 20 dB below the carriers.
    lead, offset_hz = 283, 3.37 * fs / n_fft
    rx = np.convolve(np.concatenate([np.zeros(lead), burst, np.zeros(120)]), [1, 0, 0, 0.35 - 0.3j])
    t = np.arange(rx.size)
    rx = rx * np.exp(2j * np.pi * offset_hz * t / fs + 0.7j)
    rx = (rx + complex_noise(rx.size, 1 / (n_fft * 100))).astype(np.complex64)

    best = v.ofdm_sync(rx, fs, repeats, repeat_len, 0, rx.size, n_fft, cp)[0]
    found_hz = best["cfo_hz"] + best["integer_cfo_bins"] * fs / n_fft
    y = (rx * np.exp(-2j * np.pi * found_hz * t / fs)).astype(np.complex64)
    # FFT windows 4 samples into the prefix: the channel's delay stays inside it.
    at = best["start_sample"] + repeats * repeat_len - 4
    demod = v.OfdmDemod(cfg, "training_symbol")
    demod.estimate_channel(y[at:at + n_fft + cp])
    cells, got = [], []
    for k in range(1, n_sym + 1):
        soft, b = demod.demodulate_soft(y[at + k * (n_fft + cp):])
        cells.append(soft)
        got.append(b)
    cells, got = np.concatenate(cells), np.concatenate(got)
    frame = v.build_ofdm_rx_frame(cfg, cells, got)
    print(f"OFDM receive: burst at sample {lead}, {offset_hz / 1e3:.3f} kHz offset, two paths, 20 dB SNR")
    print(f"  found start {best['start_sample']}, offset {found_hz / 1e3:.3f} kHz"
          f" ({best['integer_cfo_bins']} carriers + {best['cfo_hz'] / 1e3:.3f} kHz)")
    print(f"  EVM {frame.evm_db:.1f} dB, {np.count_nonzero(got != bits)} bit errors"
          f" in {bits.size} bits over {frame.num_symbols} symbols")
    try:
        import matplotlib

        matplotlib.use("Agg")
        import matplotlib.pyplot as plt
    except ImportError:
        return
    fig, ax = plt.subplots(figsize=(4, 4))
    ax.scatter(cells.real, cells.imag, s=4)
    ax.set_aspect("equal")
    ax.set_xlim(-1.2, 1.2)
    ax.set_ylim(-1.2, 1.2)
    ax.set_title("equalised QPSK cells")
    fig.tight_layout()
    fig.savefig(png_path)
    print(f"  constellation saved to {png_path}")


def dvb_t_receive():
    fs = v.nb_bandwidth_fs("1m")
    params = v.DvbTFrameParams("1/8", "qam16", "2/3")
    payloads = [rng.integers(0, 256, 4000, dtype=np.uint8) for _ in range(3)]
    frames = [v.DvbTFrameMod(params).modulate(p) for p in payloads]
    n_symbols = frames[0].n_symbols
    offset_hz = 3.02 * fs / 2048  # three carriers and a little
    print(f"DVB-T stream: three 16-QAM 2/3 frames at {fs / 1e6:.3f} MS/s after a noise lead-in,"
          f" {offset_hz:.0f} Hz offset, two paths, 20 dB SNR")
    tx = np.concatenate([f.iq for f in frames])
    power = np.mean(np.abs(tx) ** 2)
    echo = np.zeros(16, np.complex64)
    echo[0], echo[15] = 1.0, 0.3j
    rx = np.convolve(tx, echo)[:tx.size]
    rx = np.concatenate([np.zeros(7777, np.complex64), rx, np.zeros(3000, np.complex64)])
    rx = rx * np.exp(2j * np.pi * offset_hz / fs * np.arange(rx.size))
    rx = (rx + complex_noise(rx.size, power / 100)).astype(np.complex64)
    stream = v.DvbTFrameStreamDemod(params, n_symbols, 4000, integer_cfo_correction=True)
    outcomes, start = [], 0
    while start < rx.size:
        size = int(rng.integers(1, 60000))
        outcomes += stream.feed_with_errors(rx[start:start + size])
        start += size
    outcomes += [(f, None) for f in stream.flush()]
    received = [f for f, _ in outcomes if f is not None]
    for i, f in enumerate(received):
        match = i < len(payloads) and f.payload == payloads[i].tobytes()
        print(f"  frame {i}: {len(f.payload)} bytes, {f.tps}, payload matches: {match}")
    errors = [e for _, e in outcomes if e is not None]
    print(f"  errors reported: {errors if errors else 'none'}; {stream.buffered} samples left")


def dvb_t(png_path):
    fs = v.nb_bandwidth_fs("2mhz")
    payload = rng.integers(0, 256, 2000, dtype=np.uint8)
    frame = v.DvbTFrameMod(v.DvbTFrameParams("1/8", "qpsk", "1/2")).modulate(payload)
    iq = frame.iq
    print(f"DVB-T 2K, QPSK 1/2, guard 1/8 at {fs / 1e6:.6f} MS/s: {frame.n_symbols} symbols,"
          f" {iq.size} samples ({iq.size / fs * 1e3:.1f} ms),"
          f" {v.nb_bandwidth_occupied_hz('2mhz') / 1e6:.1f} MHz occupied")
    # Averaged periodogram of 2048-sample segments, as a receiver would see it.
    seg = iq[: iq.size // 2048 * 2048].reshape(-1, 2048)
    psd = np.fft.fftshift((np.abs(np.fft.fft(seg * np.hanning(2048), axis=1)) ** 2).mean(axis=0))
    save_spectrum(png_path, (np.arange(2048) - 1024) * fs / 2048 / 1e6, psd, "frequency (MHz)",
                  "DVB-T 2K frame spectrum, 2 MHz channel")


if __name__ == "__main__":
    import pathlib

    single_carrier()
    analog()
    ft8()
    psk31()
    ofdm(pathlib.Path(__file__).with_name("ofdm_spectrum.png"))
    ofdm_receive(pathlib.Path(__file__).with_name("ofdm_constellation.png"))
    dvb_t(pathlib.Path(__file__).with_name("dvb_t_spectrum.png"))
    dvb_t_receive()
