#pragma once
// CW envelope demodulator: the magnitude of each sample through a one-pole
// smoother, times the gain.  The tone frequency plays no part.
#include <span>

#include "core/buffer.hpp"
#include "core/types.hpp"
#include "dsp/one_pole.hpp"

namespace vatel::demodulate {

class CwEnvelopeDemod {
 public:
  // tone_hz is accepted for symmetry with the modulator and not kept;
  // env_bw_hz is floored at 1 Hz.
  CwEnvelopeDemod(float sample_rate, float tone_hz, float env_bw_hz)
      : coefficient_(dsp::OnePoleSmoother::from_bandwidth(env_bw_hz, sample_rate)) {
    (void)tone_hz;
  }

  // One value per input sample.
  core::Buffer<float> process(std::span<const cf32> iq);
  void set_gain(float g) { gain_ = g; }

 private:
  float coefficient_;
  dsp::OnePoleSmoother smoother_;
  float gain_ = 1.0f;
};

}  // namespace vatel::demodulate
