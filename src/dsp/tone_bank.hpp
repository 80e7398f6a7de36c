#pragma once
// A bank of Lanes single-bin correlators side by side: lane k multiplies the
// samples by its own phasor, starting at 1 + 0j and stepping by
// (step_re[k], step_im[k]) per sample, and sums them.  Running the lanes
// together hides the latency of one complex multiply behind the others.
// The body of the FT8/FT4 tone demodulator and the waterfall kernels; it is
// always inlined, so each of their builds (portable, FMA) has its own copy.
#include <cmath>
#include <cstddef>

#include "core/cpu.hpp"
#include "core/types.hpp"

namespace vatel::dsp {

// power[k] = |sum over i < n of x[i] p_k^i|^2, the phasor recurrence and the
// sums in explicit fused multiply-adds.
template <std::size_t Lanes>
VATEL_INLINE void tone_bank_powers(const cf32* x, std::size_t n, const float* step_re, const float* step_im,
                                   float* power) {
  float pr[Lanes], pi[Lanes], ar[Lanes], ai[Lanes], wr[Lanes], wi[Lanes];
  for (std::size_t k = 0; k < Lanes; ++k) {
    pr[k] = 1.0f;
    pi[k] = 0.0f;
    ar[k] = 0.0f;
    ai[k] = 0.0f;
    wr[k] = step_re[k];
    wi[k] = step_im[k];
  }
  for (std::size_t i = 0; i < n; ++i) {
    const float xr = x[i].real(), xi = x[i].imag();
    for (std::size_t k = 0; k < Lanes; ++k) {
      ar[k] = std::fma(xr, pr[k], ar[k]);
      ar[k] = std::fma(-xi, pi[k], ar[k]);
      ai[k] = std::fma(xr, pi[k], ai[k]);
      ai[k] = std::fma(xi, pr[k], ai[k]);
      const float nr = std::fma(pr[k], wr[k], -(pi[k] * wi[k]));
      const float ni = std::fma(pi[k], wr[k], pr[k] * wi[k]);
      pr[k] = nr;
      pi[k] = ni;
    }
  }
  for (std::size_t k = 0; k < Lanes; ++k) power[k] = ar[k] * ar[k] + ai[k] * ai[k];
}

}  // namespace vatel::dsp
