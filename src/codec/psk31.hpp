#pragma once
// QPSK31's rate-1/2, constraint-length-5 convolutional code (generators
// 1 + D^2 + D^4 and 1 + D^3 + D^4) and its 16-state Viterbi decoders, which
// work directly on the differential products of the demodulator with the
// squared distance to the four rotation points as branch metric.
#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "core/types.hpp"

namespace vatel::codec::psk31 {

// Phase rotation of a symbol, by dibit 2 * c0 + c1: none, -90 degrees,
// +90 degrees, reversal.
inline constexpr std::array<cf32, 4> QPSK31_ROTATIONS = {cf32{1.0f, 0.0f}, cf32{0.0f, -1.0f},
                                                        cf32{0.0f, 1.0f}, cf32{-1.0f, 0.0f}};

// Half the largest finite float: a state at or above it has not been reached.
inline constexpr float kUnreached = 1.7014117e38f;

inline constexpr std::size_t kStates = 16;

// The encoder step: the coded pair of input bit x from register s.
struct CodedPair {
  std::uint8_t c0, c1;
};
inline CodedPair encode_step(std::uint8_t& s, std::uint8_t x) {
  const CodedPair p{static_cast<std::uint8_t>((x ^ s ^ (s >> 2)) & 1u),
                    static_cast<std::uint8_t>((x ^ s ^ (s >> 1)) & 1u)};
  s = static_cast<std::uint8_t>((s >> 1) | ((x & 1u) << 3));
  return p;
}

using Metrics = std::array<float, kStates>;
using SurvivorRow = std::array<std::uint8_t, kStates>;

// The trellis with state 0 at 0 and the others unreached.
Metrics initial_metrics();

// One add-compare-select step for the received pair r: new metrics, and the
// survivors of the states that received a candidate written into `row`.
void add_compare_select(Metrics& metrics, float r_re, float r_im, SurvivorRow& row);

// The lowest-numbered state with the smallest metric.
std::size_t best_state(const Metrics& metrics);

// Batch decoding of interleaved (re, im) pairs with a full traceback from the
// best final state; a trailing odd value is ignored.  One bit per pair.
std::vector<std::uint8_t> viterbi_decode(std::span<const float> soft);

// The streaming decoder: one pair in, one decided bit out after a fixed
// delay of 32 pairs, in constant work per pair.
class StreamingViterbi {
 public:
  static constexpr std::size_t kRingRows = 128;
  static constexpr std::size_t kDelay = 32;

  StreamingViterbi() : metrics_(initial_metrics()) {}

  // The bit decided for the pair taken 32 pairs before this one, if any.
  std::optional<std::uint8_t> feed_symbol(float re, float im);

 private:
  std::array<SurvivorRow, kRingRows> ring_{};
  Metrics metrics_;
  std::size_t ring_pos_ = 0;
  std::uint64_t count_ = 0;
};

}  // namespace vatel::codec::psk31
