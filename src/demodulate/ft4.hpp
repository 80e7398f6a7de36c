#pragma once
// The FT4 demodulator: 105 symbols of 576 samples, four tones.
#include <cstddef>
#include <cstdint>
#include <span>

#include "demodulate/ft8.hpp"

namespace vatel::demodulate {

class Ft4Demod {
 public:
  static constexpr std::size_t kSamplesPerSymbol = 576;
  static constexpr std::size_t kBurstSamples = 60480;

  Ft4Demod(float fs, float base_hz) : fs_(fs), base_hz_(base_hz) {}

  // The 87 data tones of the burst in the first 60480 samples.
  core::Result<core::Buffer<std::uint8_t>> demodulate(std::span<const cf32> iq) const;

  float fs() const { return fs_; }
  float base_hz() const { return base_hz_; }

 private:
  float fs_, base_hz_;
};

}  // namespace vatel::demodulate
