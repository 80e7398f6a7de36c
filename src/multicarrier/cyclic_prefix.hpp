#pragma once
// Adding and removing the cyclic prefix of one OFDM symbol.
#include <cstddef>
#include <span>

#include "core/types.hpp"

namespace vatel::multicarrier::cyclic_prefix {

// out[0..cp_len) = time[n_fft-cp_len..n_fft), out[cp_len..cp_len+n_fft) =
// time[0..n_fft).  Writes nothing when `time` holds fewer than n_fft samples
// or `out` fewer than n_fft + cp_len.  A prefix longer than the symbol
// (cp_len > n_fft) is a violated invariant.
void add_cyclic_prefix(std::span<const cf32> time, std::size_t n_fft, std::size_t cp_len,
                       std::span<cf32> out);

// out[0..n_fft) = symbol[cp_len..cp_len+n_fft).  Writes nothing when `out`
// holds fewer than n_fft samples or the symbol fewer than cp_len + n_fft.
// The window always starts right after the prefix (no back-off).
void remove_cyclic_prefix(std::span<const cf32> symbol, std::size_t n_fft, std::size_t cp_len,
                          std::span<cf32> out) noexcept;

}  // namespace vatel::multicarrier::cyclic_prefix
