#pragma once
// Direct phase modulator: each sample's phase is kp * x, taken as is (no
// memory between samples but the carrier).
#include <span>

#include "core/buffer.hpp"
#include "core/types.hpp"
#include "dsp/rotator.hpp"

namespace vatel::modulate {

class PmDirectPhaseMod {
 public:
  PmDirectPhaseMod(float sample_rate, float kp_rad_per_unit, float rf_hz)
      : kp_(kp_rad_per_unit), carrier_(rf_hz, sample_rate) {}

  // One sample per audio sample.
  core::Buffer<cf32> process(std::span<const float> audio);
  void set_gain(float g) { gain_ = g; }
  void set_sensitivity(float kp) { kp_ = kp; }

 private:
  float kp_;  // radians per input unit
  dsp::Rotator carrier_;
  float gain_ = 1.0f;
};

// Kernel (portable and FMA builds give identical bits).
void pm_mod_kernel(dsp::Rotator& carrier, float kp, float gain, const float* audio, cf32* out, std::size_t n);
void pm_mod_kernel_portable(dsp::Rotator& carrier, float kp, float gain, const float* audio, cf32* out,
                            std::size_t n);
void pm_mod_kernel_fma(dsp::Rotator& carrier, float kp, float gain, const float* audio, cf32* out,
                       std::size_t n);

}  // namespace vatel::modulate
