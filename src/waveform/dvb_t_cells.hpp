#pragma once
// The DVB-T cell constellations (EN 300 744 clause 4.3.5, non-hierarchical):
// per-axis amplitude levels indexed by the axis bits read most significant
// first, scaled to unit average power, and the receiver's max-log soft
// values of a cell.
#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "core/types.hpp"

namespace vatel::waveform::dvb_t {

// Index 0 is the largest positive level (the DVB-T tables, not the Gray
// tables of the general QAM mapper).
inline constexpr std::array<std::int8_t, 2> kQpskLevels = {1, -1};
inline constexpr std::array<std::int8_t, 4> kQam16Levels = {3, 1, -3, -1};
inline constexpr std::array<std::int8_t, 8> kQam64Levels = {7, 5, 1, 3, -7, -5, -1, -3};

// The levels of one axis for 2, 4 or 6 bits per cell; empty otherwise.
std::span<const std::int8_t> axis_levels(std::size_t bits_per_cell) noexcept;
// 1/sqrt(2(M - 1)/3) for M = 2^bits points, rounded once to 32 bits; 0 for
// an unknown bit count.
float axis_scale(std::size_t bits_per_cell) noexcept;

// The soft values of one cell, positive favouring bit 0, in the order the
// modulator read the bits (I bit 0, Q bit 0, I bit 1, ...): per axis bit,
// the smallest squared distance to a level whose index has the bit set minus
// the smallest to one whose index has it clear.  Nothing for a bit count
// other than 2, 4 or 6.
std::vector<float> dvb_t_soft_llr(std::size_t bits_per_cell, cf32 cell);

// The same for a run of cells into llr[0 .. cells.size() * bits_per_cell),
// without allocating; bits_per_cell must be 2, 4 or 6.
void dvb_t_soft_llr_cells(std::size_t bits_per_cell, std::span<const cf32> cells, float* llr);

}  // namespace vatel::waveform::dvb_t
