#include "dsp/one_pole.hpp"

#include <cmath>

#include "dsp/rotator.hpp"

namespace vatel::dsp {

// The floors are written as compares that pick the floor when the argument
// is NaN, so a NaN never reaches the coefficient (and the smoother's state).
float OnePoleSmoother::from_bandwidth(float bw_hz, float fs) {
  const float bw = bw_hz > 1.0f ? bw_hz : 1.0f;
  return ::expf((bw * -kTwoPi) / fs);
}

float OnePoleSmoother::from_time_constant(float ms, float fs) {
  const float t = ms > 0.1f ? ms : 0.1f;
  return ::expf(-1.0f / ((t * 0.001f) * fs));
}

}  // namespace vatel::dsp
