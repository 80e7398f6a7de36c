#pragma once
// FT8 and FT4 modulators: the channel symbols sent as phase-continuous
// frequency-shift keying from one phasor oscillator whose step is set at
// every symbol, with no frequency shaping and no amplitude ramp, then an
// optional shift by rf_hz.
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

#include "codec/ft8.hpp"
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

// The modulator of mode M (see codec/tone_code.hpp): M::kDataTones data
// tones to one burst of M::kSymbols channel symbols.  Ft8Mod and Ft4Mod
// name it.
template <class M>
class ToneBurstMod {
 public:
  static constexpr std::size_t kSamplesPerSymbol = M::kSamplesPerSymbol;
  static constexpr std::size_t kBurstSamples = M::kSymbols * kSamplesPerSymbol;
  static constexpr float kSpacing = M::kSpacing;

  ToneBurstMod(float fs, float base_hz, float rf_hz, float gain)
      : fs_(fs), base_hz_(base_hz), rf_hz_(rf_hz), gain_(gain) {}

  // Error value for a tone count other than M::kDataTones.
  core::Result<core::Buffer<cf32>> modulate(std::span<const std::uint8_t> tones) const {
    if (tones.size() != M::kDataTones)
      return core::error(std::string(M::kName) + "Mod.modulate: expected " + std::to_string(M::kDataTones) +
                         " tone indices, got " + std::to_string(tones.size()));
    const auto symbols = codec::tone_code::channel_symbols<M>(
        std::span<const std::uint8_t, M::kDataTones>(tones.data(), M::kDataTones));
    core::Buffer<cf32> out(kBurstSamples);
    fsk_burst_kernel(symbols.data(), symbols.size(), kSamplesPerSymbol, kSpacing, base_hz_, fs_, gain_, out.data());
    if (rf_hz_ != 0.0f) {
      dsp::Rotator rf(rf_hz_, fs_);
      rf_shift_kernel(rf, out.data(), out.size());
    }
    return out;
  }

  float fs() const { return fs_; }
  float base_hz() const { return base_hz_; }
  float rf_hz() const { return rf_hz_; }
  float gain() const { return gain_; }

 private:
  float fs_, base_hz_, rf_hz_, gain_;
};

// 79 symbols of 1920 samples (151680), eight tones 6.25 Hz apart.
using Ft8Mod = ToneBurstMod<codec::ft8::Traits>;

}  // namespace vatel::modulate
