#pragma once
// FM modulator.  The modulation phase is carried by a unit phasor that is
// advanced each sample by the step (cos, sin) of x * 2*pi*deviation/fs, so
// there is no phase angle to wrap; the result is mixed onto a carrier.
#include <span>

#include "core/buffer.hpp"
#include "core/types.hpp"
#include "dsp/rotator.hpp"

namespace vatel::modulate {

class FmPhaseAccumMod {
 public:
  FmPhaseAccumMod(float sample_rate, float deviation_hz, float rf_hz)
      : sample_rate_(sample_rate), deviation_hz_(deviation_hz), carrier_(rf_hz, sample_rate) {}

  // One sample per audio sample.
  core::Buffer<cf32> process(std::span<const float> audio);
  void set_gain(float g) { gain_ = g; }
  void set_deviation(float hz) { deviation_hz_ = hz; }

 private:
  // The modulation phasor: a Rotator whose step is set per sample, so it
  // advances and renormalises exactly like the carrier.
  dsp::Rotator phase_;
  float sample_rate_;
  float deviation_hz_;
  dsp::Rotator carrier_;
  float gain_ = 1.0f;
};

// Kernel; w is the phase step in radians per unit of input (portable and
// FMA builds give identical bits).
void fm_mod_kernel(dsp::Rotator& phase, dsp::Rotator& carrier, float w, float gain, const float* audio,
                   cf32* out, std::size_t n);
void fm_mod_kernel_portable(dsp::Rotator& phase, dsp::Rotator& carrier, float w, float gain,
                            const float* audio, cf32* out, std::size_t n);
void fm_mod_kernel_fma(dsp::Rotator& phase, dsp::Rotator& carrier, float w, float gain, const float* audio,
                       cf32* out, std::size_t n);

}  // namespace vatel::modulate
