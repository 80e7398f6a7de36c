#pragma once
// The residual carrier offset of a run of OFDM symbols, measured on their
// cyclic prefixes: each prefix repeats the last cp_len samples of its
// symbol, n_fft samples later, so the phase of the correlation between the
// two is n_fft times the phase turned per sample.  Summed over the training
// symbol and the header it is several times more precise than the estimate
// from the short preamble repetitions; it is unambiguous within half a
// carrier spacing, which the preamble's estimate leaves far behind.
#include <cstddef>
#include <span>

#include "core/types.hpp"

namespace vatel::sync {

// The phase in radians that the signal turns per sample over `count`
// symbols of n_fft + cp_len samples from symbols[0]; 0 when the symbols
// hold no energy or a non-finite sample.  The caller supplies count whole
// symbols.
float cyclic_prefix_phase_step(std::span<const cf32> symbols, std::size_t n_fft,
                               std::size_t cp_len, std::size_t count);

}  // namespace vatel::sync
