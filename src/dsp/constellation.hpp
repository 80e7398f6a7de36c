#pragma once
// Constellation mappers: bits (one per byte, least significant bit used) to
// points of unit average power, Gray-coded per axis.
#include <array>
#include <cmath>
#include <cstddef>
#include <cstdint>

#include "core/cpu.hpp"
#include "core/types.hpp"

namespace vatel::dsp {

// 1/sqrt(2) as the nearest 32-bit float: the QPSK component magnitude.
inline constexpr float kQpskC = 0.70710677f;

// Per-axis levels and decision thresholds of a square QAM.
struct QamTable {
  unsigned order = 0;        // 16, 64 or 256
  unsigned bits_per_axis = 0;  // m
  unsigned levels = 0;       // L = 2^m
  float scale = 0.0f;        // s = 1 / sqrt(E)
  std::array<float, 16> level{};      // indexed by the axis bit pattern
  std::array<float, 15> threshold{};  // ascending, L - 1 entries
};

// The table of order 16, 64 or 256 (built on first use); nullptr otherwise.
const QamTable* qam_table(unsigned order) noexcept;

// Lookups rather than conditionals: random bits would defeat a branch
// predictor in the modulators' loops.
inline constexpr float kBpskLevel[2] = {1.0f, -1.0f};
inline constexpr float kQpskLevel[2] = {kQpskC, -kQpskC};

VATEL_INLINE cf32 bpsk_map(std::uint8_t bit) { return {kBpskLevel[bit & 1u], 0.0f}; }

VATEL_INLINE cf32 qpsk_map(std::uint8_t b0, std::uint8_t b1) {
  return {kQpskLevel[b0 & 1u], kQpskLevel[b1 & 1u]};
}

// Maps 2m bits: the first m (most significant first) select the I level,
// the next m the Q level.
VATEL_INLINE cf32 qam_map(const QamTable& t, const std::uint8_t* bits) {
  unsigned bi = 0, bq = 0;
  const unsigned m = t.bits_per_axis;
  for (unsigned k = 0; k < m; ++k) bi = (bi << 1) | (bits[k] & 1u);
  for (unsigned k = 0; k < m; ++k) bq = (bq << 1) | (bits[m + k] & 1u);
  return {t.level[bi], t.level[bq]};
}

}  // namespace vatel::dsp
