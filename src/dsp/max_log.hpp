#pragma once
// The max-log soft values of one axis of a square constellation.
#include <cstddef>
#include <limits>

#include "core/cpu.hpp"

namespace vatel::dsp {

// The M soft values of axis value v over the 2^M levels (level[i] for the
// axis bits i, most significant bit first): for each bit the smallest
// squared distance to a level with that bit set minus the smallest to one
// with it clear, so a positive value favours 0.  Value b is written to
// out[b * stride].  The loops have fixed bounds so that they unroll and the
// minima become vector compares; a NaN distance leaves both minima at
// infinity, whose difference is NaN.
template <unsigned M>
VATEL_INLINE void max_log_axis(const float* level, float v, float* out, std::size_t stride = 1) {
  constexpr unsigned L = 1u << M;
  float d[L];
  for (unsigned i = 0; i < L; ++i) {
    const float e = v - level[i];
    d[i] = e * e;
  }
  for (unsigned b = 0; b < M; ++b) {
    const unsigned mask = 1u << (M - 1 - b);
    float set = std::numeric_limits<float>::infinity();
    float clear = set;
    for (unsigned i = 0; i < L; ++i) {
      if (i & mask)
        set = d[i] < set ? d[i] : set;
      else
        clear = d[i] < clear ? d[i] : clear;
    }
    out[b * stride] = set - clear;
  }
}

}  // namespace vatel::dsp
