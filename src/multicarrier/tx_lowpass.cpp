#include "multicarrier/tx_lowpass.hpp"

#include "dsp/fir.hpp"

namespace vatel::multicarrier {

std::size_t tx_lowpass_designed_taps(std::size_t num_taps) noexcept {
  const std::size_t t = num_taps < 4 ? 3 : num_taps;
  return t | 1u;
}

std::size_t tx_lowpass_group_delay(std::size_t num_taps) noexcept {
  return (num_taps < 4 ? 3 : num_taps) / 2;
}

void TxLowpass::apply(std::span<cf32> buffer) const {
  if (buffer.empty()) return;
  dsp::FirLowpassIq fir(tx_lowpass_designed_taps(num_taps), cutoff, stopband_db);
  fir.filter_zero_phase(buffer);
}

}  // namespace vatel::multicarrier
