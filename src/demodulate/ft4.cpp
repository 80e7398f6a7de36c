#include "demodulate/ft4.hpp"

#include <cmath>
#include <string>

#include "codec/ft4.hpp"
#include "dsp/rotator.hpp"

namespace vatel::demodulate {

core::Result<core::Buffer<std::uint8_t>> Ft4Demod::demodulate(std::span<const cf32> iq) const {
  if (iq.size() < kBurstSamples)
    return core::error("Ft4Demod.demodulate: input too short (" + std::to_string(iq.size()) + " < " +
                       std::to_string(kBurstSamples) + ")");
  static constexpr float kOffsets[4] = {0.0f, 20.833334f, 41.666668f, 62.5f};
  // Lanes 4..7 of the tone kernel are unused (steps of 1 + 0j).
  float wr[8] = {1.0f, 1.0f, 1.0f, 1.0f, 1.0f, 1.0f, 1.0f, 1.0f}, wi[8] = {};
  for (std::size_t k = 0; k < 4; ++k) {
    const float a = ((kOffsets[k] + base_hz_) * dsp::kTwoPi) / fs_;
    float s, c;
    ::sincosf(a, &s, &c);
    wr[k] = c;
    wi[k] = -s;
  }
  core::Buffer<std::uint8_t> out(codec::ft4::kDataTones);
  float power[8];
  for (std::size_t k = 0; k < codec::ft4::kDataTones; ++k) {
    const std::size_t s = codec::ft4::kDataPositions[k];
    tone_powers_kernel(iq.data() + s * kSamplesPerSymbol, kSamplesPerSymbol, wr, wi, power);
    out[k] = strongest_tone(power, 4);
  }
  return out;
}

}  // namespace vatel::demodulate
