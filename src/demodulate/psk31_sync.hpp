#pragma once
// PSK31 carrier search: a waterfall of one step per symbol and one bin per
// 31.25 Hz, a noise floor from medians, runs of cells that stand out and are
// peaks across frequency, and BPSK31 soft bits of every run long enough,
// demodulated at the carrier measured inside the run's bin.  The search ends
// in the BPSK31 demodulator, so it lives beside the receivers.
#include <cstddef>
#include <span>
#include <vector>

#include "core/result.hpp"
#include "core/types.hpp"

namespace vatel::demodulate::psk31_sync {

struct Psk31SyncResult {
  std::vector<float> soft_bits;  // from the run's start, at most n_bits
  std::size_t time_sym = 0;      // the run starts at sample time_sym * sps
  std::size_t freq_bin = 0;
  float carrier_hz = 0.0f;       // measured; within 46.875 Hz of base_hz + freq_bin * 31.25
  float score = 0.0f;            // mean log power over the run's cells
};

// Waterfall cells the search may allocate; a wider span is refused.
inline constexpr std::size_t kMaxCells = std::size_t{1} << 27;

// The median of the values (NaN compares as neither less nor greater); the
// mean of the two middle values for an even count.  0 for no values.
float median_f32(std::vector<float> values);

// Symbols from a run's start that its carrier is measured over: a few
// hundredths of a hertz at the levels the search finds, at a bounded cost.
inline constexpr std::size_t kRefineSymbols = 32;

// The carrier of a PSK31 station whose run lies in the bin centred on
// centre_hz, from the first kRefineSymbols symbols of iq: the line that
// squaring the signal leaves at twice the carrier (squaring removes the
// phase reversals), the strongest such line in this bin or either bin
// beside it, since a station idling with reversals makes its runs in the
// bins beside its own.  Always within one and a half bins (46.875 Hz) of
// centre_hz; centre_hz itself when iq holds less than two symbols (16
// eighths of one), or when a sum of it is not finite.
float refine_carrier(std::span<const cf32> iq, float fs, float centre_hz);

// Demodulates the run starting at step time_sym in bin freq_bin into at most
// n_bits BPSK31 soft values, at the carrier refine_carrier measures from the
// run's start, and appends the candidate.
void record_candidate(std::vector<Psk31SyncResult>& out, std::size_t time_sym, std::size_t freq_bin,
                      std::span<const cf32> iq, std::size_t n_bits, float base_hz, float score, float fs);

// Candidates, best score first, at most max_cand.  Impossible geometry gives
// none; a span of more than kMaxCells waterfall cells is an error.
core::Result<std::vector<Psk31SyncResult>> psk31_sync(std::span<const cf32> iq, float fs, float base_hz,
                                                      float max_hz, std::size_t min_carrier_syms,
                                                      float peak_margin_db, std::size_t n_bits,
                                                      std::size_t max_cand);

}  // namespace vatel::demodulate::psk31_sync
