#include "dsp/dc_blocker.hpp"

#include "dsp/rotator.hpp"

namespace vatel::dsp {

DcBlocker::DcBlocker(float fs) {
  float v = ((-2.0f / fs) * kTwoPi) + 1.0f;  // 1 - 2*pi*2/fs
  // Clamped to [0, 0.9999] with the lower bound first; written as compares
  // so that a NaN (from a NaN rate) passes through both unchanged.
  v = v < 0.0f ? 0.0f : v;
  v = v > 0.9999f ? 0.9999f : v;
  r = v;
}

}  // namespace vatel::dsp
