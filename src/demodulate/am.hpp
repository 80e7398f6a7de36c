#pragma once
// AM envelope demodulator: instantaneous power (or a weighted |I| + |Q|
// magnitude estimate), the audio low-pass, a square root for the power path,
// then a DC blocker that removes the carrier's contribution.
#include <span>

#include "core/buffer.hpp"
#include "core/types.hpp"
#include "dsp/biquad.hpp"
#include "dsp/dc_blocker.hpp"

namespace vatel::demodulate {

class AmEnvelopeDemod {
 public:
  AmEnvelopeDemod(float fs, float audio_bw_hz, bool abs_approx = false)
      : abs_approx_(abs_approx), lowpass_(fs, audio_bw_hz), dc_(fs) {}

  // One audio sample per input sample.
  core::Buffer<float> process(std::span<const cf32> iq);

 private:
  bool abs_approx_;
  dsp::AudioLowpass lowpass_;
  dsp::DcBlocker dc_;
};

// Weights of the magnitude estimate, applied to |I| and |Q| as they stand.
inline constexpr float kAmAbsWeightI = 0.9482f;
inline constexpr float kAmAbsWeightQ = 0.392f;

// Kernel (portable and FMA builds give identical bits).
void am_envelope_demod_kernel(dsp::AudioLowpass& lowpass, dsp::DcBlocker& dc, bool abs_approx,
                              const cf32* iq, float* out, std::size_t n);
void am_envelope_demod_kernel_portable(dsp::AudioLowpass& lowpass, dsp::DcBlocker& dc, bool abs_approx,
                                       const cf32* iq, float* out, std::size_t n);
void am_envelope_demod_kernel_fma(dsp::AudioLowpass& lowpass, dsp::DcBlocker& dc, bool abs_approx,
                                  const cf32* iq, float* out, std::size_t n);

}  // namespace vatel::demodulate
