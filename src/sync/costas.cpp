#include "sync/costas.hpp"

#include "codec/ft8.hpp"

namespace vatel::sync {
namespace costas {
namespace {

constexpr std::array<tone_sync::SyncCell, 21> kCells = [] {
  std::array<tone_sync::SyncCell, 21> c{};
  for (std::size_t b = 0; b < 3; ++b)
    for (std::size_t j = 0; j < 7; ++j)
      c[7 * b + j] = {static_cast<std::uint8_t>(codec::ft8::kSyncStarts[b] + j), codec::ft8::kCostas[j]};
  return c;
}();

constexpr tone_sync::Mode kMode{
    "ft8_sync",
    1920,
    6.25f,
    codec::ft8::kTones,
    codec::ft8::kBitsPerTone,
    9,   // one bin beyond the eight tones of the highest start bin
    79,  // a start row at the end of the span still has its 79 symbols
    kCells,
    codec::ft8::kDataPositions,
    codec::ft8::kGray.data(),
};

}  // namespace

const tone_sync::Mode& ft8_mode() { return kMode; }

std::vector<Candidate> find_candidates(const Waterfall& w, std::size_t t_positions, std::size_t max_cand) {
  return tone_sync::find_candidates(kMode, w, t_positions, max_cand);
}

core::Result<std::vector<Ft8SyncResult>> ft8_sync(std::span<const cf32> iq, float fs, float base_hz, float max_hz,
                                                  std::int32_t t_min, std::int32_t t_max, std::size_t max_cand) {
  return tone_sync::run(ft8_mode(), iq, fs, base_hz, max_hz, t_min, t_max, max_cand);
}

}  // namespace costas
}  // namespace vatel::sync
