#include "demodulate/ft8.hpp"

#include <cmath>
#include <string>

#include "codec/ft8.hpp"
#include "dsp/rotator.hpp"

namespace vatel::demodulate {
namespace {

constexpr std::size_t kLanes = 8;

// The eight tones side by side, so that the eight phasor recurrences run in
// parallel lanes.
VATEL_INLINE void tone_powers_kernel_body(const cf32* x, std::size_t n, const float* step_re,
                                          const float* step_im, float* power) {
  float pr[kLanes], pi[kLanes], ar[kLanes], ai[kLanes], wr[kLanes], wi[kLanes];
  for (std::size_t k = 0; k < kLanes; ++k) {
    pr[k] = 1.0f;
    pi[k] = 0.0f;
    ar[k] = 0.0f;
    ai[k] = 0.0f;
    wr[k] = step_re[k];
    wi[k] = step_im[k];
  }
  for (std::size_t i = 0; i < n; ++i) {
    const float xr = x[i].real(), xi = x[i].imag();
    for (std::size_t k = 0; k < kLanes; ++k) {
      ar[k] = std::fma(xr, pr[k], ar[k]);
      ar[k] = std::fma(-xi, pi[k], ar[k]);
      ai[k] = std::fma(xr, pi[k], ai[k]);
      ai[k] = std::fma(xi, pr[k], ai[k]);
      const float nr = std::fma(pr[k], wr[k], -(pi[k] * wi[k]));
      const float ni = std::fma(pi[k], wr[k], pr[k] * wi[k]);
      pr[k] = nr;
      pi[k] = ni;
    }
  }
  for (std::size_t k = 0; k < kLanes; ++k) power[k] = ar[k] * ar[k] + ai[k] * ai[k];
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

core::Result<core::Buffer<std::uint8_t>> Ft8Demod::demodulate(std::span<const cf32> iq) const {
  if (iq.size() < kBurstSamples)
    return core::error("Ft8Demod.demodulate: input too short (" + std::to_string(iq.size()) + " < " +
                       std::to_string(kBurstSamples) + ")");
  static constexpr float kOffsets[8] = {0.0f, 6.25f, 12.5f, 18.75f, 25.0f, 31.25f, 37.5f, 43.75f};
  float wr[8], wi[8];
  for (std::size_t k = 0; k < 8; ++k) {
    const float a = ((kOffsets[k] + base_hz_) * dsp::kTwoPi) / fs_;
    float s, c;
    ::sincosf(a, &s, &c);
    wr[k] = c;
    wi[k] = -s;
  }
  core::Buffer<std::uint8_t> out(codec::ft8::kDataTones);
  float power[8];
  for (std::size_t k = 0; k < codec::ft8::kDataTones; ++k) {
    // Sync symbols carry nothing the caller needs; only data symbols are
    // correlated.
    const std::size_t s = codec::ft8::kDataPositions[k];
    tone_powers_kernel(iq.data() + s * kSamplesPerSymbol, kSamplesPerSymbol, wr, wi, power);
    out[k] = strongest_tone(power, 8);
  }
  return out;
}

}  // namespace vatel::demodulate
