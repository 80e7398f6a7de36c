#include "modulate/am.hpp"

#include <gtest/gtest.h>

#include <limits>
#include <vector>

#include "../dsp/stream_check.hpp"
#include "core/cpu.hpp"

namespace vatel::modulate {
namespace {

using test::same_bits;

TEST(AmDsbMod, EnvelopeWithAndWithoutClamp) {
  struct Case {
    float x;
    bool clamp;
    float envelope;
  };
  // carrier level 1, modulation index 1, rf 0: the output is the envelope.
  const Case cases[] = {
      {0.5f, true, 1.0f},   {0.5f, false, 1.5f},  {-0.5f, true, 0.5f},
      {-2.5f, true, -1.0f}, {-2.5f, false, -1.5f},  // below zero: a carrier phase reversal
      {0.0f, true, 1.0f},
  };
  for (const Case& c : cases) {
    AmDsbMod mod(48000.0f, 0.0f, 1.0f, 1.0f);
    mod.set_clamp(c.clamp);
    const float x[] = {c.x};
    auto y = mod.process(x);
    EXPECT_EQ(y[0], cf32(c.envelope, 0.0f)) << c.x << " " << c.clamp;
  }
  // A NaN passes the clamp unchanged.
  AmDsbMod mod(48000.0f, 0.0f, 1.0f, 1.0f);
  mod.set_clamp(true);
  const float x[] = {std::numeric_limits<float>::quiet_NaN()};
  EXPECT_TRUE(std::isnan(mod.process(x)[0].real()));
}

TEST(AmDsbMod, GainLevelAndIndex) {
  AmDsbMod mod(8000.0f, 0.0f, 0.5f, 0.25f);
  mod.set_gain(2.0f);
  const float x[] = {1.0f, -1.0f, 0.0f};
  auto y = mod.process(x);
  EXPECT_EQ(y[0], cf32(1.5f, 0.0f));
  EXPECT_EQ(y[1], cf32(0.5f, 0.0f));
  EXPECT_EQ(y[2], cf32(1.0f, 0.0f));
}

TEST(AmDsbMod, MatchesFloat32Reference) {
  // carrier 1, index 0.8, clamp on, gain 0.5, rf 10 kHz at 48 kHz; computed
  // independently in float32 (exactly rounded fma, glibc sincosf).
  const test::At<cf32> expected[] = {
      {0, {0x1.a80c88p-6f, 0x1.8ba4aap-4f}},
      {1, {-0x1.bb67b2p-2f, 0x1.fffff6p-3f}},
      {2, {-0x1.6a09ep-2f, -0x1.6a09eep-2f}},
      {3, {0x1.00000cp-2f, -0x1.bb67aap-2f}},
      {4, {0x1.ee8dd2p-2f, 0x1.0907fep-3f}},
      {5, {-0x1.494ad2p-22f, 0x1.000002p-1f}},
      {1021, {0x1.bb70eep-2f, -0x1.ffebcap-3f}},
      {1022, {0x1.6a0286p-2f, 0x1.6a1576p-2f}},
      {1023, {-0x1.000b9cp-2f, 0x1.bb60fap-2f}},
      {1024, {-0x1.ee8a5ap-2f, -0x1.0921cap-3f}},
      {1025, {0x1.921138p-15f, -0x1.ded286p-2f}},
      {2046, {-0x1.51e7dap-3f, 0x1.69deb2p-5f}},
      {2047, {-0x1.18112cp-4f, -0x1.e551d8p-4f}},
      {2048, {0x1.29cd36p-4f, -0x1.29adfep-4f}},
      {2049, {0x1.bb5a42p-2f, 0x1.00174p-2f}},
      {2099, {-0x1.000012p-1f, -0x1.b80506p-14f}},
  };
  const auto x = test::test_audio(2100);
  AmDsbMod mod(48000.0f, 10000.0f, 1.0f, 0.8f);
  mod.set_clamp(true);
  mod.set_gain(0.5f);
  auto y = mod.process(x);
  for (const auto& e : expected) EXPECT_EQ(y[e.i], e.v) << e.i;
}

TEST(AmDsbMod, BlockSplitAndEmptyInput) {
  const auto x = test::test_audio(5000);
  AmDsbMod whole(48000.0f, 7000.0f, 1.0f, 0.9f), pieced(48000.0f, 7000.0f, 1.0f, 0.9f);
  auto y = whole.process(x);
  auto z = test::in_pieces(
      [&](std::span<const float> s) {
        auto empty = pieced.process(std::span<const float>{});
        EXPECT_EQ(empty.size(), 0u);  // and leaves the state alone
        return pieced.process(s);
      },
      x, {1, 1023, 2, 1024, 333});
  EXPECT_TRUE(same_bits(y, z));
}

TEST(AmDsbMod, PortableAndFmaKernelsAgree) {
  if (!core::cpu_has_fma()) GTEST_SKIP() << "no FMA on this CPU";
  const auto x = test::test_audio(3000);
  for (bool clamp : {false, true}) {
    dsp::Rotator a(3000.0f, 44100.0f), b(3000.0f, 44100.0f);
    std::vector<cf32> ya(x.size()), yb(x.size());
    am_dsb_mod_kernel_portable(a, x.data(), ya.data(), x.size(), 1.0f, 1.3f, 0.8f, clamp);
    am_dsb_mod_kernel_fma(b, x.data(), yb.data(), x.size(), 1.0f, 1.3f, 0.8f, clamp);
    EXPECT_TRUE(same_bits(ya, yb)) << clamp;
  }
}

}  // namespace
}  // namespace vatel::modulate
