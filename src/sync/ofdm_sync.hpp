#pragma once
// The search for the OFDM burst preamble (waveform/ofdm_preamble.hpp): a
// receiver finds the burst by correlating adjacent repetitions, takes the
// fractional frequency offset from the phase of that correlation, and uses
// the training symbol for the integer offset and the channel estimate.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <utility>
#include <vector>

#include "core/buffer.hpp"
#include "core/types.hpp"
#include "multicarrier/config.hpp"
#include "multicarrier/fft.hpp"
#include "multicarrier/symbol_fft.hpp"
#include "waveform/ofdm_preamble.hpp"

namespace vatel::sync::ofdm_sync {

// The preamble the search looks for, as both ends of the link define it.
using waveform::ofdm_preamble::OfdmPreambleParams;

// One candidate preamble start.  The total frequency offset is
// cfo_hz + integer_cfo_bins * fs / training FFT size.
struct OfdmSyncResult {
  std::uint64_t start_sample = 0;  // first sample of the repeated segments
  float cfo_hz = 0.0f;             // fractional offset, from the repetitions' phase
  std::int32_t integer_cfo_bins = 0;  // 0 when not estimated
  float score = 0.0f;              // |P|^2 / E^2, at most 1
  friend bool operator==(const OfdmSyncResult&, const OfdmSyncResult&) = default;
};

// Scores every start d in [search_start, search_end) whose preamble span
// fits in iq (d + span <= iq.size()) by the correlation P of adjacent
// repetitions against the energy E of repetitions 1..R-1, and returns one
// result per position with E > 0, by descending (E / max E) * score (stable;
// NaN keys last).  With a training symbol, the first five also get their
// integer offset.  Unusable inputs (fs not above 0, repeat_len 0, fewer than
// two repeats, a span that overflows or exceeds the buffer) give no result.
std::vector<OfdmSyncResult> ofdm_sync(std::span<const cf32> iq, float fs,
                                      const OfdmPreambleParams& params, std::size_t search_start,
                                      std::size_t search_end);

// The correlation sums of `count` consecutive start positions: P (complex)
// and E of position d from re/im[d ..], for repeats of `len` samples.  Each
// position accumulates in sample order, pair by pair, so a batch of
// positions gives the same bits as one at a time.
void repeat_correlation_kernel(const float* re, const float* im, std::size_t count,
                               std::size_t repeats, std::size_t len, float* p_re, float* p_im,
                               float* e);
void repeat_correlation_kernel_portable(const float* re, const float* im, std::size_t count,
                                        std::size_t repeats, std::size_t len, float* p_re,
                                        float* p_im, float* e);
void repeat_correlation_kernel_fma(const float* re, const float* im, std::size_t count,
                                   std::size_t repeats, std::size_t len, float* p_re, float* p_im,
                                   float* e);

// The integer carrier offset of a training symbol of nt bins with a cp-sample
// prefix.  The training window is derotated by the fractional estimate and
// transformed; the offset is the circular shift that best matches the
// products of neighbouring bins, Y[k+1] conj Y[k], against those of the
// training sequence.  Those products do not depend on a timing error inside
// the prefix (it only turns each bin by a phase that grows linearly with the
// bin), nor on a channel that varies slowly across the bins.  The
// correlation over all shifts is one FFT pair, so a search costs a few
// transforms of nt points.
class IntegerCfoSearch {
 public:
  // nt must be at least 1.
  IntegerCfoSearch(std::size_t nt, std::size_t cp);

  // `symbol` holds nt + cp samples from the start of the prefix.  Returns
  // the best shift in -floor(nt/2) ..= floor(nt/2); among equal metrics the
  // most negative.
  std::int32_t estimate(std::span<const cf32> symbol, float cfo_hz, float fs);

 private:
  multicarrier::SymbolFft symbol_fft_;
  multicarrier::FftBlock fft_;
  multicarrier::AlignedSamples derotated_;
  multicarrier::AlignedSamples products_;
  multicarrier::AlignedSamples spectrum_;
  multicarrier::AlignedSamples reference_;  // FFT of the sequence's neighbour products
  std::size_t nt_;
};

}  // namespace vatel::sync::ofdm_sync
