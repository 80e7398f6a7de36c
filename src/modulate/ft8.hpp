#pragma once
// FT8 and FT4 modulators: the channel symbols sent as phase-continuous
// frequency-shift keying from one phasor oscillator whose step is set at
// every symbol, with no frequency shaping and no amplitude ramp, then an
// optional shift by rf_hz.
#include <cstddef>
#include <cstdint>
#include <span>

#include "core/buffer.hpp"
#include "core/result.hpp"
#include "core/types.hpp"
#include "dsp/rotator.hpp"

namespace vatel::modulate {

// Writes n_symbols * sps samples: symbol s at base_hz + spacing * symbols[s],
// every sample gain times the advanced phasor.
void fsk_burst_kernel(const std::uint8_t* symbols, std::size_t n_symbols, std::size_t sps, float spacing,
                      float base_hz, float fs, float gain, cf32* out);
void fsk_burst_kernel_portable(const std::uint8_t* symbols, std::size_t n_symbols, std::size_t sps,
                               float spacing, float base_hz, float fs, float gain, cf32* out);
void fsk_burst_kernel_fma(const std::uint8_t* symbols, std::size_t n_symbols, std::size_t sps, float spacing,
                          float base_hz, float fs, float gain, cf32* out);

// Multiplies n samples in place by a fresh oscillator at rf_hz.
void rf_shift_kernel(dsp::Rotator& osc, cf32* iq, std::size_t n);
void rf_shift_kernel_portable(dsp::Rotator& osc, cf32* iq, std::size_t n);
void rf_shift_kernel_fma(dsp::Rotator& osc, cf32* iq, std::size_t n);

class Ft8Mod {
 public:
  static constexpr std::size_t kSamplesPerSymbol = 1920;
  static constexpr std::size_t kBurstSamples = 79 * kSamplesPerSymbol;  // 151680
  static constexpr float kSpacing = 6.25f;

  Ft8Mod(float fs, float base_hz, float rf_hz, float gain) : fs_(fs), base_hz_(base_hz), rf_hz_(rf_hz), gain_(gain) {}

  // 58 data tones to one burst; error value for any other count.
  core::Result<core::Buffer<cf32>> modulate(std::span<const std::uint8_t> tones) const;

  float fs() const { return fs_; }
  float base_hz() const { return base_hz_; }
  float rf_hz() const { return rf_hz_; }
  float gain() const { return gain_; }

 private:
  float fs_, base_hz_, rf_hz_, gain_;
};

}  // namespace vatel::modulate
