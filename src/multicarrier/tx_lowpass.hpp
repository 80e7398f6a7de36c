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

// The sizing rules against an occupied band of `occupied` cycles per sample
// (the highest used carrier over n_fft), all in 32-bit floats.
//
// The mask for num_taps: its cutoff half the Kaiser transition width that the
// designed length reaches above the band edge, or halfway between the edge
// and fs/2 when that width does not fit below fs/2.
TxLowpass tx_lowpass_for_band(float occupied, std::size_t num_taps, float stopband_db) noexcept;
// The Kaiser estimate (A - 8) / (14.36 df) of the taps that reach A dB over
// the transition from the band edge to fs/2, at least 3 and odd.
std::size_t tx_lowpass_suggested_taps(float occupied, float stopband_db) noexcept;
// Whether the symbol taper and the filter delay both fit on each side of a
// receive window backed off by `backoff` samples into a cp_len prefix; the
// sum is compared without wrapping, so an absurd roll_off never fits.
bool tx_lowpass_fits_guard(std::size_t cp_len, std::size_t num_taps, std::size_t roll_off,
                           std::size_t backoff) noexcept;

}  // namespace vatel::multicarrier
