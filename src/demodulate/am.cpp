#include "demodulate/am.hpp"

#include <cmath>

namespace vatel::demodulate {
namespace {

VATEL_INLINE void am_envelope_demod_kernel_body(dsp::AudioLowpass& lowpass, dsp::DcBlocker& dc,
                                                bool abs_approx, const cf32* iq, float* out,
                                                std::size_t n) {
  // Local copies keep the filter memories in registers across the loop.
  dsp::AudioLowpass lp = lowpass;
  dsp::DcBlocker blocker = dc;
  if (abs_approx) {
    for (std::size_t i = 0; i < n; ++i) {
      const float u =
          std::fma(kAmAbsWeightI, std::fabs(iq[i].real()), kAmAbsWeightQ * std::fabs(iq[i].imag()));
      out[i] = blocker.next(lp.next(u));
    }
  } else {
    for (std::size_t i = 0; i < n; ++i) {
      const float re = iq[i].real(), im = iq[i].imag();
      const float u = std::fma(re, re, im * im);
      const float w = lp.next(u);
    // The filtered power undershoots below zero after a sudden drop of the
      // input (about 7% of the step); the square root of that would be NaN
      // and the blocker's memory would keep it for good.  Floored at zero;
      // written so that a NaN becomes zero as well and -0.0 stays as it is.
      const float e = std::sqrt(!(w >= 0.0f) ? 0.0f : w);
      out[i] = blocker.next(e);
    }
  }
  lowpass = lp;
  dc = blocker;
}

}  // namespace

VATEL_FMA_KERNEL(void, am_envelope_demod_kernel,
                 (dsp::AudioLowpass & lowpass, dsp::DcBlocker& dc, bool abs_approx, const cf32* iq, float* out,
                  std::size_t n),
                 (lowpass, dc, abs_approx, iq, out, n))

core::Buffer<float> AmEnvelopeDemod::process(std::span<const cf32> iq) {
  core::Buffer<float> out(iq.size());
  am_envelope_demod_kernel(lowpass_, dc_, abs_approx_, iq.data(), out.data(), iq.size());
  return out;
}

}  // namespace vatel::demodulate
