#pragma once
// Hard deciders: the exact inverses of the constellation mappers.  Values on
// a threshold take the lower position (strict comparison); NaN compares false
// everywhere and decides position 0.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "core/cpu.hpp"
#include "core/types.hpp"
#include "dsp/constellation.hpp"

namespace vatel::demodulate {

VATEL_INLINE std::uint8_t bpsk_decide(cf32 p) { return p.real() < 0.0f ? 1 : 0; }

VATEL_INLINE void qpsk_decide(cf32 p, std::uint8_t* out) {
  out[0] = p.real() < 0.0f ? 1 : 0;
  out[1] = p.imag() < 0.0f ? 1 : 0;
}

// Ascending position of v among the thresholds: how many lie strictly below.
template <unsigned M>
VATEL_INLINE unsigned qam_position(const dsp::QamTable& t, float v) {
  unsigned p = 0;
  for (unsigned k = 0; k + 1 < (1u << M); ++k) p += (t.threshold[k] < v) ? 1u : 0u;
  return p;
}

// Writes 2M bits: M for the real part, then M for the imaginary part.  The
// bits per axis are a template parameter so that the loops unroll.
template <unsigned M>
VATEL_INLINE void qam_decide(const dsp::QamTable& t, cf32 point, std::uint8_t* out) {
  const unsigned pi = qam_position<M>(t, point.real());
  const unsigned pq = qam_position<M>(t, point.imag());
  const unsigned gi = pi ^ (pi >> 1), gq = pq ^ (pq >> 1);
  for (unsigned k = 0; k < M; ++k) out[k] = static_cast<std::uint8_t>((gi >> (M - 1 - k)) & 1u);
  for (unsigned k = 0; k < M; ++k) out[M + k] = static_cast<std::uint8_t>((gq >> (M - 1 - k)) & 1u);
}

// The decisions of n points of the table's order, each scaled by gain
// first, 2M bits each: the same bits as qam_decide point by point.  A block
// of axis values is ranked in a loop of comparisons alone, which vectorises,
// and each position's M Gray-code bits are then copied from a table; the
// bit shifts of qam_decide, unrolled for 15 thresholds, cost 256-QAM more
// than the comparisons themselves.
template <unsigned M>
void qam_decide_points(const dsp::QamTable& t, const cf32* points, std::size_t n,
                       std::uint8_t* out, float gain = 1.0f) {
  constexpr unsigned kLevels = 1u << M;
  constexpr unsigned kThresholds = kLevels - 1;
  float thr[kThresholds];
  for (unsigned k = 0; k < kThresholds; ++k) thr[k] = t.threshold[k];
  std::uint8_t gray[kLevels][M];
  for (unsigned p = 0; p < kLevels; ++p)
    for (unsigned b = 0; b < M; ++b)
      gray[p][b] = static_cast<std::uint8_t>(((p ^ (p >> 1)) >> (M - 1 - b)) & 1u);
  constexpr std::size_t kBlock = 256;
  std::uint32_t position[kBlock];
  const float* v = reinterpret_cast<const float*>(points);
  const std::size_t total = 2 * n;
  for (std::size_t j0 = 0; j0 < total; j0 += kBlock) {
    const std::size_t m = std::min(kBlock, total - j0);
    for (std::size_t j = 0; j < m; ++j) {
      const float x = v[j0 + j] * gain;
      std::uint32_t p = 0;
      for (unsigned k = 0; k < kThresholds; ++k) p += (thr[k] < x) ? 1u : 0u;
      position[j] = p;
    }
    for (std::size_t j = 0; j < m; ++j) std::memcpy(out + M * (j0 + j), gray[position[j]], M);
  }
}

inline void qam_decide(const dsp::QamTable& t, cf32 point, std::uint8_t* out) {
  switch (t.bits_per_axis) {
    case 2: return qam_decide<2>(t, point, out);
    case 3: return qam_decide<3>(t, point, out);
    default: return qam_decide<4>(t, point, out);
  }
}

}  // namespace vatel::demodulate
