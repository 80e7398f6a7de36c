#include "fec/bch.hpp"

#include <array>
#include <cstring>
#include <limits>

#include "core/panic.hpp"
#include "fec/error_locator.hpp"

namespace vatel::fec::bch {

std::string BchError::debug() const {
  const char* name = kind == Kind::DesignTooLarge ? "DesignTooLarge"
                     : kind == Kind::BadLength    ? "BadLength"
                                                  : "Uncorrectable";
  return std::string(name) + "(" + std::to_string(value) + ")";
}

Bch::Bch(std::vector<std::uint8_t> generator, std::size_t n, std::size_t t)
    : gf_(&gf::SHARED.get()), generator_(std::move(generator)), n_(n),
      k_(n - (generator_.size() - 1)), t_(t) {}

BchResult Bch::shortened(std::uint64_t n, std::uint64_t t) {
  if (n >= 256) return BchError{BchError::Kind::BadLength, n};
  if (t == 0) return BchError{BchError::Kind::DesignTooLarge, 0};
  const gf::Gf256& gf = gf::SHARED;

  // g(x) = product of the minimal polynomials of alpha^1 ... alpha^2t, one per
  // cyclotomic coset, in ascending powers.  Coset members are exponents mod
  // 255, so an index of 255 or more is never covered; from i = 255 on every
  // index adds a factor, and the degree reaches 255 by i = 255 whenever
  // 2t >= 255.  Stopping there bounds the work for any t (and 2t saturates
  // instead of wrapping).
  const std::uint64_t two_t =
      t > std::numeric_limits<std::uint64_t>::max() / 2 ? std::numeric_limits<std::uint64_t>::max()
                                                        : 2 * t;
  std::array<bool, 255> covered{};
  std::vector<std::uint8_t> g{1};
  std::vector<std::uint8_t> minimal, product;
  for (std::uint64_t i = 1; i <= two_t; ++i) {
    if (i < 255 && covered[i]) continue;
    const unsigned c0 = static_cast<unsigned>(i % 255);
    minimal.assign(1, 1);
    unsigned c = c0;
    do {
      if (c >= 1 && c <= two_t) covered[c] = true;
      // minimal *= (x + alpha^c)
      const std::uint8_t root = gf.exp[c];
      minimal.push_back(0);
      for (std::size_t j = minimal.size() - 1; j > 0; --j)
        minimal[j] = static_cast<std::uint8_t>(minimal[j - 1] ^ gf.mul(root, minimal[j]));
      minimal[0] = gf.mul(root, minimal[0]);
      c = (2 * c) % 255;
    } while (c != c0);
    product.assign(g.size() + minimal.size() - 1, 0);
    for (std::size_t a = 0; a < g.size(); ++a)
      for (std::size_t b = 0; b < minimal.size(); ++b)
        product[a + b] ^= gf.mul(g[a], minimal[b]);
    g.swap(product);
    if (g.size() > 255) return BchError{BchError::Kind::DesignTooLarge, t};
    if (i == std::numeric_limits<std::uint64_t>::max()) break;
  }
  // Binary coefficients, highest power first.
  std::vector<std::uint8_t> generator(g.rbegin(), g.rend());
  for (auto& coef : generator) coef &= 1u;
  const std::size_t deg = generator.size() - 1;
  if (deg >= n) return BchError{BchError::Kind::BadLength, n};
  return Bch(std::move(generator), n, t);
}

Bch Bch::for_120_bit_messages(std::uint64_t t) {
  auto full = shortened(255, t);
  if (auto* e = std::get_if<BchError>(&full)) core::panic("valid BCH t: " + e->debug());
  const std::uint64_t n = std::get<Bch>(full).generator().size() + 119;
  auto code = shortened(n, t);
  if (auto* e = std::get_if<BchError>(&code)) core::panic("valid shortened BCH: " + e->debug());
  return std::get<Bch>(std::move(code));
}

std::vector<std::uint8_t> Bch::encode_block(std::span<const std::uint8_t> message) const {
  if (message.size() != k_) core::panic("BCH message must be exactly k bits");
  const std::size_t deg = degree();
  std::vector<std::uint8_t> out(n_);
  for (std::size_t i = 0; i < k_; ++i) out[i] = message[i] & 1u;
  // The division register: s[0] is the coefficient of the highest power of
  // the remainder.
  std::array<std::uint8_t, 256> s{};
  const std::uint8_t* g = generator_.data();
  for (std::size_t i = 0; i < k_; ++i) {
    const std::uint8_t f = static_cast<std::uint8_t>((message[i] & 1u) ^ s[0]);
    for (std::size_t j = 0; j + 1 < deg; ++j) s[j] = static_cast<std::uint8_t>(s[j + 1] ^ (f & g[j + 1]));
    if (deg > 0) s[deg - 1] = f & g[deg];
  }
  std::memcpy(out.data() + k_, s.data(), deg);
  return out;
}

bool Bch::decode_into(std::span<const std::uint8_t> word, std::span<std::uint8_t> message) const {
  if (word.size() != n_) core::panic("BCH word must be exactly n bits");
  VATEL_ENSURE(message.size() == k_, "BCH message buffer must be exactly k bits");
  for (std::size_t i = 0; i < k_; ++i) message[i] = word[i] & 1u;
  const auto& exp = gf_->exp;
  const std::size_t two_t = 2 * t_;  // t <= 127 for any constructed code

  // Syndromes S_1 ... S_2t: bit i of the word is the coefficient of x^(254 - i).
  std::array<std::uint8_t, 256> s{};
  for (std::size_t i = 0; i < n_; ++i) {
    if (!(word[i] & 1u)) continue;
    const unsigned p = static_cast<unsigned>(254 - i);
    unsigned e = p;
    for (std::size_t j = 1; j <= two_t; ++j) {
      s[j] ^= exp[e];
      e += p;
      if (e >= 255) e -= 255;
    }
  }
  bool any = false;
  for (std::size_t j = 1; j <= two_t; ++j) any |= s[j] != 0;
  if (!any) return true;

  // The error locator of S_1 ... S_2t; roots in the shortened part
  // (p < 255 - n) are ignored.
  const error_locator::ErrorLocator loc = error_locator::berlekamp_massey(*gf_, std::span(s.data() + 1, two_t));
  std::array<std::uint8_t, 256> roots{};
  const std::size_t n_roots = error_locator::chien_search(*gf_, loc, roots);
  std::array<std::uint8_t, 256> flips{};
  std::size_t n_flips = 0;
  for (std::size_t i = 0; i < n_roots; ++i)
    if (roots[i] >= 255 - n_) flips[n_flips++] = roots[i];
  if (n_flips > t_) return false;
  // The syndromes of the corrected copy, by linearity: flipping the bit of
  // power p adds alpha^(j p) to S_j.
  for (std::size_t f = 0; f < n_flips; ++f) {
    const unsigned p = flips[f];
    unsigned x = p;
    for (std::size_t j = 1; j <= two_t; ++j) {
      s[j] ^= exp[x];
      x += p;
      if (x >= 255) x -= 255;
    }
  }
  for (std::size_t j = 1; j <= two_t; ++j)
    if (s[j] != 0) {
      for (std::size_t i = 0; i < k_; ++i) message[i] = word[i] & 1u;
      return false;
    }
  for (std::size_t f = 0; f < n_flips; ++f) {
    const std::size_t bit = 254 - flips[f];
    if (bit < k_) message[bit] ^= 1u;
  }
  return true;
}

BchDecoded Bch::decode_block(std::span<const std::uint8_t> word) const {
  if (word.size() != n_) core::panic("BCH word must be exactly n bits");
  BchDecoded out;
  out.message.resize(k_);
  out.ok = decode_into(word, out.message);
  return out;
}

}  // namespace vatel::fec::bch
