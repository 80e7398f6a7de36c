"""An independent NumPy model of a DVB-T 2K frame as this system sends it.

Written from EN 300 744 and the system's declared departures (no inner
interleaver, puncturing rows with X and Y exchanged, at least 68 symbols,
null-packet and cyclic fill), not from the module's code.
"""
import numpy as np

CONTINUAL = [0, 48, 54, 87, 141, 156, 192, 201, 255, 279, 282, 333, 432, 450, 483, 525, 531,
             618, 636, 714, 759, 765, 780, 804, 873, 888, 918, 939, 942, 969, 984, 1050, 1101,
             1107, 1110, 1137, 1140, 1146, 1206, 1269, 1323, 1377, 1491, 1683, 1704]
TPS = [34, 50, 209, 346, 413, 569, 595, 688, 790, 901, 1073, 1219, 1262, 1286, 1469, 1594, 1687]
GUARDS = ["1/32", "1/16", "1/8", "1/4"]
RATES = ["1/2", "2/3", "3/4", "5/6", "7/8"]
BITS = {"qpsk": 2, "qam16": 4, "qam64": 6}
LEVELS = {"qpsk": [1, -1], "qam16": [3, 1, -3, -1], "qam64": [7, 5, 1, 3, -7, -5, -1, -3]}
# (first row gates X = 171 octal, second row Y = 133 octal)
PUNCTURE = {"1/2": ([1], [1]), "2/3": ([1, 1], [1, 0]), "3/4": ([1, 1, 0], [1, 0, 1]),
            "5/6": ([1, 1, 0, 1, 0], [1, 0, 1, 0, 1]),
            "7/8": ([1, 1, 1, 1, 0, 1, 0], [1, 0, 0, 0, 1, 0, 1])}


def wk():
    w = np.ones(1705, np.uint8)
    for k in range(11, 1705):
        w[k] = w[k - 11] ^ w[k - 2]
    return w


def dispersal_prbs(n_bytes):
    """1 + x^14 + x^15 from 100101010000000, as bytes, first bit the MSB."""
    stages = [1, 0, 0, 1, 0, 1, 0, 1, 0, 0, 0, 0, 0, 0, 0]
    out = []
    for _ in range(8 * n_bytes):
        bit = stages[13] ^ stages[14]
        out.append(bit)
        stages = [bit] + stages[:-1]
    return np.packbits(np.array(out, np.uint8))


def ceil_div(a, b):
    return -(-a // b)


def punctured_len(pairs, rate):
    x, y = PUNCTURE[rate]
    p = len(x)
    return pairs // p * (sum(x) + sum(y)) + sum(x[j] + y[j] for j in range(pairs % p))


def coded_len(n_bytes, rate):
    rs_bits = ceil_div(n_bytes, 188) * 204 * 8
    b = ceil_div(ceil_div(rs_bits, 8), 12) * 12
    return punctured_len(8 * (b + 12 * 11 * 17) + 6, rate)


# GF(2^8), x^8 + x^4 + x^3 + x^2 + 1
_EXP = np.zeros(512, np.int64)
_LOG = np.zeros(256, np.int64)
_x = 1
for _i in range(255):
    _EXP[_i] = _EXP[_i + 255] = _x
    _LOG[_x] = _i
    _x <<= 1
    if _x & 0x100:
        _x ^= 0x11D


def gmul(a, b):
    a = np.asarray(a, np.int64)
    b = np.asarray(b, np.int64)
    r = _EXP[(_LOG[a] + _LOG[b]) % 255]
    return np.where((a == 0) | (b == 0), 0, r)


def rs_generator():
    g = [1]  # descending powers
    for i in range(16):
        root = int(_EXP[i])
        nxt = g + [0]
        for j in range(1, len(nxt)):
            nxt[j] ^= int(gmul(root, g[j - 1]))
        g = nxt
    return np.array(g, np.int64)


def rs_encode(stream):
    """RS(204, 188) of every 188-byte packet (all packets in parallel)."""
    msg = stream.reshape(-1, 188).astype(np.int64)
    g = rs_generator()
    reg = np.zeros((msg.shape[0], 16), np.int64)
    for i in range(188):
        fb = msg[:, i] ^ reg[:, 0]
        reg = np.concatenate([reg[:, 1:], np.zeros((msg.shape[0], 1), np.int64)], axis=1)
        reg ^= gmul(fb[:, None], g[None, 1:])
    return np.concatenate([msg, reg], axis=1).astype(np.uint8).ravel()


def conv_interleave(data):
    """The 12 x 17 Forney interleaver with its flush: byte t leaves 204 (t mod 12) later."""
    n = ceil_div(len(data), 12) * 12 + 12 * 11 * 17
    inp = np.zeros(n, np.uint8)
    inp[:len(data)] = data
    t = np.arange(n)
    src = t - 204 * (t % 12)
    return np.where(src >= 0, inp[np.maximum(src, 0)], 0).astype(np.uint8)


def conv_code(bits, rate):
    u = np.concatenate([np.zeros(6, np.uint8), bits, np.zeros(6, np.uint8)])

    def taps(delays):
        out = np.zeros(len(bits) + 6, np.uint8)
        for d in delays:
            out ^= u[6 - d: len(u) - d]
        return out

    x = taps([0, 1, 2, 3, 6])   # 171 octal
    y = taps([0, 2, 3, 5, 6])   # 133 octal
    px, py = PUNCTURE[rate]
    reps = ceil_div(len(x), len(px))
    keep = np.stack([np.tile(px, reps)[:len(x)], np.tile(py, reps)[:len(x)]], axis=1).astype(bool)
    return np.stack([x, y], axis=1)[keep]


def tps_word(guard, constellation, rate, frame_number, cell_id):
    s = np.zeros(68, np.uint8)

    def put(first, count, value):
        for i in range(count):
            s[first + i] = (value >> (count - 1 - i)) & 1

    sync = 0b0011010111101110
    put(1, 16, sync ^ 0xFFFF if frame_number % 2 else sync)
    put(17, 6, 0b011111)
    put(23, 2, frame_number & 3)
    put(25, 2, ["qpsk", "qam16", "qam64"].index(constellation))
    put(30, 3, RATES.index(rate))
    put(33, 3, RATES.index(rate))
    put(36, 2, GUARDS.index(guard))
    put(40, 8, cell_id)
    # parity: remainder of s1..s53 x^14 by g(x), by long division
    g = [1, 0, 0, 0, 0, 1, 1, 0, 1, 1, 1, 0, 1, 1, 1]
    r = list(s[1:54]) + [0] * 14
    for i in range(53):
        if r[i]:
            for j in range(15):
                r[i + j] ^= g[j]
    s[54:] = r[-14:]
    return s


def frame(payload, guard, constellation, rate, frame_number=0, cell_id=0):
    """The frame's samples (complex128) and its symbol count."""
    payload = np.asarray(payload, np.uint8)
    b = BITS[constellation]
    n = max(1, ceil_div(len(payload), 187))
    packets = np.zeros((n, 188), np.uint8)
    packets[:, 0] = 0x47
    flat = packets[:, 1:].ravel()
    flat[:len(payload)] = payload
    packets[:, 1:] = flat.reshape(n, 187)
    n_sym = max(68, ceil_div(coded_len(188 * n, rate), 1512 * b))
    capacity = n_sym * 1512 * b
    m = n
    while coded_len(188 * (m + 1), rate) <= capacity:
        m += 1
    null = np.concatenate([[0x47, 0x1F, 0xFF, 0x10], np.full(184, 0xFF)]).astype(np.uint8)
    stream = np.concatenate([packets.ravel()] + [null] * (m - n)).astype(np.uint8)
    # energy dispersal, group by group
    prbs = dispersal_prbs(1503)
    mask = np.zeros(8 * 188, np.uint8)
    mask[1:] = prbs
    mask[188 * np.arange(1, 8)] = 0
    groups = ceil_div(len(stream), 8 * 188)
    full_mask = np.tile(mask, groups)[:len(stream)]
    stream = stream ^ full_mask
    stream[::8 * 188] ^= 0xFF
    coded = conv_code(np.unpackbits(conv_interleave(rs_encode(stream))), rate)
    assert len(coded) <= capacity
    bits = np.resize(coded, capacity)

    scale = np.float32(1.0 / np.sqrt(2.0 * (2 ** b - 1) / 3.0))
    levels = np.array(LEVELS[constellation], np.float32) * scale
    cells_bits = bits.reshape(-1, b)
    weights = 1 << np.arange(b // 2 - 1, -1, -1)
    i_idx = cells_bits[:, 0::2] @ weights
    q_idx = cells_bits[:, 1::2] @ weights
    cells = (levels[i_idx] + 1j * levels[q_idx]).reshape(n_sym, 1512)

    w = wk()
    pilot = (np.float32(0.5) - w.astype(np.float32)) * np.float32(8.0 / 3.0)
    ref = 1.0 - 2.0 * w[TPS]
    word = tps_word(guard, constellation, rate, frame_number, cell_id)
    cp = 64 << GUARDS.index(guard)
    k = np.arange(1705)
    out = []
    tps_values = ref.copy()
    for l in range(n_sym):
        j = l % 68
        if j == 0:
            tps_values = ref.copy()
        elif word[j]:
            tps_values = -tps_values
        is_pilot = np.zeros(1705, bool)
        is_pilot[CONTINUAL] = True
        is_pilot[TPS] = True
        is_pilot[k % 12 == 3 * (l % 4)] = True
        spectrum = np.zeros(2048, np.complex128)
        data_k = k[~is_pilot]
        assert len(data_k) == 1512
        spectrum[(data_k - 852) % 2048] = cells[l]
        spectrum[(k[is_pilot] - 852) % 2048] = pilot[is_pilot]
        spectrum[(np.array(TPS) - 852) % 2048] = tps_values
        t = np.fft.ifft(spectrum)
        out.append(np.concatenate([t[-cp:], t]))
    return np.concatenate(out), n_sym
