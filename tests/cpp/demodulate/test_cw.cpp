#include "demodulate/cw.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "../dsp/stream_check.hpp"
#include "modulate/cw.hpp"

namespace vatel::demodulate {
namespace {

using test::same_bits;

TEST(CwEnvelopeDemod, MatchesFloat32Reference) {
  // env bandwidth 200 Hz at 48 kHz, gain 2; computed independently.
  const test::At<float> expected[] = {
      {0, 0x1.28aedcp-4f},
      {1, 0x1.e78822p-4f},
      {2, 0x1.58b9ccp-3f},
      {3, 0x1.b7b694p-3f},
      {4, 0x1.f3ee4p-3f},
      {5, 0x1.2d20cp-2f},
      {1021, 0x1.90606ap+0f},
      {1022, 0x1.8bd064p+0f},
      {1023, 0x1.86bfe6p+0f},
      {1024, 0x1.87bd56p+0f},
      {1025, 0x1.7eed66p+0f},
      {2046, 0x1.8179b6p+0f},
      {2047, 0x1.85627p+0f},
      {2048, 0x1.8b59d4p+0f},
      {2049, 0x1.8d668ap+0f},
      {2099, 0x1.96d9a2p+0f},
  };
  CwEnvelopeDemod d(48000.0f, 700.0f, 200.0f);
  d.set_gain(2.0f);
  auto y = d.process(test::test_iq(2100));
  for (const auto& e : expected) EXPECT_EQ(y[e.i], e.v) << e.i;
}

TEST(CwEnvelopeDemod, SettlesToGainTimesMagnitude) {
  CwEnvelopeDemod d(8000.0f, 600.0f, 100.0f);
  d.set_gain(0.5f);
  auto y = d.process(std::vector<cf32>(2000, cf32(3.0f, -4.0f)));
  EXPECT_NEAR(y[y.size() - 1], 2.5f, 1e-5f);
}

TEST(CwEnvelopeDemod, ToneIgnoredAndBandwidthFloored) {
  const auto z = test::test_iq(1000);
  CwEnvelopeDemod base(48000.0f, 700.0f, 1.0f);
  const auto y = base.process(z);
  for (float tone : {0.0f, 1500.0f, -3.0f}) {
    for (float bw : {1.0f, 0.5f, 0.0f, std::nanf("")}) {
      CwEnvelopeDemod d(48000.0f, tone, bw);
      EXPECT_TRUE(same_bits(d.process(z), y)) << tone << " " << bw;
    }
  }
}

TEST(CwEnvelopeDemod, RecoversKeying) {
  // 10 ms elements at 8 kHz: key, key, gap, key, gap, gap, key.
  const int element = 80;
  const int pattern[] = {1, 1, 0, 1, 0, 0, 1, 0};
  std::vector<float> key;
  for (int k : pattern) key.insert(key.end(), element, static_cast<float>(k));
  modulate::CwKeyedMod mod(8000.0f, 700.0f, 1.0f, 1.0f);
  CwEnvelopeDemod demod(8000.0f, 700.0f, 400.0f);
  auto y = demod.process(mod.process(key).span());
  for (std::size_t e = 0; e < std::size(pattern); ++e) {
    const float mid = y[e * element + element * 3 / 4];  // well after each edge
    EXPECT_EQ(mid > 0.5f, pattern[e] == 1) << e << " " << mid;
  }
}

TEST(CwEnvelopeDemod, BlockSplit) {
  const auto z = test::test_iq(3000);
  CwEnvelopeDemod whole(48000.0f, 700.0f, 150.0f), pieced(48000.0f, 700.0f, 150.0f);
  whole.set_gain(1.5f);
  pieced.set_gain(1.5f);
  auto y = whole.process(z);
  EXPECT_EQ(pieced.process(std::span<const cf32>{}).size(), 0u);
  auto w = test::in_pieces([&](std::span<const cf32> s) { return pieced.process(s); }, z, {3, 1000, 1});
  EXPECT_TRUE(same_bits(y, w));
}

}  // namespace
}  // namespace vatel::demodulate
