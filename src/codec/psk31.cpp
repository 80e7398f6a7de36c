#include "codec/psk31.hpp"

namespace vatel::codec::psk31 {
namespace {

// Expected rotation index of the branch from state s with input 0; input 1
// gives the complement (index XOR 3).
constexpr std::array<std::uint8_t, kStates> kBranchIndex = [] {
  std::array<std::uint8_t, kStates> t{};
  for (unsigned s = 0; s < kStates; ++s) {
    const unsigned s0 = s & 1u, s1 = (s >> 1) & 1u, s2 = (s >> 2) & 1u;
    t[s] = static_cast<std::uint8_t>(2u * (s0 ^ s2) + (s0 ^ s1));
  }
  return t;
}();

}  // namespace

Metrics initial_metrics() {
  Metrics m;
  m.fill(kUnreached);
  m[0] = 0.0f;
  return m;
}

void add_compare_select(Metrics& metrics, float r_re, float r_im, SurvivorRow& row) {
  // The four branch metrics, one per rotation point.
  float dist[4];
  for (std::size_t i = 0; i < 4; ++i) {
    const float di = r_im - QPSK31_ROTATIONS[i].imag();
    const float dr = r_re - QPSK31_ROTATIONS[i].real();
    dist[i] = di * di + dr * dr;
  }
  Metrics next;
  next.fill(kUnreached);
  for (std::size_t j = 0; j < kStates; ++j) {
    const float m = metrics[j];
    if (!(m < kUnreached)) continue;
    for (unsigned x = 0; x < 2; ++x) {
      const std::size_t t = (j >> 1) | (x << 3);
      const float c = m + dist[kBranchIndex[j] ^ (x ? 3u : 0u)];
      if (next[t] > c) {
        next[t] = c;
        row[t] = static_cast<std::uint8_t>(j);
      }
    }
  }
  metrics = next;
}

std::size_t best_state(const Metrics& metrics) {
  std::size_t best = 0;
  for (std::size_t s = 1; s < kStates; ++s)
    if (metrics[s] < metrics[best]) best = s;
  return best;
}

std::vector<std::uint8_t> viterbi_decode(std::span<const float> soft) {
  const std::size_t n = soft.size() / 2;
  if (n == 0) return {};
  std::vector<SurvivorRow> rows(n, SurvivorRow{});
  Metrics metrics = initial_metrics();
  for (std::size_t i = 0; i < n; ++i) add_compare_select(metrics, soft[2 * i], soft[2 * i + 1], rows[i]);
  std::vector<std::uint8_t> bits(n);
  std::size_t state = best_state(metrics);
  for (std::size_t i = n; i-- > 0;) {
    bits[i] = static_cast<std::uint8_t>((state >> 3) & 1u);
    state = rows[i][state];
  }
  return bits;
}

std::optional<std::uint8_t> StreamingViterbi::feed_symbol(float re, float im) {
  add_compare_select(metrics_, re, im, ring_[ring_pos_]);
  if ((count_ & 0xFFu) == 0xFFu) {
    // Keep the metrics small: only their differences matter.
    float low = kUnreached;
    for (float m : metrics_)
      if (m < kUnreached && m < low) low = m;
    if (low > 0.0f && low < kUnreached)
      for (float& m : metrics_)
        if (m < kUnreached) m -= low;
  }
  const std::size_t old = ring_pos_;
  ring_pos_ = (ring_pos_ + 1) % kRingRows;
  ++count_;
  if (count_ <= kDelay) return std::nullopt;
  std::size_t state = best_state(metrics_);
  for (std::size_t r = 0; r < kDelay; ++r) state = ring_[(old + kRingRows - r) % kRingRows][state];
  return static_cast<std::uint8_t>((state >> 3) & 1u);
}

}  // namespace vatel::codec::psk31
