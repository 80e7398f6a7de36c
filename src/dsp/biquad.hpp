#pragma once
// Second-order IIR section in transposed direct form II, and the audio
// low-pass of the analog modems: two identical sections in cascade.
#include <cmath>

#include "core/cpu.hpp"

namespace vatel::dsp {

struct Biquad {
  float b0 = 0.0f, b1 = 0.0f, b2 = 0.0f;  // feed-forward, a0 normalised to 1
  float a1 = 0.0f, a2 = 0.0f;             // feedback
  float s1 = 0.0f, s2 = 0.0f;             // state

  // RBJ cookbook low-pass, corner at 0.9 * audio_bw_hz, Q = 1/sqrt(2).
  // No argument is validated: a corner at or past fs/2, a zero bandwidth or
  // a zero rate give whatever the formulas give.
  static Biquad lowpass(float fs, float audio_bw_hz);

  VATEL_INLINE float next(float x) {
    const float y = std::fma(x, b0, s1);
    // s1 is computed from the s2 of before this sample.
    s1 = std::fma(x, b1, s2) - y * a1;
    s2 = x * b2 - y * a2;
    return y;
  }
};

// Fourth-order low-pass: two sections of the same design, each with its own
// state, the second fed with the output of the first.
struct AudioLowpass {
  Biquad first, second;

  AudioLowpass() = default;
  AudioLowpass(float fs, float audio_bw_hz)
      : first(Biquad::lowpass(fs, audio_bw_hz)), second(first) {}

  VATEL_INLINE float next(float x) { return second.next(first.next(x)); }
};

}  // namespace vatel::dsp
