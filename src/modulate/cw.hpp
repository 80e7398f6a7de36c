#pragma once
// Keyed-carrier CW modulator: a keying signal limited to [0, 1] drives an
// envelope that rises and falls with separate one-pole time constants, on a
// tone at tone_hz.
#include <span>

#include "core/buffer.hpp"
#include "core/types.hpp"
#include "dsp/one_pole.hpp"
#include "dsp/rotator.hpp"

namespace vatel::modulate {

class CwKeyedMod {
 public:
  // rise_ms and fall_ms are floored at 0.1 ms.
  CwKeyedMod(float sample_rate, float tone_hz, float rise_ms, float fall_ms)
      : osc_(tone_hz, sample_rate),
        rise_(dsp::OnePoleSmoother::from_time_constant(rise_ms, sample_rate)),
        fall_(dsp::OnePoleSmoother::from_time_constant(fall_ms, sample_rate)) {}

  // One sample per keying sample.
  core::Buffer<cf32> process(std::span<const float> audio);
  void set_gain(float g) { gain_ = g; }

 private:
  dsp::Rotator osc_;
  dsp::OnePoleSmoother envelope_;
  float rise_, fall_;  // smoothing coefficients
  float gain_ = 1.0f;
};

// Kernel (portable and FMA builds give identical bits).
void cw_keyed_mod_kernel(dsp::Rotator& osc, dsp::OnePoleSmoother& envelope, float rise, float fall,
                         float gain, const float* keying, cf32* out, std::size_t n);
void cw_keyed_mod_kernel_portable(dsp::Rotator& osc, dsp::OnePoleSmoother& envelope, float rise, float fall,
                                  float gain, const float* keying, cf32* out, std::size_t n);
void cw_keyed_mod_kernel_fma(dsp::Rotator& osc, dsp::OnePoleSmoother& envelope, float rise, float fall,
                             float gain, const float* keying, cf32* out, std::size_t n);

}  // namespace vatel::modulate
