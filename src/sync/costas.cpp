#include "sync/costas.hpp"

#include "codec/ft8.hpp"

namespace vatel::sync {
namespace costas {
namespace {

constexpr tone_sync::Mode kMode = tone_sync::mode_of<codec::ft8::Traits>("ft8_sync");

}  // namespace

const tone_sync::Mode& ft8_mode() { return kMode; }

std::vector<Candidate> find_candidates(const Waterfall& w, std::size_t t_positions, std::size_t max_cand) {
  return tone_sync::find_candidates(kMode, w, t_positions, max_cand);
}

core::Result<std::vector<Ft8SyncResult>> ft8_sync(std::span<const cf32> iq, float fs, float base_hz, float max_hz,
                                                  std::int32_t t_min, std::int32_t t_max, std::size_t max_cand) {
  return tone_sync::run(kMode, iq, fs, base_hz, max_hz, t_min, t_max, max_cand);
}

}  // namespace costas
}  // namespace vatel::sync
