#include "dsp/level.hpp"

#include <cmath>

namespace vatel::dsp {

float mean_power(std::span<const cf32> x) noexcept {
  if (x.empty()) return 0.0f;
  // Four partial sums keep the rounding of long sums small and let the
  // loop vectorise.
  float acc[4] = {0.0f, 0.0f, 0.0f, 0.0f};
  const std::size_t n = x.size();
  std::size_t i = 0;
  for (; i + 4 <= n; i += 4)
    for (std::size_t j = 0; j < 4; ++j) {
      const float re = x[i + j].real(), im = x[i + j].imag();
      acc[j] = acc[j] + (re * re + im * im);
    }
  for (; i < n; ++i) {
    const float re = x[i].real(), im = x[i].imag();
    acc[0] = acc[0] + (re * re + im * im);
  }
  return ((acc[0] + acc[1]) + (acc[2] + acc[3])) / static_cast<float>(n);
}

float power_of_two_gain(float power, float target_power) noexcept {
  if (!(power > 0.0f) || !(target_power > 0.0f) || !std::isfinite(power) || !std::isfinite(target_power))
    return 1.0f;
  // log2 of the power ratio, from the exponents and the mantissas' logs.
  const float ratio_log2 = std::log2(target_power) - std::log2(power);
  if (!(std::fabs(ratio_log2) > 1.0f)) return 1.0f;
  // Half of it, for an amplitude gain; within +-60 binary orders a sample
  // of any finite power scaled by g stays finite.
  float e = std::nearbyint(0.5f * ratio_log2);
  if (e > 60.0f) e = 60.0f;
  if (e < -60.0f) e = -60.0f;
  return std::ldexp(1.0f, static_cast<int>(e));
}

void scale(std::span<cf32> x, float g) noexcept {
  if (g == 1.0f) return;
  float* v = reinterpret_cast<float*>(x.data());
  const std::size_t n = 2 * x.size();
  for (std::size_t i = 0; i < n; ++i) v[i] = v[i] * g;
}

}  // namespace vatel::dsp
