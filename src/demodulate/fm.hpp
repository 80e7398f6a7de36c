#pragma once
// Quadrature FM discriminator: the phase step between consecutive samples
// (by the fast arctangent of z * conj(previous)), scaled, then the audio
// low-pass.
#include <span>

#include "core/buffer.hpp"
#include "core/types.hpp"
#include "dsp/biquad.hpp"

namespace vatel::demodulate {

// State of a phase-step discriminator; shared with the PM demodulator.
struct QuadratureDiscriminator {
  cf32 previous{1.0f, 0.0f};  // so the first step is the first sample's own phase
  float scale;
  dsp::AudioLowpass lowpass;

  QuadratureDiscriminator(float fs, float scale_, float audio_bw_hz)
      : scale(scale_), lowpass(fs, audio_bw_hz) {}
};

class FmQuadratureDemod {
 public:
  // The output is the phase step in radians per sample over max(dev_hz, 1);
  // a NaN dev_hz counts as 1.  The sample rate enters only the low-pass.
  FmQuadratureDemod(float fs, float dev_hz, float audio_bw_hz)
      : state_(fs, 1.0f / (dev_hz > 1.0f ? dev_hz : 1.0f), audio_bw_hz) {}

  // One audio sample per input sample.
  core::Buffer<float> process(std::span<const cf32> iq);

 private:
  QuadratureDiscriminator state_;
};

// Kernel (portable and FMA builds give identical bits).
void quadrature_discriminator_kernel(QuadratureDiscriminator& st, const cf32* iq, float* out, std::size_t n);
void quadrature_discriminator_kernel_portable(QuadratureDiscriminator& st, const cf32* iq, float* out,
                                              std::size_t n);
void quadrature_discriminator_kernel_fma(QuadratureDiscriminator& st, const cf32* iq, float* out,
                                         std::size_t n);

}  // namespace vatel::demodulate
