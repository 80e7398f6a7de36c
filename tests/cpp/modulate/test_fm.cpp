#include "modulate/fm.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "../dsp/stream_check.hpp"
#include "core/cpu.hpp"

namespace vatel::modulate {
namespace {

using test::same_bits;

TEST(FmPhaseAccumMod, MatchesFloat32Reference) {
  // deviation 5 kHz, RF 12 kHz at 48 kHz, gain 0.75; computed independently
  // in float32 (exactly rounded fma, glibc sincosf).
  const test::At<cf32> expected[] = {
      {0, {0x1.d3875ep-2f, 0x1.30a5cep-1f}},
      {1, {-0x1.7f6b78p-1f, 0x1.519d02p-5f}},
      {2, {0x1.68b3c4p-2f, -0x1.530332p-1f}},
      {3, {0x1.ad995p-2f, 0x1.3e4dbap-1f}},
      {4, {-0x1.7b0894p-1f, 0x1.ec7a2p-4f}},
      {5, {0x1.492deep-3f, -0x1.7713fap-1f}},
      {1021, {0x1.04abfep-1f, -0x1.19f7d8p-1f}},
      {1022, {0x1.f50a1ep-2f, 0x1.230676p-1f}},
      {1023, {-0x1.311dcep-1f, 0x1.d24df2p-2f}},
      {1024, {-0x1.d0b48cp-2f, -0x1.31b9cep-1f}},
      {1025, {0x1.24fbeap-1f, -0x1.f073f2p-2f}},
      {2046, {0x1.72465ap-5f, -0x1.7f4d52p-1f}},
      {2047, {0x1.4a8ad4p-1f, -0x1.86e29ap-2f}},
      {2048, {0x1.639dcap-1f, 0x1.21c786p-2f}},
      {2049, {-0x1.413e92p-1f, 0x1.a4c07ap-2f}},
      {2099, {0x1.3c4d5ap-1f, 0x1.b378cap-2f}},
  };
  FmPhaseAccumMod mod(48000.0f, 5000.0f, 12000.0f);
  mod.set_gain(0.75f);
  auto y = mod.process(test::test_audio(2100));
  for (const auto& e : expected) EXPECT_EQ(y[e.i], e.v) << e.i;
}

TEST(FmPhaseAccumMod, ConstantInputIsATone) {
  // x = 0.5 with deviation 2 kHz: a 1 kHz tone at the gain's amplitude.
  const double fs = 48000.0;
  FmPhaseAccumMod mod(48000.0f, 2000.0f, 0.0f);
  mod.set_gain(2.0f);
  auto y = mod.process(std::vector<float>(9600, 0.5f));
  EXPECT_NEAR(test::phasor_amplitude(y.span(), 1000.0, fs, 0), 2.0, 1e-3);
  for (std::size_t i = 1023; i < y.size(); i += 1024) EXPECT_NEAR(std::abs(y[i]), 2.0f, 1e-5f) << i;
}

TEST(FmPhaseAccumMod, ZeroDeviationIsTheCarrier) {
  FmPhaseAccumMod mod(48000.0f, 0.0f, 3000.0f);
  mod.set_gain(0.5f);
  dsp::Rotator carrier(3000.0f, 48000.0f);
  auto y = mod.process(test::test_audio(2100));
  for (std::size_t i = 0; i < y.size(); ++i) {
    const cf32 r = carrier.next();
    ASSERT_EQ(y[i], cf32(0.5f * r.real(), 0.5f * r.imag())) << i;
  }
}

TEST(FmPhaseAccumMod, NewDeviationFromTheNextCall) {
  const auto x = test::test_audio(3000);
  FmPhaseAccumMod a(48000.0f, 1000.0f, 0.0f), b(48000.0f, 1000.0f, 0.0f);
  auto ya = a.process(x);
  auto yb = b.process(x);
  EXPECT_TRUE(same_bits(ya, yb));
  a.set_deviation(3000.0f);
  b.set_deviation(3000.0f);
  a.set_gain(0.5f);
  b.set_gain(0.5f);
  EXPECT_TRUE(same_bits(a.process(x), test::in_pieces([&](std::span<const float> s) { return b.process(s); }, x,
                                                       {5, 1024, 100})));
}

TEST(FmPhaseAccumMod, BlockSplit) {
  const auto x = test::test_audio(5000);
  FmPhaseAccumMod whole(48000.0f, 5000.0f, 12000.0f), pieced(48000.0f, 5000.0f, 12000.0f);
  auto y = whole.process(x);
  EXPECT_EQ(pieced.process(std::span<const float>{}).size(), 0u);
  auto z = test::in_pieces([&](std::span<const float> s) { return pieced.process(s); }, x, {1, 1022, 3, 2048});
  EXPECT_TRUE(same_bits(y, z));
}

TEST(FmPhaseAccumMod, PortableAndFmaKernelsAgree) {
  if (!core::cpu_has_fma()) GTEST_SKIP() << "no FMA on this CPU";
  const auto x = test::test_audio(3000);
  dsp::Rotator pa, ca(7000.0f, 48000.0f), pb, cb = ca;
  std::vector<cf32> ya(x.size()), yb(x.size());
  fm_mod_kernel_portable(pa, ca, 0.6f, 1.25f, x.data(), ya.data(), x.size());
  fm_mod_kernel_fma(pb, cb, 0.6f, 1.25f, x.data(), yb.data(), x.size());
  EXPECT_TRUE(same_bits(ya, yb));
}

}  // namespace
}  // namespace vatel::modulate
