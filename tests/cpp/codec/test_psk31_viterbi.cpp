#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <vector>

#include "codec/psk31.hpp"

namespace vatel::codec::psk31 {
namespace {

// The differential products a clean channel delivers for these bits.
std::vector<float> clean_pairs(const std::vector<std::uint8_t>& bits) {
  std::vector<float> soft;
  std::uint8_t s = 0;
  for (std::uint8_t x : bits) {
    const CodedPair c = encode_step(s, x);
    const cf32 r = QPSK31_ROTATIONS[2u * c.c0 + c.c1];
    soft.push_back(r.real());
    soft.push_back(r.imag());
  }
  return soft;
}

std::vector<std::uint8_t> random_bits(std::size_t n, std::uint32_t seed) {
  std::mt19937 rng(seed);
  std::vector<std::uint8_t> b(n);
  for (auto& x : b) x = rng() & 1u;
  return b;
}

TEST(Qpsk31Code, EncoderFollowsItsGenerators) {
  const auto x = random_bits(200, 1);
  std::uint8_t s = 0;
  for (std::size_t t = 0; t < x.size(); ++t) {
    const auto at = [&](std::size_t d) { return t >= d ? x[t - d] : 0; };
    const CodedPair c = encode_step(s, x[t]);
    EXPECT_EQ(c.c0, x[t] ^ at(2) ^ at(4)) << t;
    EXPECT_EQ(c.c1, x[t] ^ at(3) ^ at(4)) << t;
  }
}

TEST(Qpsk31Viterbi, BatchDecodesCleanAndNoisyPairs) {
  const auto bits = random_bits(3000, 2);
  EXPECT_EQ(viterbi_decode(clean_pairs(bits)), bits);

  std::mt19937 rng(3);
  std::normal_distribution<float> noise(0.0f, 0.45f);  // about 4 dB Es/N0
  auto soft = clean_pairs(bits);
  for (float& v : soft) v += noise(rng);
  const auto got = viterbi_decode(soft);
  std::size_t errors = 0;
  for (std::size_t i = 0; i < bits.size(); ++i) errors += got[i] != bits[i];
  EXPECT_LT(errors, 15u);
}

TEST(Qpsk31Viterbi, BatchEdgeCounts) {
  EXPECT_TRUE(viterbi_decode({}).empty());
  const float one[] = {1.0f};
  EXPECT_TRUE(viterbi_decode(one).empty());
  auto soft = clean_pairs({1, 0, 1});
  soft.push_back(0.5f);  // a trailing odd value is ignored
  EXPECT_EQ(viterbi_decode(soft), (std::vector<std::uint8_t>{1, 0, 1}));
}

TEST(Qpsk31Viterbi, TiesKeepTheLowerState) {
  Metrics m{};  // every state reached with metric 0
  SurvivorRow row{};
  add_compare_select(m, 0.0f, 0.0f, row);  // distance 1 to every point
  for (std::size_t t = 0; t < kStates; ++t) {
    EXPECT_EQ(row[t], 2 * (t & 7)) << t;
    EXPECT_EQ(m[t], 1.0f);
  }
  Metrics tie;
  tie.fill(3.0f);
  tie[5] = tie[9] = 1.0f;
  EXPECT_EQ(best_state(tie), 5u);
}

TEST(Qpsk31Viterbi, NanPairEmptiesTheTrellis) {
  auto soft = clean_pairs({1, 1, 0, 1});
  soft.insert(soft.end(), {NAN, 0.0f});
  const auto more = clean_pairs({1, 1, 1});
  soft.insert(soft.end(), more.begin(), more.end());
  const auto got = viterbi_decode(soft);
  ASSERT_EQ(got.size(), 8u);
  // Every state unreached from the NaN on: zeros there, the earlier bits
  // traced back from state 0 (whose path only follows the early symbols).
  for (std::size_t i = 4; i < 8; ++i) EXPECT_EQ(got[i], 0) << i;
}

TEST(Qpsk31Viterbi, StreamingRunsThirtyTwoBehind) {
  const auto bits = random_bits(40, 4);
  const auto soft = clean_pairs(bits);
  StreamingViterbi v;
  std::vector<std::uint8_t> out;
  for (std::size_t i = 0; i < bits.size(); ++i) {
    const auto bit = v.feed_symbol(soft[2 * i], soft[2 * i + 1]);
    EXPECT_EQ(bit.has_value(), i >= 32) << i;
    if (bit) out.push_back(*bit);
  }
  ASSERT_EQ(out.size(), 8u);
  for (std::size_t i = 0; i < 32; ++i)
    if (auto bit = v.feed_symbol(0.0f, 0.0f)) out.push_back(*bit);
  EXPECT_EQ(out, bits);
}

TEST(Qpsk31Viterbi, StreamingStaysExactOverLongNoisyRuns) {
  // Far beyond the renormalisation period: metrics must not grow until
  // their float resolution swallows the branch metrics.
  const auto bits = random_bits(200000, 5);
  auto soft = clean_pairs(bits);
  std::mt19937 rng(6);
  std::normal_distribution<float> noise(0.0f, 0.3f);
  for (float& s : soft) s += noise(rng);
  StreamingViterbi v;
  std::vector<std::uint8_t> out;
  for (std::size_t i = 0; i < bits.size(); ++i)
    if (auto bit = v.feed_symbol(soft[2 * i], soft[2 * i + 1])) out.push_back(*bit);
  std::size_t errors = 0;
  for (std::size_t i = 0; i < out.size(); ++i) errors += out[i] != bits[i];
  EXPECT_EQ(out.size(), bits.size() - 32);
  EXPECT_LT(errors, 20u);
  const auto batch = viterbi_decode(soft);
  std::size_t batch_errors = 0;
  for (std::size_t i = 0; i < bits.size(); ++i) batch_errors += batch[i] != bits[i];
  EXPECT_LT(batch_errors, 20u);
}

}  // namespace
}  // namespace vatel::codec::psk31
