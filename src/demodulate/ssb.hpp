#pragma once
// SSB product detector: the input times the conjugate of a beat-frequency
// oscillator, real part kept, then the audio low-pass and a DC blocker.
#include <span>

#include "core/buffer.hpp"
#include "core/types.hpp"
#include "dsp/biquad.hpp"
#include "dsp/dc_blocker.hpp"
#include "dsp/rotator.hpp"

namespace vatel::demodulate {

class SsbProductDemod {
 public:
  SsbProductDemod(float fs, float bfo_hz, float audio_bw_hz)
      : bfo_(bfo_hz, fs), lowpass_(fs, audio_bw_hz), dc_(fs) {}

  // One audio sample per input sample.
  core::Buffer<float> process(std::span<const cf32> iq);

 private:
  dsp::Rotator bfo_;
  dsp::AudioLowpass lowpass_;
  dsp::DcBlocker dc_;
};

// Kernel (portable and FMA builds give identical bits).
void ssb_product_demod_kernel(dsp::Rotator& bfo, dsp::AudioLowpass& lowpass, dsp::DcBlocker& dc,
                              const cf32* iq, float* out, std::size_t n);
void ssb_product_demod_kernel_portable(dsp::Rotator& bfo, dsp::AudioLowpass& lowpass, dsp::DcBlocker& dc,
                                       const cf32* iq, float* out, std::size_t n);
void ssb_product_demod_kernel_fma(dsp::Rotator& bfo, dsp::AudioLowpass& lowpass, dsp::DcBlocker& dc,
                                  const cf32* iq, float* out, std::size_t n);

}  // namespace vatel::demodulate
