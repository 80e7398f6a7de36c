#pragma once
// Hard deciders: the exact inverses of the constellation mappers.  Values on
// a threshold take the lower position (strict comparison); NaN compares false
// everywhere and decides position 0.
#include <cstdint>

#include "core/cpu.hpp"
#include "core/types.hpp"
#include "modulate/constellation.hpp"

namespace vatel::demodulate {

VATEL_INLINE std::uint8_t bpsk_decide(cf32 p) { return p.real() < 0.0f ? 1 : 0; }

VATEL_INLINE void qpsk_decide(cf32 p, std::uint8_t* out) {
  out[0] = p.real() < 0.0f ? 1 : 0;
  out[1] = p.imag() < 0.0f ? 1 : 0;
}

// Ascending position of v among the thresholds: how many lie strictly below.
VATEL_INLINE unsigned qam_position(const modulate::QamTable& t, float v) {
  unsigned p = 0;
  for (unsigned k = 0; k + 1 < t.levels; ++k) p += (t.threshold[k] < v) ? 1u : 0u;
  return p;
}

// Writes 2m bits: m for the real part, then m for the imaginary part.
VATEL_INLINE void qam_decide(const modulate::QamTable& t, cf32 point, std::uint8_t* out) {
  const unsigned m = t.bits_per_axis;
  const unsigned pi = qam_position(t, point.real());
  const unsigned pq = qam_position(t, point.imag());
  const unsigned gi = pi ^ (pi >> 1), gq = pq ^ (pq >> 1);
  for (unsigned k = 0; k < m; ++k) out[k] = static_cast<std::uint8_t>((gi >> (m - 1 - k)) & 1u);
  for (unsigned k = 0; k < m; ++k) out[m + k] = static_cast<std::uint8_t>((gq >> (m - 1 - k)) & 1u);
}

}  // namespace vatel::demodulate
