#include "modulate/cw.hpp"

#include <gtest/gtest.h>

#include <limits>
#include <vector>

#include "../dsp/stream_check.hpp"
#include "core/cpu.hpp"

namespace vatel::modulate {
namespace {

using test::same_bits;

std::vector<float> envelope_of(const core::Buffer<cf32>& y) {
  std::vector<float> e;
  for (const cf32& v : y) e.push_back(v.real());  // tone 0: the carrier stays 1
  return e;
}

TEST(CwKeyedMod, RiseAndFallWithSeparateCoefficients) {
  const float rise = dsp::OnePoleSmoother::from_time_constant(1.0f, 8000.0f);
  const float fall = dsp::OnePoleSmoother::from_time_constant(4.0f, 8000.0f);
  CwKeyedMod mod(8000.0f, 0.0f, 1.0f, 4.0f);
  std::vector<float> key(20, 1.0f);
  key.resize(40, 0.0f);
  auto e = envelope_of(mod.process(key));
  float env = 0.0f;
  for (std::size_t i = 0; i < key.size(); ++i) {
    const float a = key[i] >= env ? rise : fall;
    env = (1.0f - a) * key[i] + a * env;
    EXPECT_EQ(e[i], env) << i;
  }
  EXPECT_GT(e[19], 0.9f);
  EXPECT_LT(e[39], e[19]);
  EXPECT_GT(e[39], 0.3f);  // the slower fall is still under way
}

TEST(CwKeyedMod, KeyingIsLimitedToZeroOne) {
  // Values above 1 key like 1, below 0 (and NaN) like 0.
  const std::vector<float> base = {1.0f, 1.0f, 0.0f, 0.0f, 1.0f, 0.0f};
  const float nan = std::numeric_limits<float>::quiet_NaN();
  const std::vector<float> wild = {5.0f, 1.5f, -3.0f, nan, 1e30f, -0.0f};
  CwKeyedMod a(48000.0f, 700.0f, 2.0f, 3.0f), b(48000.0f, 700.0f, 2.0f, 3.0f);
  auto ya = a.process(base);
  auto yb = b.process(wild);
  EXPECT_TRUE(same_bits(ya, yb));
  // The state stays finite after a NaN keying value.
  for (const cf32& v : b.process(std::vector<float>(10, 1.0f))) EXPECT_TRUE(std::isfinite(v.real()));
}

TEST(CwKeyedMod, TimeConstantFloorAndGain) {
  // Both coefficients at the 0.1 ms floor: exp(-1/4.8) at 48 kHz.
  CwKeyedMod mod(48000.0f, 0.0f, 0.0f, -1.0f);
  mod.set_gain(3.0f);
  const float a = ::expf(-1.0f / ((0.1f * 0.001f) * 48000.0f));
  EXPECT_NEAR(a, 0.812f, 1e-3f);
  const float x[] = {1.0f, 0.0f};
  auto y = mod.process(x);
  const float e0 = (1.0f - a) * 1.0f + a * 0.0f;
  const float e1 = (1.0f - a) * 0.0f + a * e0;
  EXPECT_EQ(y[0].real(), 3.0f * e0);
  EXPECT_EQ(y[1].real(), 3.0f * e1);
}

TEST(CwKeyedMod, MatchesFloat32Reference) {
  // 700 Hz tone at 48 kHz, rise 2 ms, fall 5 ms, keyed by the test audio;
  // computed independently in float32.
  const test::At<cf32> expected[] = {
      {0, {0x0p+0f, 0x0p+0f}},
      {1, {0x1.31d4b2p-7f, 0x1.c5758ep-10f}},
      {2, {0x1.1bebbp-6f, 0x1.404bbp-8f}},
      {3, {0x1.86cb0ap-6f, 0x1.2c05dap-7f}},
      {4, {0x1.d8305ap-6f, 0x1.d1b73p-7f}},
      {5, {0x1.07d0f4p-5f, 0x1.435564p-6f}},
      {1021, {0x1.4ce5dcp-2f, -0x1.c994ccp-3f}},
      {1022, {0x1.5f9df4p-2f, -0x1.89d2a6p-3f}},
      {1023, {0x1.6efba6p-2f, -0x1.46c6a4p-3f}},
      {1024, {0x1.7ad406p-2f, -0x1.012ee2p-3f}},
      {1025, {0x1.836348p-2f, -0x1.74006cp-4f}},
      {2046, {0x1.ce6ec6p-3f, -0x1.35a07ap-2f}},
      {2047, {0x1.01822p-2f, -0x1.1dfbccp-2f}},
      {2048, {0x1.196bc2p-2f, -0x1.0422ap-2f}},
      {2049, {0x1.34a9bp-2f, -0x1.d9ad26p-3f}},
      {2099, {-0x1.1ac10ep-2f, -0x1.1ac336p-2f}},
  };
  CwKeyedMod mod(48000.0f, 700.0f, 2.0f, 5.0f);
  auto y = mod.process(test::test_audio(2100));
  for (const auto& e : expected) EXPECT_EQ(y[e.i], e.v) << e.i;
}

TEST(CwKeyedMod, BlockSplit) {
  const auto x = test::test_audio(4100);
  CwKeyedMod whole(48000.0f, 700.0f, 2.0f, 5.0f), pieced(48000.0f, 700.0f, 2.0f, 5.0f);
  auto y = whole.process(x);
  auto z = test::in_pieces([&](std::span<const float> s) { return pieced.process(s); }, x, {7, 1, 1021, 2048});
  EXPECT_TRUE(same_bits(y, z));
}

TEST(CwKeyedMod, PortableAndFmaKernelsAgree) {
  if (!core::cpu_has_fma()) GTEST_SKIP() << "no FMA on this CPU";
  const auto x = test::test_audio(3000);
  dsp::Rotator ra(600.0f, 8000.0f), rb(600.0f, 8000.0f);
  dsp::OnePoleSmoother ea, eb;
  std::vector<cf32> ya(x.size()), yb(x.size());
  cw_keyed_mod_kernel_portable(ra, ea, 0.9f, 0.97f, 1.5f, x.data(), ya.data(), x.size());
  cw_keyed_mod_kernel_fma(rb, eb, 0.9f, 0.97f, 1.5f, x.data(), yb.data(), x.size());
  EXPECT_TRUE(same_bits(ya, yb));
}

}  // namespace
}  // namespace vatel::modulate
