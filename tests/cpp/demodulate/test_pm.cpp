#include "demodulate/pm.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "../dsp/stream_check.hpp"
#include "demodulate/fm.hpp"
#include "modulate/pm.hpp"

namespace vatel::demodulate {
namespace {

using test::same_bits;

TEST(PmQuadratureDemod, MatchesFloat32Reference) {
  // k 0.5, audio bandwidth 4 kHz at 48 kHz; computed independently.
  const test::At<float> expected[] = {
      {0, -0x1.07c24p-9f},
      {1, -0x1.7dbdd2p-7f},
      {2, -0x1.e79018p-6f},
      {3, -0x1.730f22p-5f},
      {4, -0x1.834478p-5f},
      {5, -0x1.1ee514p-5f},
      {1021, -0x1.ad35p-3f},
      {1022, -0x1.63f214p-3f},
      {1023, -0x1.046a2cp-3f},
      {1024, -0x1.46262ap-4f},
      {1025, -0x1.64f49ep-5f},
      {2046, 0x1.9f6ce4p-3f},
      {2047, 0x1.1ff3eap-3f},
      {2048, 0x1.4023e6p-4f},
      {2049, 0x1.0063a4p-5f},
      {2099, -0x1.b07e24p-4f},
  };
  PmQuadratureDemod d(48000.0f, 0.5f, 4000.0f);
  auto y = d.process(test::test_iq(2100));
  for (const auto& e : expected) EXPECT_EQ(y[e.i], e.v) << e.i;
}

TEST(PmQuadratureDemod, ScaleIsKItselfAndFmIsItsSpecialCase) {
  // FM with dev_hz = 4 scales by 0.25; PM with k = 0.25 is the same chain.
  const auto z = test::test_iq(3000);
  PmQuadratureDemod pm(48000.0f, 0.25f, 3500.0f);
  FmQuadratureDemod fm(48000.0f, 4.0f, 3500.0f);
  EXPECT_TRUE(same_bits(pm.process(z), fm.process(z)));
  // Unlike FM, k is used as given, below 1 and negative too.
  PmQuadratureDemod neg(48000.0f, -0.25f, 3500.0f), pos(48000.0f, 0.25f, 3500.0f);
  auto a = neg.process(z);
  auto b = pos.process(z);
  for (std::size_t i = 0; i < z.size(); ++i) ASSERT_EQ(a[i], -b[i]) << i;
}

TEST(PmQuadratureDemod, OutputsThePhaseStepOfTheModulator) {
  // PM with kp 1: the demodulator gives kp (x[n] - x[n-1]), not x.
  const double fs = 48000.0, f = 500.0;
  std::vector<float> audio(48000);
  for (std::size_t i = 0; i < audio.size(); ++i) audio[i] = static_cast<float>(0.5 * std::cos(2.0 * M_PI * f * i / fs));
  modulate::PmDirectPhaseMod mod(48000.0f, 1.0f, 0.0f);
  PmQuadratureDemod demod(48000.0f, 1.0f, 4000.0f);
  auto y = demod.process(mod.process(audio).span());
  const double expected = 0.5 * 2.0 * std::sin(M_PI * f / fs);
  const double a = test::tone_amplitude(y.span(), f, fs, 4800);
  EXPECT_GT(a, expected * 0.99);
  EXPECT_LT(a, expected * 1.04);
}

TEST(PmQuadratureDemod, BlockSplit) {
  const auto z = test::test_iq(4000);
  PmQuadratureDemod whole(48000.0f, 2.0f, 4000.0f), pieced(48000.0f, 2.0f, 4000.0f);
  auto y = whole.process(z);
  EXPECT_EQ(pieced.process(std::span<const cf32>{}).size(), 0u);
  auto w = test::in_pieces([&](std::span<const cf32> s) { return pieced.process(s); }, z, {999, 1, 1024});
  EXPECT_TRUE(same_bits(y, w));
}

}  // namespace
}  // namespace vatel::demodulate
