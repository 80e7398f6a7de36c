#pragma once
// FT8 and FT4 demodulators for a burst already aligned in time and
// frequency: every channel symbol is correlated against each tone and the
// strongest tone is taken; only the data symbols are returned.
#include <cstddef>
#include <cstdint>
#include <span>

#include "core/buffer.hpp"
#include "core/result.hpp"
#include "core/types.hpp"

namespace vatel::demodulate {

// Powers of up to 8 tones over one symbol of n samples: for tone k a phasor
// starting at 1 + 0j and stepping by (step_re[k], step_im[k]) per sample
// multiplies the samples, and power[k] is the squared magnitude of the sum.
void tone_powers_kernel(const cf32* x, std::size_t n, const float* step_re, const float* step_im, float* power);
void tone_powers_kernel_portable(const cf32* x, std::size_t n, const float* step_re, const float* step_im,
                                 float* power);
void tone_powers_kernel_fma(const cf32* x, std::size_t n, const float* step_re, const float* step_im,
                            float* power);

// The strongest of n_tones powers; on equal powers the lowest index (and 0
// when all are NaN).
std::uint8_t strongest_tone(const float* power, std::size_t n_tones);

class Ft8Demod {
 public:
  static constexpr std::size_t kSamplesPerSymbol = 1920;
  static constexpr std::size_t kBurstSamples = 151680;

  Ft8Demod(float fs, float base_hz) : fs_(fs), base_hz_(base_hz) {}

  // The 58 data tones of the burst in the first 151680 samples.
  core::Result<core::Buffer<std::uint8_t>> demodulate(std::span<const cf32> iq) const;

  float fs() const { return fs_; }
  float base_hz() const { return base_hz_; }

 private:
  float fs_, base_hz_;
};

}  // namespace vatel::demodulate
