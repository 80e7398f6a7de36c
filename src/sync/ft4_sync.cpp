#include "sync/ft4_sync.hpp"

#include "codec/ft4.hpp"

namespace vatel::sync {
namespace ft4_sync {
namespace {

constexpr std::array<tone_sync::SyncCell, 16> kCells = [] {
  std::array<tone_sync::SyncCell, 16> c{};
  for (std::size_t b = 0; b < 4; ++b)
    for (std::size_t j = 0; j < 4; ++j)
      c[4 * b + j] = {static_cast<std::uint8_t>(codec::ft4::kSyncStarts[b] + j), codec::ft4::kSync[b][j]};
  return c;
}();

constexpr tone_sync::Mode kMode{
    "ft4_sync",
    576,
    20.833334f,
    codec::ft4::kTones,
    codec::ft4::kBitsPerTone,
    5,    // one bin beyond the four tones of the highest start bin
    105,  // a start row at the end of the span still has its 105 symbols
    kCells,
    codec::ft4::kDataPositions,
    codec::ft4::kGray.data(),
};

}  // namespace

const tone_sync::Mode& ft4_mode() { return kMode; }

std::vector<Candidate> find_ft4_candidates(const Waterfall& w, std::size_t t_positions, std::size_t max_cand) {
  return tone_sync::find_candidates(kMode, w, t_positions, max_cand);
}

core::Result<std::vector<Ft4SyncResult>> ft4_sync(std::span<const cf32> iq, float fs, float base_hz, float max_hz,
                                                  std::int32_t t_min, std::int32_t t_max, std::size_t max_cand) {
  return tone_sync::run(ft4_mode(), iq, fs, base_hz, max_hz, t_min, t_max, max_cand);
}

}  // namespace ft4_sync
}  // namespace vatel::sync
