#pragma once
// FT8 synchronisation: candidates found by the three 7x7 Costas arrays of
// the transmission standing out of a tone-bank waterfall, each with soft
// bits for the 174 codeword bits.
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "core/result.hpp"
#include "core/types.hpp"
#include "sync/tone_sync.hpp"

namespace vatel::sync {
namespace costas {

// The FT8 search geometry: rows of 1920 samples, bins of 6.25 Hz.
const tone_sync::Mode& ft8_mode();

// The best max_cand positions over t_positions start rows of w, best first.
std::vector<Candidate> find_candidates(const Waterfall& w, std::size_t t_positions, std::size_t max_cand);

// Searches start symbols t_min .. t_max (counted from the start of iq; rows
// before the buffer are not searched) and tone-0 frequencies from base_hz up
// to max_hz.  Error value when the span needs an absurd waterfall;
// max_cand = 0 is a violated invariant once a position is scored.
core::Result<std::vector<Ft8SyncResult>> ft8_sync(std::span<const cf32> iq, float fs, float base_hz, float max_hz,
                                                  std::int32_t t_min, std::int32_t t_max, std::size_t max_cand);

}  // namespace costas
}  // namespace vatel::sync
