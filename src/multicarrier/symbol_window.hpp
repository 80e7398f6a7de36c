#pragma once
// The raised-cosine taper of a transmitted symbol's edges: the first
// roll_off samples rise and the last roll_off fall in mirror image, which
// narrows the spectrum of the symbol boundaries.
#include <cstddef>
#include <span>
#include <vector>

#include "core/block.hpp"
#include "core/types.hpp"

namespace vatel::multicarrier {

class SymbolWindow {
 public:
  using Input = cf32;
  using Output = cf32;

  // `symbol_len` counts the cyclic prefix; roll_off 0 disables the taper.
  // A roll_off longer than the symbol is a violated invariant.
  SymbolWindow(std::size_t symbol_len, std::size_t roll_off);

  // Copies one symbol and tapers both ends; returns the symbol length, or 0
  // without writing when a slice is shorter.  A roll_off above half the
  // symbol scales the overlapping middle samples by both ramps.
  std::size_t process(std::span<const cf32> input, std::span<cf32> output) noexcept;

  const std::vector<float>& ramp() const noexcept { return ramp_; }
  std::size_t symbol_len() const noexcept { return symbol_len_; }
  std::size_t roll_off() const noexcept { return roll_off_; }

 private:
  std::vector<float> ramp_;
  std::size_t symbol_len_;
  std::size_t roll_off_;
};

static_assert(core::Block<SymbolWindow>);

}  // namespace vatel::multicarrier
