#pragma once
// What the FT8 and FT4 synchronisers share: candidate search over a
// waterfall with one row per channel symbol and one column per tone spacing,
// and the soft bits of a candidate.  Each mode supplies its geometry.
#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "codec/ldpc.hpp"
#include "core/result.hpp"
#include "core/types.hpp"
#include "sync/waterfall.hpp"

namespace vatel::sync {

// A scored position: the bin of tone 0 and the start row.
struct Candidate {
  std::size_t freq_bin = 0;
  std::int32_t time = 0;
  float score = 0.0f;
};

// One returned candidate (FT8 and FT4 alike).  A binding shows it as a dict
// with the keys "time_sym", "freq_bin", "score" and "llr", in that order.
struct Ft4SyncResult {
  std::size_t freq_bin = 0;
  std::array<float, codec::ldpc::kN> llr{};
  std::int32_t time_sym = 0;  // channel symbol 0 begins at sample time_sym * hop
  float score = 0.0f;
};
using Ft8SyncResult = Ft4SyncResult;

namespace tone_sync {

struct SyncCell {
  std::uint8_t row;   // offset from the start row
  std::uint8_t tone;  // offset from the start bin
};

struct Mode {
  const char* name;  // function name for error texts
  std::size_t hop;
  float spacing;
  std::size_t tones;
  std::size_t bits_per_tone;
  std::size_t extra_bins;
  std::size_t rows_beyond;
  std::span<const SyncCell> sync;
  std::span<const std::uint8_t> data_rows;
  const std::uint8_t* gray;
};

// The sync cells of mode M (see codec/tone_code.hpp), block by block in the
// order of the blocks; a score sums its cells in this order.
template <class M>
inline constexpr auto kSyncCells = [] {
  constexpr std::size_t per_block = M::kSync[0].size();
  std::array<SyncCell, M::kSyncStarts.size() * per_block> c{};
  for (std::size_t b = 0; b < M::kSyncStarts.size(); ++b)
    for (std::size_t j = 0; j < per_block; ++j)
      c[per_block * b + j] = {static_cast<std::uint8_t>(M::kSyncStarts[b] + j), M::kSync[b][j]};
  return c;
}();

// The search geometry of mode M: rows of one symbol, bins of one tone
// spacing; `name` starts the error texts.
template <class M>
constexpr Mode mode_of(const char* name) {
  return {
      name,
      M::kSamplesPerSymbol,
      M::kSpacing,
      M::kTones,
      M::kBitsPerTone,
      M::kTones + 1,  // one bin beyond the tones of the highest start bin
      M::kSymbols,    // a start row at the end of the span still has all its symbols
      kSyncCells<M>,
      M::kDataPositions,
      M::kGray.data(),
  };
}

// Waterfall cells a search may allocate (4 bytes each).  Far beyond any
// real search (a minute of FT8 over 24 kHz is under 2 million cells); a span
// larger than this is refused rather than risk running out of memory.
inline constexpr std::size_t kMaxCells = std::size_t{1} << 27;

// The best max_cand positions of t_positions start rows, best first, equal
// scores in scan order.  max_cand = 0 is a violated invariant, found at the
// first scored position.
std::vector<Candidate> find_candidates(const Mode& mode, const Waterfall& w, std::size_t t_positions,
                                       std::size_t max_cand);

// Soft bits of a candidate, normalised to a mean square of 24.
std::array<float, codec::ldpc::kN> soft_bits(const Mode& mode, const Waterfall& w, const Candidate& c);

core::Result<std::vector<Ft4SyncResult>> run(const Mode& mode, std::span<const cf32> iq, float fs, float base_hz,
                                             float max_hz, std::int32_t t_min, std::int32_t t_max,
                                             std::size_t max_cand);

}  // namespace tone_sync
}  // namespace vatel::sync
