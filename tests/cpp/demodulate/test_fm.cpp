#include "demodulate/fm.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <vector>

#include "../dsp/stream_check.hpp"
#include "core/cpu.hpp"
#include "dsp/fast_atan2.hpp"
#include "modulate/fm.hpp"

namespace vatel::demodulate {
namespace {

using test::same_bits;

std::vector<cf32> unit_tone(std::size_t n, double omega) {
  std::vector<cf32> z(n);
  for (std::size_t i = 0; i < n; ++i) z[i] = cf32(std::polar(1.0, omega * static_cast<double>(i)));
  return z;
}

TEST(FmQuadratureDemod, MatchesFloat32Reference) {
  // dev 5 kHz, audio bandwidth 4 kHz at 48 kHz; computed independently.
  const test::At<float> expected[] = {
      {0, -0x1.b02478p-21f},
      {1, -0x1.38b9p-18f},
      {2, -0x1.8f6958p-17f},
      {3, -0x1.2ff8bep-16f},
      {4, -0x1.3d3fe6p-16f},
      {5, -0x1.d60c8p-17f},
      {1021, -0x1.5f9b42p-14f},
      {1022, -0x1.23973ep-14f},
      {1023, -0x1.aaa9fp-15f},
      {1024, -0x1.0b2e8p-15f},
      {1025, -0x1.246b22p-16f},
      {2046, 0x1.5450fep-14f},
      {2047, 0x1.d7c81cp-15f},
      {2048, 0x1.06423cp-15f},
      {2049, 0x1.a4114cp-17f},
      {2099, -0x1.624c4cp-15f},
  };
  FmQuadratureDemod d(48000.0f, 5000.0f, 4000.0f);
  auto y = d.process(test::test_iq(2100));
  for (const auto& e : expected) EXPECT_EQ(y[e.i], e.v) << e.i;
}

TEST(FmQuadratureDemod, FirstSampleUsesItsOwnPhase) {
  FmQuadratureDemod d(48000.0f, 2.0f, 4000.0f);
  dsp::AudioLowpass lp(48000.0f, 4000.0f);
  const cf32 z[] = {{0.6f, 0.8f}};
  EXPECT_EQ(d.process(z)[0], lp.next(dsp::fast_atan2(0.8f, 0.6f) * 0.5f));
}

TEST(FmQuadratureDemod, ToneGivesConstantStepScaledByDeviation) {
  const double omega = 0.3;
  const auto z = unit_tone(4000, omega);
  const float step = dsp::fast_atan2(static_cast<float>(std::sin(omega)), static_cast<float>(std::cos(omega)));
  EXPECT_NEAR(step, omega, 2e-3);
  struct Case {
    float dev_hz;
    float scale;
  };
  const Case cases[] = {{1.0f, 1.0f}, {0.5f, 1.0f}, {0.0f, 1.0f}, {std::numeric_limits<float>::quiet_NaN(), 1.0f},
                        {4.0f, 0.25f}};
  for (const Case& c : cases) {
    FmQuadratureDemod d(48000.0f, c.dev_hz, 3000.0f);
    auto y = d.process(z);
    EXPECT_NEAR(y[y.size() - 1], step * c.scale, 1e-5f) << c.dev_hz;
  }
}

TEST(FmQuadratureDemod, ZeroSamplesGiveZeroStep) {
  FmQuadratureDemod d(48000.0f, 1000.0f, 3000.0f);
  for (float v : d.process(std::vector<cf32>(100, cf32(0.0f, 0.0f)))) EXPECT_EQ(v, 0.0f);
}

TEST(FmQuadratureDemod, RecoversTheModulatingTone) {
  // The output is the phase step over the deviation: x * 2 pi / fs.
  const double fs = 48000.0;
  std::vector<float> audio(48000);
  for (std::size_t i = 0; i < audio.size(); ++i)
    audio[i] = static_cast<float>(0.8 * std::cos(2.0 * M_PI * 700.0 * i / fs));
  modulate::FmPhaseAccumMod mod(48000.0f, 5000.0f, 0.0f);
  FmQuadratureDemod demod(48000.0f, 5000.0f, 4000.0f);
  auto y = demod.process(mod.process(audio).span());
  const double expected = 0.8 * 2.0 * M_PI / fs;
  // The arctangent polynomial runs up to 3% high for small steps.
  const double a = test::tone_amplitude(y.span(), 700.0, fs, 4800);
  EXPECT_GT(a, expected * 0.99);
  EXPECT_LT(a, expected * 1.04);
  EXPECT_LT(test::tone_amplitude(y.span(), 2100.0, fs, 4800), expected * 0.02);
}

TEST(FmQuadratureDemod, BlockSplit) {
  const auto z = test::test_iq(4000);
  FmQuadratureDemod whole(48000.0f, 3000.0f, 4000.0f), pieced(48000.0f, 3000.0f, 4000.0f);
  auto y = whole.process(z);
  EXPECT_EQ(pieced.process(std::span<const cf32>{}).size(), 0u);
  auto w = test::in_pieces([&](std::span<const cf32> s) { return pieced.process(s); }, z, {1, 2, 3, 1500});
  EXPECT_TRUE(same_bits(y, w));
}

TEST(FmQuadratureDemod, PortableAndFmaKernelsAgree) {
  if (!core::cpu_has_fma()) GTEST_SKIP() << "no FMA on this CPU";
  const auto z = test::test_iq(3000);
  QuadratureDiscriminator a(48000.0f, 0.01f, 4000.0f), b = a;
  std::vector<float> ya(z.size()), yb(z.size());
  quadrature_discriminator_kernel_portable(a, z.data(), ya.data(), z.size());
  quadrature_discriminator_kernel_fma(b, z.data(), yb.data(), z.size());
  EXPECT_TRUE(same_bits(ya, yb));
}

}  // namespace
}  // namespace vatel::demodulate
