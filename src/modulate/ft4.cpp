#include "modulate/ft4.hpp"

#include <string>

#include "codec/ft4.hpp"

namespace vatel::modulate {

core::Result<core::Buffer<cf32>> Ft4Mod::modulate(std::span<const std::uint8_t> tones) const {
  if (tones.size() != codec::ft4::kDataTones)
    return core::error("Ft4Mod.modulate: expected 87 tone indices, got " + std::to_string(tones.size()));
  const auto symbols = codec::ft4::channel_symbols(
      std::span<const std::uint8_t, codec::ft4::kDataTones>(tones.data(), codec::ft4::kDataTones));
  core::Buffer<cf32> out(kBurstSamples);
  fsk_burst_kernel(symbols.data(), symbols.size(), kSamplesPerSymbol, kSpacing, base_hz_, fs_, gain_, out.data());
  if (rf_hz_ != 0.0f) {
    dsp::Rotator rf(rf_hz_, fs_);
    rf_shift_kernel(rf, out.data(), out.size());
  }
  return out;
}

}  // namespace vatel::modulate
