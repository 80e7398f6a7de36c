#pragma once
// FT8 and FT4 demodulators for a burst already aligned in time and
// frequency: every channel symbol is correlated against each tone and the
// strongest tone is taken; only the data symbols are returned.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

#include "codec/ft8.hpp"
#include "core/buffer.hpp"
#include "core/result.hpp"
#include "core/types.hpp"
#include "dsp/rotator.hpp"

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

// The demodulator of mode M (see codec/tone_code.hpp) for a burst already
// aligned in time and frequency, tone 0 at base_hz.  Ft8Demod and Ft4Demod
// name it.
template <class M>
class ToneBurstDemod {
 public:
  static constexpr std::size_t kSamplesPerSymbol = M::kSamplesPerSymbol;
  static constexpr std::size_t kBurstSamples = M::kSymbols * kSamplesPerSymbol;
  static_assert(M::kTones <= 8, "tone_powers_kernel correlates at most 8 tones");

  ToneBurstDemod(float fs, float base_hz) : fs_(fs), base_hz_(base_hz) {}

  // The M::kDataTones data tones of the burst in the first kBurstSamples
  // samples.
  core::Result<core::Buffer<std::uint8_t>> demodulate(std::span<const cf32> iq) const {
    if (iq.size() < kBurstSamples)
      return core::error(std::string(M::kName) + "Demod.demodulate: input too short (" + std::to_string(iq.size()) +
                         " < " + std::to_string(kBurstSamples) + ")");
    // Tone k at base_hz + k * spacing, the same sum the modulator forms.
    // Lanes beyond the mode's tones are unused (steps of 1 + 0j).
    float wr[8] = {1.0f, 1.0f, 1.0f, 1.0f, 1.0f, 1.0f, 1.0f, 1.0f}, wi[8] = {};
    for (std::size_t k = 0; k < M::kTones; ++k) {
      const float a = ((M::kSpacing * static_cast<float>(k) + base_hz_) * dsp::kTwoPi) / fs_;
      float s, c;
      ::sincosf(a, &s, &c);
      wr[k] = c;
      wi[k] = -s;
    }
    core::Buffer<std::uint8_t> out(M::kDataTones);
    float power[8];
    for (std::size_t k = 0; k < M::kDataTones; ++k) {
      // Sync symbols carry nothing the caller needs; only data symbols are
      // correlated.
      const std::size_t s = M::kDataPositions[k];
      tone_powers_kernel(iq.data() + s * kSamplesPerSymbol, kSamplesPerSymbol, wr, wi, power);
      out[k] = strongest_tone(power, M::kTones);
    }
    return out;
  }

  float fs() const { return fs_; }
  float base_hz() const { return base_hz_; }

 private:
  float fs_, base_hz_;
};

// 79 symbols of 1920 samples (151680), eight tones.
using Ft8Demod = ToneBurstDemod<codec::ft8::Traits>;

}  // namespace vatel::demodulate
