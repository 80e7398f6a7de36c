#pragma once
// The FT4 modulator: 105 channel symbols of 576 samples, four tones
// 20.833334 Hz apart (12000 / 576 in single precision).
#include <cstddef>
#include <cstdint>
#include <span>

#include "modulate/ft8.hpp"

namespace vatel::modulate {

class Ft4Mod {
 public:
  static constexpr std::size_t kSamplesPerSymbol = 576;
  static constexpr std::size_t kBurstSamples = 105 * kSamplesPerSymbol;  // 60480
  static constexpr float kSpacing = 20.833334f;

  Ft4Mod(float fs, float base_hz, float rf_hz, float gain) : fs_(fs), base_hz_(base_hz), rf_hz_(rf_hz), gain_(gain) {}

  // 87 data tones to one burst; error value for any other count.
  core::Result<core::Buffer<cf32>> modulate(std::span<const std::uint8_t> tones) const;

  float fs() const { return fs_; }
  float base_hz() const { return base_hz_; }
  float rf_hz() const { return rf_hz_; }
  float gain() const { return gain_; }

 private:
  float fs_, base_hz_, rf_hz_, gain_;
};

}  // namespace vatel::modulate
