#include "modulate/pm.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "../dsp/stream_check.hpp"
#include "core/cpu.hpp"

namespace vatel::modulate {
namespace {

using test::same_bits;

TEST(PmDirectPhaseMod, MatchesFloat32Reference) {
  // kp 1.5 rad, RF 12 kHz at 48 kHz, gain 0.75; computed independently.
  const test::At<cf32> expected[] = {
      {0, {0x1.7f09cp-1f, 0x1.b29c1p-5f}},
      {1, {-0x1.2c54ep-3f, -0x1.78968ap-1f}},
      {2, {0x1.6bfbeep-1f, -0x1.e96f08p-3f}},
      {3, {0x1.4f4b8ep-2f, 0x1.59789ap-1f}},
      {4, {-0x1.415988p-1f, 0x1.a46e18p-2f}},
      {5, {-0x1.f2bd5ep-2f, -0x1.2402ecp-1f}},
      {1021, {-0x1.63608ep-1f, -0x1.22f35cp-2f}},
      {1022, {0x1.8c6d1ep-3f, -0x1.72fd8cp-1f}},
      {1023, {0x1.7c94b6p-1f, 0x1.9907fep-4f}},
      {1024, {-0x1.291cc8p-8f, 0x1.7ffe36p-1f}},
      {1025, {-0x1.7d2bd4p-1f, 0x1.74319p-4f}},
      {2046, {-0x1.6a7a6ep-1f, -0x1.faffc6p-3f}},
      {2047, {0x1.3e853ep-3f, -0x1.77a722p-1f}},
      {2048, {0x1.7eba9cp-1f, 0x1.f37bc8p-5f}},
      {2049, {-0x1.1c5d1p-3f, -0x1.795cacp-1f}},
      {2099, {0x1.96c832p-2f, 0x1.45b632p-1f}},
  };
  PmDirectPhaseMod mod(48000.0f, 1.5f, 12000.0f);
  mod.set_gain(0.75f);
  auto y = mod.process(test::test_audio(2100));
  for (const auto& e : expected) EXPECT_EQ(y[e.i], e.v) << e.i;
}

TEST(PmDirectPhaseMod, PhaseFollowsTheInputDirectly) {
  PmDirectPhaseMod mod(48000.0f, 2.0f, 0.0f);
  mod.set_gain(3.0f);
  const auto x = test::test_audio(600);
  auto y = mod.process(x);
  for (std::size_t i = 0; i < x.size(); ++i) {
    float s, c;
    ::sincosf(x[i] * 2.0f, &s, &c);
    ASSERT_EQ(y[i], cf32(3.0f * c, 3.0f * s)) << i;
  }
  // No memory: the same input gives the same output after anything else.
  mod.set_sensitivity(0.5f);
  const float one[] = {1.0f};
  auto a = mod.process(one);
  mod.process(x);
  auto b = mod.process(one);
  EXPECT_EQ(a[0], b[0]);
  EXPECT_NEAR(std::arg(a[0]), 0.5f, 1e-6f);
}

TEST(PmDirectPhaseMod, BlockSplit) {
  const auto x = test::test_audio(4096 + 77);
  PmDirectPhaseMod whole(48000.0f, 1.0f, 5000.0f), pieced(48000.0f, 1.0f, 5000.0f);
  auto y = whole.process(x);
  EXPECT_EQ(pieced.process(std::span<const float>{}).size(), 0u);
  auto z = test::in_pieces([&](std::span<const float> s) { return pieced.process(s); }, x, {1023, 2, 1});
  EXPECT_TRUE(same_bits(y, z));
}

TEST(PmDirectPhaseMod, PortableAndFmaKernelsAgree) {
  if (!core::cpu_has_fma()) GTEST_SKIP() << "no FMA on this CPU";
  const auto x = test::test_audio(3000);
  dsp::Rotator a(7000.0f, 48000.0f), b = a;
  std::vector<cf32> ya(x.size()), yb(x.size());
  pm_mod_kernel_portable(a, 1.1f, 0.9f, x.data(), ya.data(), x.size());
  pm_mod_kernel_fma(b, 1.1f, 0.9f, x.data(), yb.data(), x.size());
  EXPECT_TRUE(same_bits(ya, yb));
}

}  // namespace
}  // namespace vatel::modulate
