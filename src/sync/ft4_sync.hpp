#pragma once
// FT4 synchronisation: candidates found by the four 4-symbol sync blocks of
// the transmission, each with soft bits for the 174 codeword bits.
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "core/result.hpp"
#include "core/types.hpp"
#include "sync/tone_sync.hpp"

namespace vatel::sync {
namespace ft4_sync {

// The FT4 search geometry: rows of 576 samples, bins of 20.833334 Hz.
const tone_sync::Mode& ft4_mode();

std::vector<Candidate> find_ft4_candidates(const Waterfall& w, std::size_t t_positions, std::size_t max_cand);

// As ft8_sync, for FT4.
core::Result<std::vector<Ft4SyncResult>> ft4_sync(std::span<const cf32> iq, float fs, float base_hz, float max_hz,
                                                  std::int32_t t_min, std::int32_t t_max, std::size_t max_cand);

}  // namespace ft4_sync
}  // namespace vatel::sync
