#pragma once
// The transmit low-pass: the spectral mask run across an assembled burst.
// It holds only the three settings; apply() designs the Kaiser-windowed sinc
// and filters the burst in place with the filter's delay removed, so the
// output lines up sample for sample with the input.
#include <cstddef>
#include <span>

#include "core/types.hpp"

namespace vatel::multicarrier {

struct TxLowpass {
  float cutoff = 0.0f;       // cycles per sample
  float stopband_db = 0.0f;  // sets the Kaiser shape
  std::size_t num_taps = 0;  // requested; the designed length is odd (below)

  // Filters `buffer` in place; the settings are not changed.
  void apply(std::span<cf32> buffer) const;

  friend bool operator==(const TxLowpass&, const TxLowpass&) = default;
};

// The designed tap count: 3 below 4 requested taps, otherwise the request
// with its lowest bit set.
std::size_t tx_lowpass_designed_taps(std::size_t num_taps) noexcept;
// The group delay M = (N - 1) / 2 of the designed filter.
std::size_t tx_lowpass_group_delay(std::size_t num_taps) noexcept;

}  // namespace vatel::multicarrier
