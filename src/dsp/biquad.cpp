#include "dsp/biquad.hpp"

#include "dsp/rotator.hpp"

namespace vatel::dsp {

Biquad Biquad::lowpass(float fs, float audio_bw_hz) {
  const float w0 = ((audio_bw_hz * 0.9f) * kTwoPi) / fs;
  float sin_w0, cos_w0;
  ::sincosf(w0, &sin_w0, &cos_w0);
  const float alpha = sin_w0 / 1.4142135f;  // sin w0 / (2Q)
  const float inv = 1.0f / (1.0f + alpha);
  Biquad q;
  q.b0 = (0.5f * (1.0f - cos_w0)) * inv;
  q.b1 = (1.0f - cos_w0) * inv;
  q.b2 = q.b0;
  q.a1 = (-2.0f * cos_w0) * inv;
  q.a2 = (1.0f - alpha) * inv;
  return q;
}

}  // namespace vatel::dsp
