#include "multicarrier/tx_lowpass.hpp"

#include <algorithm>
#include <cmath>

#include "core/checked.hpp"
#include "dsp/fir.hpp"

namespace vatel::multicarrier {

std::size_t tx_lowpass_designed_taps(std::size_t num_taps) noexcept {
  const std::size_t t = num_taps < 4 ? 3 : num_taps;
  return t | 1u;
}

std::size_t tx_lowpass_group_delay(std::size_t num_taps) noexcept {
  return (tx_lowpass_designed_taps(num_taps) - 1) / 2;
}

TxLowpass tx_lowpass_for_band(float occupied, std::size_t num_taps, float stopband_db) noexcept {
  const float u = occupied;
  const float n = static_cast<float>(tx_lowpass_designed_taps(num_taps));
  // Half the Kaiser transition width that N taps reach for this attenuation;
  // fmax keeps 21 dB for a NaN attenuation.
  const float w = ((std::fmax(stopband_db, 21.0f) - 8.0f) / (n * 14.36f)) * 0.5f;
  const float cutoff = (u + w <= 0.5f - w) ? u + w : (u + 0.5f) * 0.5f;
  return TxLowpass{cutoff, stopband_db, num_taps};
}

std::size_t tx_lowpass_suggested_taps(float occupied, float stopband_db) noexcept {
  const float a = std::fmax(stopband_db, 21.0f) - 8.0f;
  const float tw = std::fmax(0.5f - occupied, 0.0001f);
  const float taps = std::fmax(std::ceil(a / (14.36f * tw)), 3.0f);
  return core::saturating_u64(taps) | 1u;
}

bool tx_lowpass_fits_guard(std::size_t cp_len, std::size_t num_taps, std::size_t roll_off,
                           std::size_t backoff) noexcept {
  const std::size_t room = std::min(backoff, backoff > cp_len ? 0 : cp_len - backoff);
  std::size_t need;
  if (__builtin_add_overflow(roll_off, tx_lowpass_group_delay(num_taps), &need)) return false;
  return need <= room;
}

void TxLowpass::apply(std::span<cf32> buffer) const {
  if (buffer.empty()) return;
  dsp::FirLowpassIq fir(tx_lowpass_designed_taps(num_taps), cutoff, stopband_db);
  fir.filter_zero_phase(buffer);
}

}  // namespace vatel::multicarrier
