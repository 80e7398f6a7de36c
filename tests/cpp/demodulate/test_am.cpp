#include "demodulate/am.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <vector>

#include "../dsp/stream_check.hpp"
#include "core/cpu.hpp"
#include "modulate/am.hpp"

namespace vatel::demodulate {
namespace {

using test::same_bits;

TEST(AmEnvelopeDemod, MatchesFloat32Reference) {
  // fs 48 kHz, audio bandwidth 5 kHz, on the test IQ; computed independently
  // in float32 (power path and magnitude estimate).
  const test::At<float> power[] = {
      {0, 0x1.5b4e1ep-4f},
      {1, 0x1.c5f788p-3f},
      {2, 0x1.9a4a5cp-2f},
      {3, 0x1.2c833cp-1f},
      {4, 0x1.7fc716p-1f},
      {5, 0x1.bdd768p-1f},
      {1021, 0x1.792018p-1f},
      {1022, 0x1.54d86p-1f},
      {1023, 0x1.3046a6p-1f},
      {1024, 0x1.0df44p-1f},
      {1025, 0x1.dfcc7cp-2f},
      {2046, 0x1.913b56p-2f},
      {2047, 0x1.c8f3b2p-2f},
      {2048, 0x1.040644p-1f},
      {2049, 0x1.247d6ap-1f},
      {2099, 0x1.671126p-1f},
  };
  const test::At<float> estimate[] = {
      {0, 0x1.3fc6c2p-8f},
      {1, 0x1.1bba8p-5f},
      {2, 0x1.e4c03ep-4f},
      {3, 0x1.112e4cp-2f},
      {4, 0x1.d4c8e4p-2f},
      {5, 0x1.4c8dc8p-1f},
      {1021, 0x1.68cfb4p-1f},
      {1022, 0x1.3a6a3ep-1f},
      {1023, 0x1.0a10c6p-1f},
      {1024, 0x1.b4b8a8p-2f},
      {1025, 0x1.59e2cp-2f},
      {2046, 0x1.2a9ba8p-2f},
      {2047, 0x1.888b9ap-2f},
      {2048, 0x1.e6cb18p-2f},
      {2049, 0x1.20f336p-1f},
      {2099, 0x1.7b927ep-1f},
  };
  const auto z = test::test_iq(2100);
  AmEnvelopeDemod a(48000.0f, 5000.0f), b(48000.0f, 5000.0f, true);
  auto ya = a.process(z);
  auto yb = b.process(z);
  for (const auto& e : power) EXPECT_EQ(ya[e.i], e.v) << e.i;
  for (const auto& e : estimate) EXPECT_EQ(yb[e.i], e.v) << e.i;
}

TEST(AmEnvelopeDemod, MagnitudeEstimateWeights) {
  // Before filtering: 0.9482 |I| + 0.392 |Q|, without picking the larger.
  struct Case {
    cf32 z;
    float u;
  };
  const Case cases[] = {{{1.0f, 0.0f}, 0.9482f}, {{0.0f, 1.0f}, 0.392f}, {{-1.0f, -1.0f}, std::fma(0.9482f, 1.0f, 0.392f)}};
  for (const Case& c : cases) {
    AmEnvelopeDemod d(48000.0f, 5000.0f, true);
    dsp::AudioLowpass lp(48000.0f, 5000.0f);
    dsp::DcBlocker dc(48000.0f);
    const std::vector<cf32> z(50, c.z);
    auto y = d.process(z);
    for (std::size_t i = 0; i < z.size(); ++i) ASSERT_EQ(y[i], dc.next(lp.next(c.u))) << c.z << " " << i;
  }
}

TEST(AmEnvelopeDemod, ConstantCarrierSettlesToZero) {
  for (bool approx : {false, true}) {
    AmEnvelopeDemod d(8000.0f, 1000.0f, approx);
    auto y = d.process(std::vector<cf32>(40000, cf32(0.6f, -0.8f)));
    EXPECT_NEAR(y[y.size() - 1], 0.0f, 1e-4f) << approx;
  }
}

TEST(AmEnvelopeDemod, SuddenDropStaysFinite) {
  // The filtered power undershoots below zero after the carrier stops; the
  // output must stay finite then and after the carrier returns.
  dsp::AudioLowpass lp(48000.0f, 5000.0f);
  bool undershoots = false;
  for (int i = 0; i < 4000; ++i) lp.next(1.0f);
  for (int i = 0; i < 200; ++i) undershoots |= lp.next(0.0f) < 0.0f;
  ASSERT_TRUE(undershoots) << "the filter no longer undershoots; the case below tests nothing";

  std::vector<cf32> z(4000, cf32(1.0f, 0.0f));
  z.resize(8000, cf32(0.0f, 0.0f));
  z.resize(12000, cf32(0.0f, 0.5f));
  AmEnvelopeDemod d(48000.0f, 5000.0f);
  auto y = d.process(z);
  for (std::size_t i = 0; i < y.size(); ++i) ASSERT_TRUE(std::isfinite(y[i])) << i;
  // Where the power is non-negative the output is the plain square root.
  AmEnvelopeDemod again(48000.0f, 5000.0f);
  auto head = again.process(std::span<const cf32>(z.data(), 4000));
  dsp::AudioLowpass lp2(48000.0f, 5000.0f);
  dsp::DcBlocker dc(48000.0f);
  for (std::size_t i = 0; i < 4000; ++i) ASSERT_EQ(head[i], dc.next(std::sqrt(lp2.next(1.0f)))) << i;
  // The carrier's return is seen as a rise of the envelope, then blocked.
  EXPECT_NEAR(y[8100] - y[7999], 0.5f, 0.05f);
  EXPECT_NEAR(y[y.size() - 1], 0.0f, 0.2f);
}

TEST(AmEnvelopeDemod, RecoversTheModulatingTone) {
  const double fs = 48000.0;
  std::vector<float> audio(48000);
  for (std::size_t i = 0; i < audio.size(); ++i) audio[i] = static_cast<float>(std::cos(2.0 * M_PI * 800.0 * i / fs));
  modulate::AmDsbMod mod(48000.0f, 12000.0f, 1.0f, 0.5f);
  AmEnvelopeDemod demod(48000.0f, 5000.0f);
  auto y = demod.process(mod.process(audio).span());
  // Envelope 1 + 0.5 cos: the blocker removes the 1.
  EXPECT_NEAR(test::tone_amplitude(y.span(), 800.0, fs, 24000), 0.5, 0.01);
  EXPECT_LT(test::tone_amplitude(y.span(), 1600.0, fs, 24000), 0.01);
}

TEST(AmEnvelopeDemod, BlockSplit) {
  const auto z = test::test_iq(5000);
  for (bool approx : {false, true}) {
    AmEnvelopeDemod whole(48000.0f, 4000.0f, approx), pieced(48000.0f, 4000.0f, approx);
    auto y = whole.process(z);
    EXPECT_EQ(pieced.process(std::span<const cf32>{}).size(), 0u);
    auto w = test::in_pieces([&](std::span<const cf32> s) { return pieced.process(s); }, z, {1, 17, 1024, 999});
    EXPECT_TRUE(same_bits(y, w)) << approx;
  }
}

TEST(AmEnvelopeDemod, PortableAndFmaKernelsAgree) {
  if (!core::cpu_has_fma()) GTEST_SKIP() << "no FMA on this CPU";
  const auto z = test::test_iq(3000);
  for (bool approx : {false, true}) {
    dsp::AudioLowpass la(44100.0f, 4000.0f), lb = la;
    dsp::DcBlocker da(44100.0f), db = da;
    std::vector<float> ya(z.size()), yb(z.size());
    am_envelope_demod_kernel_portable(la, da, approx, z.data(), ya.data(), z.size());
    am_envelope_demod_kernel_fma(lb, db, approx, z.data(), yb.data(), z.size());
    EXPECT_TRUE(same_bits(ya, yb)) << approx;
  }
}

}  // namespace
}  // namespace vatel::demodulate
