#include "fec/error_locator.hpp"

#include <algorithm>

namespace vatel::fec::error_locator {

ErrorLocator berlekamp_massey(const gf::Gf256& gf, std::span<const std::uint8_t> syndromes) {
  const std::uint8_t* s = syndromes.data();
  ErrorLocator out;
  std::array<std::uint8_t, 512>& lambda = out.lambda;
  std::array<std::uint8_t, 512> b_poly{}, t_poly{};
  lambda[0] = 1;
  b_poly[0] = 1;
  std::size_t l = 0, m = 1, lambda_len = 1, b_len = 1;
  std::uint8_t b = 1;
  // l <= r at step r, so s[r - i] never reaches before the first syndrome.
  for (std::size_t r = 0; r < syndromes.size(); ++r) {
    std::uint8_t d = s[r];
    for (std::size_t i = 1; i <= l; ++i) d ^= gf.mul(lambda[i], s[r - i]);
    if (d == 0) {
      ++m;
      continue;
    }
    const std::uint8_t coef = gf.div(d, b);
    const bool grow = 2 * l <= r;
    if (grow) t_poly = lambda;
    const std::size_t old_len = lambda_len;
    for (std::size_t i = 0; i < b_len; ++i)
      lambda[i + m] = static_cast<std::uint8_t>(lambda[i + m] ^ gf.mul(coef, b_poly[i]));
    lambda_len = std::max(lambda_len, b_len + m);
    if (grow) {
      l = r + 1 - l;
      b_poly = t_poly;
      b_len = old_len;
      b = d;
      m = 1;
    } else {
      ++m;
    }
  }
  for (std::size_t i = 0; i < lambda_len; ++i)
    if (lambda[i] != 0) out.degree = i;
  return out;
}

std::size_t chien_search(const gf::Gf256& gf, const ErrorLocator& locator, std::array<std::uint8_t, 256>& roots) {
  const auto& lambda = locator.lambda;
  const std::size_t deg = locator.degree;
  // e[i] = log of Lambda_i alpha^(-i p) for the current p.
  std::array<unsigned, 512> e{};
  for (std::size_t i = 1; i <= deg; ++i) e[i] = lambda[i] ? gf.log[lambda[i]] : 0;
  std::size_t n_roots = 0;
  for (unsigned p = 0; p < 255 && n_roots < deg; ++p) {
    unsigned sum = 1;  // Lambda_0
    for (std::size_t i = 1; i <= deg; ++i) {
      if (lambda[i] == 0) continue;
      sum ^= gf.exp[e[i]];
      e[i] += 255 - static_cast<unsigned>(i % 255);  // times alpha^-i for the next p
      if (e[i] >= 255) e[i] -= 255;
    }
    if (sum == 0) roots[n_roots++] = static_cast<std::uint8_t>(p);
  }
  return n_roots;
}

}  // namespace vatel::fec::error_locator
