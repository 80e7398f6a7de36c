#pragma once
// Cuts the FFT window out of one received OFDM symbol and transforms it.
// The window starts `backoff` samples before the end of the cyclic prefix,
// which keeps it inside the prefix's protection when timing runs late.
#include <cstddef>
#include <span>

#include "core/types.hpp"
#include "multicarrier/fft.hpp"

namespace vatel::multicarrier {

class SymbolFft {
 public:
  SymbolFft(std::size_t n_fft, std::size_t cp_len);

  // The back-off must not exceed cp_len.
  void set_backoff(std::size_t backoff);
  std::size_t backoff() const noexcept { return backoff_; }

  // `symbol` starts at the first sample of its cyclic prefix and must hold
  // at least cp_len - backoff + n_fft samples.  The spectrum (bin 0 is DC)
  // is left in spectrum().
  void process(std::span<const cf32> symbol);
  std::span<const cf32> spectrum() const noexcept { return output_; }

  std::size_t n_fft() const noexcept { return n_fft_; }
  std::size_t cp_len() const noexcept { return cp_len_; }

 private:
  FftBlock fft_;
  AlignedSamples input_;
  AlignedSamples output_;
  std::size_t n_fft_;
  std::size_t cp_len_;
  std::size_t backoff_ = 0;
};

}  // namespace vatel::multicarrier
