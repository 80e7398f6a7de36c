#pragma once
// Square 16/64/256-QAM modulator: groups of 2m bits to Gray-coded points of
// unit average power, one complex sample per symbol, mixed onto a carrier.
#include <cstdint>
#include <span>

#include "core/buffer.hpp"
#include "core/result.hpp"
#include "core/types.hpp"
#include "dsp/rotator.hpp"
#include "dsp/constellation.hpp"

namespace vatel::modulate {

class QamMod {
 public:
  // order 16, 64 or 256; anything else is an error value.
  static core::Result<QamMod> create(std::uint32_t order, float fs, float rf_hz, float gain);

  // floor(n / 2m) samples; the tail of n mod 2m bytes is dropped, not kept.
  core::Buffer<cf32> process(std::span<const std::uint8_t> bits);
  void set_gain(float g) { gain_ = g; }

  unsigned order() const { return table_.order; }

 private:
  QamMod(const dsp::QamTable& table, float fs, float rf_hz, float gain)
      : table_(table), gain_(gain), osc_(rf_hz, fs) {}

  dsp::QamTable table_;
  float gain_;
  dsp::Rotator osc_;
};

// Kernels: n symbols from n * 2m bytes (portable and FMA builds give identical bits).
void qam_mod_kernel(dsp::Rotator& osc, const dsp::QamTable& t, const std::uint8_t* bits, cf32* out,
                    std::size_t n, float gain);
void qam_mod_kernel_portable(dsp::Rotator& osc, const dsp::QamTable& t, const std::uint8_t* bits, cf32* out,
                             std::size_t n, float gain);
void qam_mod_kernel_fma(dsp::Rotator& osc, const dsp::QamTable& t, const std::uint8_t* bits, cf32* out,
                        std::size_t n, float gain);

}  // namespace vatel::modulate
