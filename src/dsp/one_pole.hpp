#pragma once
// One-pole smoother y = (1 - a) x + a y.  The coefficient is passed per
// sample so that one smoothed value can follow two coefficients (the CW
// keyer's rise and fall).
#include "core/cpu.hpp"

namespace vatel::dsp {

struct OnePoleSmoother {
  float y = 0.0f;

  // exp(-2 pi max(bw_hz, 1) / fs); a NaN bandwidth counts as 1 Hz.
  static float from_bandwidth(float bw_hz, float fs);
  // exp(-1 / (max(ms, 0.1) * 0.001 * fs)); a NaN time constant counts as 0.1 ms.
  static float from_time_constant(float ms, float fs);

  VATEL_INLINE float next(float x, float a) {
    y = (1.0f - a) * x + a * y;
    return y;
  }
};

}  // namespace vatel::dsp
