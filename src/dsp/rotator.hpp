#pragma once
// The recursive phasor oscillator: a unit phasor advanced by a fixed complex
// step per sample, renormalised to unit magnitude every 1024 samples.
// It is advanced before use, so sample m of a new Rotator is rotated by
// m + 1 steps.
#include <cmath>
#include <cstddef>
#include <cstdint>

#include "core/cpu.hpp"
#include "core/types.hpp"

namespace vatel::dsp {

// 2*pi as the nearest 32-bit float.
inline constexpr float kTwoPi = 6.2831855f;

struct Rotator {
  float re = 1.0f, im = 0.0f;            // phasor
  float step_re = 1.0f, step_im = 0.0f;  // rotation per sample
  std::uint32_t counter = 0;             // samples produced, modulo 2^32

  Rotator() = default;
  Rotator(float freq_hz, float fs) {
    const float theta = (freq_hz * kTwoPi) / fs;
    ::sincosf(theta, &step_im, &step_re);
  }

  cf32 phasor() const { return {re, im}; }

  // Back to the phasor 1 + 0j and counter 0, keeping the step.
  void restart() {
    re = 1.0f;
    im = 0.0f;
    counter = 0;
  }

  // Advances by one sample and returns the new phasor.
  VATEL_INLINE cf32 next() {
    advance();
    if ((++counter & 1023u) == 0) renormalise();
    return {re, im};
  }

  // The complex multiply of one step, without the renormalisation test.
  VATEL_INLINE void advance() {
    const float nre = std::fma(re, step_re, -(im * step_im));
    const float nim = std::fma(im, step_re, re * step_im);
    re = nre;
    im = nim;
  }

  VATEL_INLINE void renormalise() {
    const float q = std::sqrt(re * re + im * im);
    const float k = 1.0f / q;
    re = re * k;
    im = im * k;
  }

  // Calls fn(i, phasor) for i = 0 .. n-1, advancing first: the same phasors
  // as n calls of next(), with the renormalisation test out of the inner loop.
  template <class Fn>
  VATEL_INLINE void run(std::size_t n, Fn&& fn) {
    std::size_t i = 0;
    while (i < n) {
      const std::size_t to_renorm = 1024u - (counter & 1023u);
      const bool hits = (n - i) >= to_renorm;
      const std::size_t m = hits ? to_renorm : (n - i);
      const std::size_t plain = hits ? m - 1 : m;
      for (std::size_t k = 0; k < plain; ++k) {
        advance();
        fn(i + k, cf32{re, im});
      }
      if (hits) {
        advance();
        renormalise();
        fn(i + plain, cf32{re, im});
      }
      counter += static_cast<std::uint32_t>(m);
      i += m;
    }
  }
};

// Mixing of a sample onto the carrier: x * p, with the products fused as
// written.
VATEL_INLINE cf32 mix(cf32 x, cf32 p) {
  return {std::fma(x.real(), p.real(), -(x.imag() * p.imag())), std::fma(x.imag(), p.real(), x.real() * p.imag())};
}

// (x * p) * gain.
VATEL_INLINE cf32 mix(cf32 x, cf32 p, float gain) {
  const cf32 m = mix(x, p);
  return {m.real() * gain, m.imag() * gain};
}

// The mix of n samples by the oscillator: out[i] = (in[i] * p) * gain, the
// phasor p advanced before each sample, as mix() forms it.  `out` may be
// `in`.  A gain of exactly 1 leaves each product as it is.  The portable and
// FMA builds give the same bits.
void mix_kernel(Rotator& osc, const cf32* in, cf32* out, std::size_t n, float gain);
void mix_kernel_portable(Rotator& osc, const cf32* in, cf32* out, std::size_t n, float gain);
void mix_kernel_fma(Rotator& osc, const cf32* in, cf32* out, std::size_t n, float gain);

}  // namespace vatel::dsp
