#pragma once
// Double-sideband AM modulator: (carrier level + index * audio) * gain on a
// carrier at rf_hz.  The envelope may go negative (a carrier phase reversal)
// unless the clamp to [-1, 1] is on.
#include <span>

#include "core/buffer.hpp"
#include "core/types.hpp"
#include "dsp/rotator.hpp"

namespace vatel::modulate {

class AmDsbMod {
 public:
  AmDsbMod(float fs, float rf_hz, float carrier_level, float modulation_index)
      : carrier_level_(carrier_level), modulation_index_(modulation_index), osc_(rf_hz, fs) {}

  // One sample per audio sample.
  core::Buffer<cf32> process(std::span<const float> audio);
  void set_gain(float g) { gain_ = g; }
  void set_clamp(bool on) { clamp_ = on; }

 private:
  float gain_ = 1.0f;
  float carrier_level_;
  float modulation_index_;
  dsp::Rotator osc_;
  bool clamp_ = false;
};

// Kernel (portable and FMA builds give identical bits).
void am_dsb_mod_kernel(dsp::Rotator& osc, const float* audio, cf32* out, std::size_t n,
                       float carrier_level, float modulation_index, float gain, bool clamp);
void am_dsb_mod_kernel_portable(dsp::Rotator& osc, const float* audio, cf32* out, std::size_t n,
                                float carrier_level, float modulation_index, float gain, bool clamp);
void am_dsb_mod_kernel_fma(dsp::Rotator& osc, const float* audio, cf32* out, std::size_t n,
                           float carrier_level, float modulation_index, float gain, bool clamp);

}  // namespace vatel::modulate
