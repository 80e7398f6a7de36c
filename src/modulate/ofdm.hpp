#pragma once
// The OFDM symbol modulator: bits to constellation points on the data
// carriers, pilots on theirs, inverse FFT, cyclic prefix, then an optional
// mix up to rf_hz and the gain.  It works on whole symbols: the last symbol
// of a call is completed with zero bits.
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "core/buffer.hpp"
#include "core/types.hpp"
#include "dsp/rotator.hpp"
#include "dsp/constellation.hpp"
#include "multicarrier/config.hpp"
#include "multicarrier/fft.hpp"
#include "multicarrier/grid.hpp"

namespace vatel::modulate {

using multicarrier::ConstellationOrder;
using multicarrier::OfdmConfig;

class OfdmMod {
 public:
  explicit OfdmMod(const OfdmConfig& cfg);

  // One bit per byte (lowest bit).  Returns ceil(bits / bits_per_symbol)
  // symbols of n_fft + cp_len samples each; the oscillator phase runs on
  // from one call to the next.
  core::Buffer<cf32> modulate(std::span<const std::uint8_t> bits);

  std::size_t bits_per_symbol() const noexcept { return bits_per_symbol_; }
  std::size_t samples_per_symbol() const noexcept { return samples_per_symbol_; }
  const dsp::Rotator& oscillator() const noexcept { return osc_; }

 private:
  // Maps one symbol's bits onto the spectrum, transforms it and writes the
  // symbol with its prefix (before mixing and gain) to `out`.
  void symbol(const std::uint8_t* bits, cf32* out);

  multicarrier::CarrierGrid grid_;
  multicarrier::IfftBlock ifft_;
  multicarrier::AlignedSamples freq_;
  std::vector<std::uint8_t> last_bits_;  // a zero-padded final symbol
  std::size_t bits_per_symbol_;
  std::size_t samples_per_symbol_;
  std::size_t n_fft_;
  std::size_t cp_len_;
  ConstellationOrder constellation_;
  const dsp::QamTable* qam_ = nullptr;  // 16-, 64- and 256-QAM
  float gain_;
  float rf_hz_;
  dsp::Rotator osc_;
};

}  // namespace vatel::modulate
