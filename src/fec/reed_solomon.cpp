#include "fec/reed_solomon.hpp"

#include <algorithm>
#include <array>
#include <cstring>

#include "core/panic.hpp"
#include "fec/error_locator.hpp"

namespace vatel::fec::reed_solomon {

std::string RsError::debug() const {
  if (kind == Kind::BadLength)
    return "BadLength(" + std::to_string(a) + ", " + std::to_string(b) + ")";
  return "Uncorrectable(" + std::to_string(a) + ")";
}

std::optional<RsError> ReedSolomon::check(std::uint64_t n, std::uint64_t n_parity) {
  if (n < 1 || n > 255 || n_parity >= n) return RsError::bad_length(n, n_parity);
  return std::nullopt;
}

namespace {
std::size_t validated_n(std::uint64_t n, std::uint64_t n_parity) {
  if (auto e = ReedSolomon::check(n, n_parity)) core::panic("valid RS config: " + e->debug());
  return n;
}
}  // namespace

ReedSolomon::ReedSolomon(std::uint64_t n, std::uint64_t n_parity)
    : gf_(gf::SHARED), n_(validated_n(n, n_parity)), k_(n - n_parity), n_parity_(n_parity) {
  // g(x) = (x + alpha^0)(x + alpha^1)...(x + alpha^(n_parity - 1)).
  generator_.assign(1, 1);
  for (std::size_t i = 0; i < n_parity_; ++i) {
    const std::uint8_t c = gf_.pow_alpha(i);
    std::vector<std::uint8_t> q(generator_.size() + 1);
    q[0] = gf_.mul(c, generator_[0]);
    for (std::size_t j = 1; j < generator_.size(); ++j)
      q[j] = static_cast<std::uint8_t>(generator_[j - 1] ^ gf_.mul(c, generator_[j]));
    q[generator_.size()] = generator_.back();
    generator_ = std::move(q);
  }
  encode_table_.resize(256 * n_parity_);
  for (unsigned f = 0; f < 256; ++f)
    for (std::size_t j = 0; j < n_parity_; ++j)
      encode_table_[f * n_parity_ + j] =
          gf_.mul(static_cast<std::uint8_t>(f), generator_[n_parity_ - 1 - j]);
  syndrome_table_.resize(256 * n_parity_);
  for (std::size_t j = 0; j < n_parity_; ++j)
    for (unsigned s = 0; s < 256; ++s)
      syndrome_table_[j * 256 + s] = gf_.mul(static_cast<std::uint8_t>(s), gf_.pow_alpha(j));
}

void ReedSolomon::encode_into(std::span<const std::uint8_t> message,
                              std::span<std::uint8_t> codeword) const {
  if (message.size() != k_) core::panic("RS message must be exactly k bytes");
  VATEL_ENSURE(codeword.size() == n_, "RS codeword buffer must be exactly n bytes");
  std::memcpy(codeword.data(), message.data(), k_);
  const std::size_t np = n_parity_;
  if (np == 0) return;
  // r[0] is the coefficient of the highest power of the remainder; one spare
  // slot stands for r[n_parity] = 0.
  std::array<std::uint8_t, 256> r{};
  for (std::uint8_t b : message) {
    const std::uint8_t* row = encode_table_.data() + static_cast<std::size_t>(b ^ r[0]) * np;
    for (std::size_t j = 0; j < np; ++j) r[j] = static_cast<std::uint8_t>(r[j + 1] ^ row[j]);
  }
  std::memcpy(codeword.data() + k_, r.data(), np);
}

std::vector<std::uint8_t> ReedSolomon::encode_block(std::span<const std::uint8_t> message) const {
  if (message.size() != k_) core::panic("RS message must be exactly k bytes");
  std::vector<std::uint8_t> out(n_);
  encode_into(message, out);
  return out;
}

RsDecodeStatus ReedSolomon::decode_into(std::span<const std::uint8_t> word,
                                        std::span<std::uint8_t> message) const {
  if (word.size() != n_) core::panic("RS word must be exactly n bytes");
  VATEL_ENSURE(message.size() == k_, "RS message buffer must be exactly k bytes");
  std::memcpy(message.data(), word.data(), k_);
  const std::size_t np = n_parity_;
  if (np == 0) return {true, 0};
  const auto& exp = gf_.exp;
  const auto& log = gf_.log;

  // Syndromes by Horner's rule.  Byte i of the word is the coefficient of
  // x^(254 - i) of a length-255 codeword, so the Horner sums (which weight
  // byte i by x^(n - 1 - i)) are scaled by alpha^(j * (255 - n)).
  std::array<std::uint8_t, 256> s{};
  for (std::size_t i = 0; i < n_; ++i) {
    const std::uint8_t w = word[i];
    const std::uint8_t* t = syndrome_table_.data();
    for (std::size_t j = 0; j < np; ++j, t += 256) s[j] = static_cast<std::uint8_t>(t[s[j]] ^ w);
  }
  bool any = false;
  const std::size_t shift = 255 - n_;
  for (std::size_t j = 0; j < np; ++j) {
    if (s[j] != 0) {
      any = true;
      s[j] = exp[(log[s[j]] + (j * shift) % 255)];
    }
  }
  if (!any) return {true, 0};

  // Berlekamp-Massey over S_0 ... S_(2t - 1).
  const std::size_t two_t = np & ~std::size_t{1};
  const error_locator::ErrorLocator loc = error_locator::berlekamp_massey(gf_, std::span(s.data(), two_t));
  const auto& lambda = loc.lambda;
  const std::size_t deg = loc.degree;
  // More errors than the code corrects: no search can succeed.
  if (deg > np / 2) return {false, 0};

  // Chien search over all 255 positions.
  std::array<std::uint8_t, 256> roots{};
  const std::size_t n_roots = error_locator::chien_search(gf_, loc, roots);
  if (n_roots != deg) return {false, 0};

  // Forney: e = X Omega(X^-1) / Lambda'(X^-1) for the first root alpha^0, with
  // Omega = S(x) Lambda(x) mod x^n_parity.
  std::array<std::uint8_t, 256> omega{};
  for (std::size_t i = 0; i < np; ++i) {
    std::uint8_t acc = 0;
    for (std::size_t j = 0; j <= std::min(i, deg); ++j) acc ^= gf_.mul(lambda[j], s[i - j]);
    omega[i] = acc;
  }
  std::array<std::uint8_t, 256> fix_pos{}, fix_val{};
  std::size_t fixes = 0;
  for (std::size_t ri = 0; ri < n_roots; ++ri) {
    const unsigned p = roots[ri];
    const unsigned x_inv_log = (255 - p) % 255;
    std::uint8_t om = 0;  // Omega(X^-1) by Horner
    for (std::size_t i = np; i-- > 0;) om = static_cast<std::uint8_t>(
        (om ? exp[log[om] + x_inv_log] : 0) ^ omega[i]);
    std::uint8_t der = 0;  // Lambda'(X^-1): odd terms lowered by one power
    for (std::size_t i = 1; i <= deg; i += 2)
      if (lambda[i]) der ^= exp[log[lambda[i]] + ((i - 1) * x_inv_log) % 255];
    if (der == 0) return {false, 0};
    if (om == 0) continue;
    // Positions below 255 - n lie in the shortened, all-zero part.
    if (p < 255 - n_) continue;
    fix_pos[fixes] = static_cast<std::uint8_t>(254 - p);
    fix_val[fixes] = gf_.mul(exp[p], gf_.div(om, der));
    ++fixes;
  }

  // The syndromes of the corrected word: by linearity, those of the received
  // word plus those of the correction pattern, e * alpha^(j * p).
  for (std::size_t f = 0; f < fixes; ++f) {
    const unsigned p = 254u - fix_pos[f];
    const unsigned lv = log[fix_val[f]];
    for (std::size_t j = 0; j < np; ++j) s[j] ^= exp[lv + (j * p) % 255];
  }
  for (std::size_t j = 0; j < np; ++j)
    if (s[j] != 0) return {false, 0};
  for (std::size_t f = 0; f < fixes; ++f)
    if (fix_pos[f] < k_) message[fix_pos[f]] ^= fix_val[f];
  return {true, fixes};
}

RsDecoded ReedSolomon::decode_block(std::span<const std::uint8_t> word) const {
  if (word.size() != n_) core::panic("RS word must be exactly n bytes");
  RsDecoded out;
  out.message.resize(k_);
  const auto st = decode_into(word, out.message);
  out.ok = st.ok;
  out.corrected = st.ok ? st.corrected : 0;
  return out;
}

}  // namespace vatel::fec::reed_solomon
