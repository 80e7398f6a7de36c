#pragma once
// A linear-phase FIR low-pass over complex samples: Kaiser-windowed sinc
// taps (real), an odd tap count N and a group delay M = (N - 1) / 2.
#include <cstddef>
#include <span>
#include <vector>

#include "core/types.hpp"

namespace vatel::dsp {

// Kaiser's beta for a stopband attenuation in dB.
float kaiser_beta(float stopband_db) noexcept;
// I0(x), the zeroth-order modified Bessel function, by its power series
// (at most 40 terms, stopping when a term's square falls below 1e-12 of the
// sum).
float bessel_i0(float x) noexcept;

class FirLowpassIq {
 public:
  // N taps (odd, at least 1) with the cutoff in cycles per sample, clamped
  // to [0.0001, 0.4999]; normalised to unit gain at DC.
  FirLowpassIq(std::size_t num_taps, float cutoff, float stopband_db);

  const std::vector<float>& taps() const noexcept { return taps_; }
  std::size_t delay() const noexcept { return taps_.size() / 2; }

  // Filters `buffer` in place with the delay removed, the signal taken as
  // zero beyond both ends: buffer[m] = sum_j tap[j] x[m + M - j].
  void filter_zero_phase(std::span<cf32> buffer);

 private:
  // Pushes x as the newest sample and returns the filter's output.
  cf32 push(cf32 x) noexcept;

  std::vector<float> taps_;
  // The delay line, stored twice over so that the N newest samples are
  // always contiguous: line_[pos_ + j] is the sample pushed j steps ago.
  std::vector<cf32> line_;
  std::size_t pos_ = 0;
};

// The dot product of n real taps with n complex samples, accumulated in tap
// order with fused multiply-adds (portable and FMA builds give the same bits).
cf32 fir_dot(const float* taps, const cf32* d, std::size_t n) noexcept;
cf32 fir_dot_portable(const float* taps, const cf32* d, std::size_t n) noexcept;
cf32 fir_dot_fma(const float* taps, const cf32* d, std::size_t n) noexcept;

}  // namespace vatel::dsp
