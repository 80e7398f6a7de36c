#pragma once
// First-order DC blocker, y = (x - x_prev) + R * y_prev, with its zero at DC
// and its pole R placed for a corner of about 2 Hz.
#include "core/cpu.hpp"

namespace vatel::dsp {

struct DcBlocker {
  float r = 0.0f;  // pole, in [0, 0.9999]
  float x_prev = 0.0f, y_prev = 0.0f;

  DcBlocker() = default;
  explicit DcBlocker(float fs);

  VATEL_INLINE float next(float x) {
    const float y = (x - x_prev) + r * y_prev;
    x_prev = x;
    y_prev = y;
    return y;
  }
};

}  // namespace vatel::dsp
