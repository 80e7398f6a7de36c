#pragma once
// The section demodulation of the COFDM frame receivers: a run of symbols
// of one constellation from samples to weighted soft values, with the
// equaliser and the common-phase tracker as the phase plan says.
#include <cstddef>
#include <optional>
#include <span>
#include <vector>

#include "core/types.hpp"
#include "demodulate/ofdm_frame.hpp"
#include "multicarrier/config.hpp"
#include "multicarrier/equalizer.hpp"
#include "multicarrier/grid.hpp"

namespace vatel::demodulate::ofdm_frame::section {

// How a section's phase is treated after equalisation.
struct PhasePlan {
  bool equalise = false;
  // Start of the tracking loop (carried from the header for the payload).
  float theta = 0.0f;
  float omega = 0.0f;
  // A section too short to track: the header's line extended over it,
  // from symbol index `offset` of the header's count.
  std::optional<PhaseLine> extend;
  float offset = 0.0f;
};

// The pieces that demodulate a section of the configuration's plan, made
// once and kept while the plan stays the same.
void prepare(const OfdmConfig& cfg, FrameScratch::Work& w);

// The points of the hard decisions (1 for a value <= 0) of `n` cells' soft
// values, by the constellation's mapper.
void decided_points(ConstellationOrder c, const float* llr, std::size_t n, cf32* out);

// |H_k|^2 of each data cell, from the training weights W_k = 1 / H_k (0
// where the equaliser found no channel).
void channel_power(const multicarrier::OfdmEqualizer& eq, const multicarrier::GridExtract& grid,
                   FrameScratch::Work& w);

// Demodulates `count` symbols of constellation c from `samples` into soft
// values; the cells as demapped are appended to `cells_out` when given.
// False when the samples end early.  Returns the tracked line in `line`.
bool demodulate_section(const OfdmConfig& cfg, ConstellationOrder c, std::span<const cf32> samples,
                        std::size_t count, const PhasePlan& phase, std::vector<float>& soft,
                        std::vector<cf32>* cells_out, std::optional<PhaseLine>* line,
                        FrameScratch::Work& w);

// Bounds soft values for the sum-product LDPC decoder, so that its checks
// can still overturn every one.
void bound_for_sum_product(std::span<float> soft);

// x * e^(-j a) with c = cos a, s = sin a.
inline cf32 rotate(cf32 x, float c, float s) {
  return {x.real() * c + x.imag() * s, x.imag() * c - x.real() * s};
}

}  // namespace vatel::demodulate::ofdm_frame::section
