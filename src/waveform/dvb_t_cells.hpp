#pragma once
// The receiver's max-log soft values of DVB-T cells, on the per-axis level
// tables of the modulator (dvb_t_axis_levels).
#include <cstddef>
#include <span>
#include <vector>

#include "core/types.hpp"

namespace vatel::waveform::dvb_t {

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
