#include "dsp/fir.hpp"

#include <algorithm>
#include <cmath>
#include <limits>

#include "core/cpu.hpp"
#include "core/checked.hpp"
#include "core/panic.hpp"

namespace vatel::dsp {

namespace {

constexpr float kPi = 3.14159265f;
constexpr float kTwoPiF = 6.2831855f;

VATEL_INLINE cf32 fir_dot_body(const float* taps, const cf32* d, std::size_t n) noexcept {
  float re = 0.0f, im = 0.0f;
  for (std::size_t j = 0; j < n; ++j) {
    re = std::fma(taps[j], d[j].real(), re);
    im = std::fma(taps[j], d[j].imag(), im);
  }
  return {re, im};
}

}  // namespace

VATEL_FMA_KERNEL(cf32, fir_dot, (const float* taps, const cf32* d, std::size_t n) noexcept,
                 (taps, d, n))

float kaiser_beta(float a) noexcept {
  if (a > 50.0f) return 0.1102f * (a - 8.7f);
  if (a >= 21.0f) return 0.5842f * std::pow(a - 21.0f, 0.4f) + 0.07886f * (a - 21.0f);
  return 0.0f;
}

float bessel_i0(float x) noexcept {
  float sum = 1.0f, term = 1.0f;
  const float half = x / 2.0f;
  for (int k = 1; k <= 40; ++k) {
    term = term * half / static_cast<float>(k);
    const float sq = term * term;
    sum = sum + sq;
    if (sq < sum * 1e-12f) break;
  }
  return sum;
}

FirLowpassIq::FirLowpassIq(std::size_t num_taps, float cutoff, float stopband_db) {
  VATEL_ENSURE(num_taps % 2 == 1, "FirLowpassIq: the tap count must be odd");
  // Two copies of the delay line; the product cannot wrap for any tap
  // vector that fits in memory.
  if (num_taps > std::numeric_limits<std::size_t>::max() / (2 * sizeof(cf32)))
    core::size_too_large("FirLowpassIq: too many taps");
  const std::size_t n = num_taps;
  const std::size_t m = n / 2;
  const float beta = kaiser_beta(stopband_db);
  const float i0_beta = bessel_i0(beta);
  const float fc = std::min(std::max(cutoff, 0.0001f), 0.4999f);
  const float mf = static_cast<float>(m);
  taps_.resize(n);
  for (std::size_t i = 0; i < n; ++i) {
    const float c = static_cast<float>(static_cast<double>(i) - static_cast<double>(m));
    const float h = (c == 0.0f) ? 2.0f * fc : std::sin(kTwoPiF * fc * c) / (kPi * c);
    // With a single tap M is 0 and the window is the centre value alone.
    const float r = m == 0 ? 0.0f : c / mf;
    const float w = bessel_i0(beta * std::sqrt(std::max(0.0f, 1.0f - r * r))) / i0_beta;
    taps_[i] = h * w;
  }
  float s = 0.0f;
  for (float t : taps_) s = s + t;
  if (std::fabs(s) > std::numeric_limits<float>::epsilon())
    for (float& t : taps_) t = t / s;
  line_.assign(2 * n, cf32{});
}

cf32 FirLowpassIq::push(cf32 x) noexcept {
  const std::size_t n = taps_.size();
  pos_ = pos_ == 0 ? n - 1 : pos_ - 1;
  line_[pos_] = x;
  line_[pos_ + n] = x;
  return fir_dot(taps_.data(), line_.data() + pos_, n);
}

void FirLowpassIq::filter_zero_phase(std::span<cf32> buffer) {
  const std::size_t len = buffer.size();
  const std::size_t m = delay();
  cf32* x = buffer.data();
  // Prime with the first M samples; their outputs belong before the start.
  for (std::size_t k = 0; k < m; ++k) push(k < len ? x[k] : cf32{});
  // Output m needs input m + M, which is read before buffer[m] is written
  // (m + M >= m), so filtering in place never reads a written sample.
  for (std::size_t i = 0; i < len; ++i) {
    const std::size_t ahead = i + m;
    x[i] = push(ahead < len ? x[ahead] : cf32{});
  }
}

}  // namespace vatel::dsp
