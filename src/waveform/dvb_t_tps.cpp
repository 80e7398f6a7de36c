#include "waveform/dvb_t_tps.hpp"

#include "core/panic.hpp"

namespace vatel::waveform::dvb_t_tps {

namespace {

constexpr std::uint16_t kGenerator = 0x4377;  // g(x) below x^14
constexpr std::size_t kInfoBits = 53;         // s1 ..= s53
constexpr std::size_t kCodeBits = 67;         // s1 ..= s67

// Synchronisation word of even frame numbers, s1 ..= s16; odd frames send
// its complement.
constexpr std::uint16_t kSyncWord = 0x35EE;

// GF(2^7) from x^7 + x^3 + 1, exp kept twice over so that a sum of two
// logarithms indexes it directly.
struct Gf128 {
  std::array<std::uint8_t, 254> exp{};
  std::array<std::uint8_t, 128> log{};
  constexpr Gf128() {
    unsigned x = 1;
    for (unsigned i = 0; i < 127; ++i) {
      exp[i] = static_cast<std::uint8_t>(x);
      exp[i + 127] = static_cast<std::uint8_t>(x);
      log[x] = static_cast<std::uint8_t>(i);
      x <<= 1;
      if (x & 0x80u) x ^= 0x89u;
    }
  }
  constexpr std::uint8_t mul(std::uint8_t a, std::uint8_t b) const {
    if (a == 0 || b == 0) return 0;
    return exp[log[a] + log[b]];
  }
  // a / b for b != 0.
  constexpr std::uint8_t div(std::uint8_t a, std::uint8_t b) const {
    if (a == 0) return 0;
    return exp[log[a] + 127 - log[b]];
  }
  constexpr std::uint8_t pow(unsigned e) const { return exp[e % 127]; }
};
constexpr Gf128 kGf;

}  // namespace

std::array<float, kTpsCount> tps_reference_signs() {
  const std::vector<std::uint8_t> w = dvb_t::wk_prbs();
  std::array<float, kTpsCount> s{};
  for (std::size_t i = 0; i < kTpsCount; ++i)
    s[i] = 2.0f * (0.5f - static_cast<float>(w[dvb_t::kTpsCarriers[i]]));
  return s;
}

std::uint16_t tps_parity(std::span<const std::uint8_t, 53> info) noexcept {
  unsigned p = 0;
  for (std::size_t i = 0; i < kCodeBits; ++i) {
    const unsigned b = i < kInfoBits ? (info[i] & 1u) : 0u;
    const bool top = (p >> 13) & 1u;
    p = ((p << 1) | b) & 0x3FFFu;
    if (top) p ^= kGenerator;
  }
  return static_cast<std::uint16_t>(p);
}

namespace {

void put_bits(TpsBits& s, std::size_t first, std::size_t count, unsigned value) {
  for (std::size_t i = 0; i < count; ++i)
    s[first + i] = static_cast<std::uint8_t>((value >> (count - 1 - i)) & 1u);
}

std::uint16_t parity_of(const TpsBits& s) noexcept {
  return tps_parity(std::span<const std::uint8_t, 53>(s.data() + 1, kInfoBits));
}

unsigned constellation_field(ConstellationOrder order) {
  switch (order) {
    case ConstellationOrder::Qpsk: return 0;
    case ConstellationOrder::Qam16: return 1;
    case ConstellationOrder::Qam64: return 2;
    default: core::panic("DVB-T order");
  }
}

}  // namespace

TpsBits tps_encode(const dvb_t::DvbTFrameParams& params) {
  TpsBits s{};
  const bool odd = params.frame_number & 1u;
  put_bits(s, 1, 16, odd ? static_cast<std::uint16_t>(~kSyncWord) : kSyncWord);
  put_bits(s, 17, 6, 0x1F);  // length indicator 011111: cell id present
  put_bits(s, 23, 2, params.frame_number & 3u);
  put_bits(s, 25, 2, constellation_field(params.constellation));
  // s27 ..= s29: non-hierarchical.
  const unsigned rate = static_cast<unsigned>(params.code_rate);
  put_bits(s, 30, 3, rate);
  put_bits(s, 33, 3, rate);  // the low-priority rate repeats the only one
  put_bits(s, 36, 2, static_cast<unsigned>(params.guard));
  // s38, s39: 2K mode.
  put_bits(s, 40, 8, params.cell_id);
  // s48 ..= s53: reserved, 0.
  put_bits(s, 54, 14, parity_of(s));
  return s;
}

TpsKeyer::TpsKeyer(const TpsBits& word)
    : word_(word), reference_(tps_reference_signs()), current_(reference_) {}

void TpsKeyer::key(std::size_t symbol, std::span<cf32> spectrum) noexcept {
  const std::size_t j = symbol % kTpsBits;
  if (j == 0)
    current_ = reference_;
  else if (word_[j] & 1u)
    for (float& v : current_) v = -v;
  if (spectrum.size() < dvb_t::kFftSize) return;
  for (std::size_t i = 0; i < kTpsCount; ++i)
    spectrum[dvb_t::kTpsBins[i]] = cf32{current_[i], 0.0f};
}

std::uint8_t tps_differential_bit(std::span<const cf32, kTpsCount> now,
                                  std::span<const cf32, kTpsCount> prev) noexcept {
  // Re(a conj b) = a.re b.re + a.im b.im, summed in carrier order.
  float sum = 0.0f;
  for (std::size_t i = 0; i < kTpsCount; ++i)
    sum += now[i].real() * prev[i].real() + now[i].imag() * prev[i].imag();
  return sum < 0.0f ? 1 : 0;
}

std::optional<TpsBits> tps_correct(const TpsBits& received) noexcept {
  TpsBits s = received;
  // Bit s_m sits at position 127 - m of a length-127 word.
  std::array<std::uint8_t, 5> syn{};
  for (unsigned i = 1; i <= 4; ++i)
    for (unsigned m = 1; m <= kCodeBits; ++m)
      if (s[m] & 1u) syn[i] ^= kGf.pow(i * (127 - m));
  if (syn[1] == 0) {
    if (syn[2] != 0 || syn[3] != 0 || syn[4] != 0) return std::nullopt;
  } else {
    const std::uint8_t s1 = syn[1];
    const std::uint8_t s1_cubed = kGf.mul(kGf.mul(s1, s1), s1);
    const std::uint8_t sigma1 = s1;
    const std::uint8_t sigma2 = syn[3] == s1_cubed ? 0 : kGf.div(syn[3] ^ s1_cubed, s1);
    const std::size_t degree = sigma2 == 0 ? 1 : 2;
    std::array<unsigned, 2> found{};
    std::size_t count = 0;
    for (unsigned m = 1; m <= kCodeBits; ++m) {
      const std::uint8_t beta = kGf.pow(m);
      const std::uint8_t v = kGf.mul(sigma1, beta) ^ kGf.mul(sigma2, kGf.mul(beta, beta));
      if (v == 1) {
        if (count < found.size()) found[count] = m;
        ++count;
      }
    }
    if (count != degree) return std::nullopt;
    for (std::size_t i = 0; i < count; ++i) s[found[i]] ^= 1u;
    const std::uint16_t p = parity_of(s);
    for (std::size_t i = 0; i < 14; ++i)
      if ((s[54 + i] & 1u) != ((p >> (13 - i)) & 1u)) return std::nullopt;
  }
  return s;
}

bool tps_has_sync_word(const TpsBits& bits) noexcept {
  std::uint16_t w = 0;
  for (std::size_t i = 1; i <= 16; ++i) w = static_cast<std::uint16_t>((w << 1) | (bits[i] & 1u));
  return w == kSyncWord || w == static_cast<std::uint16_t>(~kSyncWord);
}

std::optional<TpsWord> tps_decode(const TpsBits& received) noexcept {
  const std::optional<TpsBits> corrected = tps_correct(received);
  if (!corrected) return std::nullopt;
  const TpsBits& s = *corrected;
  auto field = [&](std::size_t first, std::size_t count) {
    unsigned v = 0;
    for (std::size_t i = 0; i < count; ++i) v = (v << 1) | (s[first + i] & 1u);
    return v;
  };
  TpsWord w;
  w.frame_number = static_cast<std::uint8_t>(field(23, 2));
  switch (field(25, 2)) {
    case 0: w.constellation = ConstellationOrder::Qpsk; break;
    case 1: w.constellation = ConstellationOrder::Qam16; break;
    case 2: w.constellation = ConstellationOrder::Qam64; break;
    default: return std::nullopt;
  }
  const unsigned rate = field(30, 3);
  if (rate > 4) return std::nullopt;
  w.code_rate = static_cast<std::uint8_t>(rate);
  w.guard = static_cast<std::uint8_t>(field(36, 2));
  w.cell_id = static_cast<std::uint8_t>(field(40, 8));
  return w;
}

void TpsReceiver::push(std::span<const cf32> spectrum) {
  VATEL_ENSURE(spectrum.size() >= dvb_t::kFftSize, "TpsReceiver: a spectrum of 2048 bins is needed");
  std::array<cf32, kTpsCount> now;
  for (std::size_t i = 0; i < kTpsCount; ++i) now[i] = spectrum[dvb_t::kTpsBins[i]];
  bits_[count_] = count_ == 0 ? 0 : tps_differential_bit(now, prev_);
  prev_ = now;
  if (++count_ < kTpsBits) return;
  if (!word_) {
    const std::optional<TpsBits> corrected = tps_correct(bits_);
    if (corrected && tps_has_sync_word(*corrected)) word_ = tps_decode(*corrected);
  }
  count_ = 0;
}

}  // namespace vatel::waveform::dvb_t_tps
