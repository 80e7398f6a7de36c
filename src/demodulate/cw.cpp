#include "demodulate/cw.hpp"

#include <cmath>

namespace vatel::demodulate {

core::Buffer<float> CwEnvelopeDemod::process(std::span<const cf32> iq) {
  core::Buffer<float> out(iq.size());
  // Local copies so the smoothed value stays in a register across the loop.
  dsp::OnePoleSmoother s = smoother_;
  const float a = coefficient_, gain = gain_;
  for (std::size_t i = 0; i < iq.size(); ++i) {
    const float re = iq[i].real(), im = iq[i].imag();
    const float m = std::sqrt(re * re + im * im);
    out[i] = gain * s.next(m, a);
  }
  smoother_ = s;
  return out;
}

}  // namespace vatel::demodulate
