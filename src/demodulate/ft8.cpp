#include "demodulate/ft8.hpp"

#include "dsp/tone_bank.hpp"

namespace vatel::demodulate {
namespace {

// The eight tones side by side.
VATEL_INLINE void tone_powers_kernel_body(const cf32* x, std::size_t n, const float* step_re,
                                          const float* step_im, float* power) {
  dsp::tone_bank_powers<8>(x, n, step_re, step_im, power);
}

}  // namespace

VATEL_FMA_KERNEL(void, tone_powers_kernel,
                 (const cf32* x, std::size_t n, const float* step_re, const float* step_im, float* power),
                 (x, n, step_re, step_im, power))

std::uint8_t strongest_tone(const float* power, std::size_t n_tones) {
  std::size_t best = 0;
  for (std::size_t k = 1; k < n_tones; ++k)
    if (power[k] > power[best]) best = k;
  return static_cast<std::uint8_t>(best);
}

}  // namespace vatel::demodulate
