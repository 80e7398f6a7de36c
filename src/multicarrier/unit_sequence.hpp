#pragma once
// The pseudo-random unit sequence that fills the preamble segment and the
// training symbol.  It lives on this floor because the transmitter's
// preamble, the preamble search and the training-symbol equaliser all
// regenerate it.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "core/types.hpp"

namespace vatel::multicarrier {

// Seeds of the sequence ("OFDMPRE1" and "OFDMTRN1").
inline constexpr std::uint64_t kPreambleSeed = 0x4F46444D50524531ull;
inline constexpr std::uint64_t kTrainingSeed = 0x4F46444D54524E31ull;

// `count` samples with components +-1/sqrt(2), drawn from a 64-bit xorshift
// (13, 7, 17) started at `seed`: two draws per sample, real part first.
std::vector<cf32> pseudo_random_unit_sequence(std::size_t count, std::uint64_t seed);

}  // namespace vatel::multicarrier
