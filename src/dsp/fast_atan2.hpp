#pragma once
// Polynomial two-argument arctangent, about 1.5e-3 rad from the exact value,
// continuous across the octant boundaries.
#include <cmath>

#include "core/cpu.hpp"

namespace vatel::dsp {

// atan on [0, 1]: (pi/4) r - r (r - 1) (0.2447 + 0.0663 r); P(0) = 0, P(1) = pi/4.
VATEL_INLINE float fast_atan_unit(float r) {
  return 0.7853982f * r - (r * (r - 1.0f)) * (0.2447f + 0.0663f * r);
}

// Angle of (x, y) in [-pi, pi].  The epsilon keeps 0/0 away; a NaN input
// takes the |y| <= |x| branch and gives NaN.  A negative zero counts as zero
// in the sign tests, so (-0.0, -1) gives +pi.
VATEL_INLINE float fast_atan2(float y, float x) {
  constexpr float kEps = 1.1920929e-7f;  // 2^-23
  const float ax = std::fabs(x), ay = std::fabs(y);
  float a;
  if (ay > ax) {
    a = 1.5707964f - fast_atan_unit(ax / (ay + kEps));
  } else {
    a = fast_atan_unit(ay / (ax + kEps));
  }
  if (x < 0.0f) a = 3.1415927f - a;
  if (y < 0.0f) a = -a;
  return a;
}

}  // namespace vatel::dsp
