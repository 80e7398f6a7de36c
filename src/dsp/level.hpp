#pragma once
// Bringing a received signal to a nominal level by a power of two.  A
// receiver whose thresholds are set for the transmitter's own scale (the
// equalisers' |H|^2 floor, noise floors) sees a weak station 60 dB down as
// no signal at all; scaling by a power of two moves only the exponents, so
// a signal already in range keeps every bit and any other keeps its
// mantissas.
#include <cstddef>
#include <span>

#include "core/types.hpp"

namespace vatel::dsp {

// The mean power |x|^2 of the samples, summed in single precision; 0 for
// none.
float mean_power(std::span<const cf32> x) noexcept;

// The power of two g whose square brings `power` nearest to `target_power`
// (nearest in the logarithm): g = 2^round(log2(target / power) / 2).  1 when
// either power is zero, negative or not finite, and when the ratio lies
// within a factor of 2 either side (so a signal at the nominal level is left
// exactly as it is).  The exponent is bounded so that g and the scaled
// signal stay finite and normal.
float power_of_two_gain(float power, float target_power) noexcept;

// x[i] * g in place.
void scale(std::span<cf32> x, float g) noexcept;

}  // namespace vatel::dsp
