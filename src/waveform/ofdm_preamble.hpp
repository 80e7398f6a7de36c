#pragma once
// The OFDM burst preamble: a short band-limited segment repeated several
// times, optionally followed by one training symbol with its cyclic prefix.
// Transmitters send it and receivers search for it (sync/ofdm_sync.hpp).
#include <cstddef>
#include <optional>
#include <utility>

#include "core/buffer.hpp"
#include "core/types.hpp"
#include "multicarrier/config.hpp"
#include "multicarrier/unit_sequence.hpp"

namespace vatel::waveform::ofdm_preamble {

using multicarrier::kPreambleSeed;
using multicarrier::kTrainingSeed;
using multicarrier::pseudo_random_unit_sequence;

struct OfdmPreambleParams {
  // (training FFT size, training cyclic-prefix length); none: no training symbol.
  std::optional<std::pair<std::size_t, std::size_t>> with_training_symbol;
  std::size_t num_repeats = 0;
  std::size_t repeat_len = 0;
};

// The FFT bins of the repeated segment: for k = 1 ..= t that are multiples
// of `step`, bin k and then bin n_fft - k.
class BandLimitedRepeatBase {
 public:
  BandLimitedRepeatBase(std::size_t step, std::size_t t, std::size_t n_fft) noexcept
      : step_(step), t_(t), n_fft_(n_fft), k_(step) {}
  // The next bin, or nothing when the list is done.
  std::optional<std::size_t> next() noexcept;

 private:
  std::size_t step_, t_, n_fft_, k_;
  bool negative_ = false;
  bool done_ = false;
};
inline BandLimitedRepeatBase band_limited_repeat_base(std::size_t step, std::size_t t,
                                                      std::size_t n_fft) noexcept {
  return {step, t, n_fft};
}

// num_repeats * repeat_len samples of repeated segment, then the training
// symbol with its prefix when asked for, all scaled by the configuration's
// gain, at complex baseband.  A training prefix longer than its FFT is a
// violated invariant.
core::Buffer<cf32> generate_ofdm_preamble(const OfdmPreambleParams& params,
                                          const multicarrier::OfdmConfig& cfg);

}  // namespace vatel::waveform::ofdm_preamble
