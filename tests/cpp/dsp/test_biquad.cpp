#include "dsp/biquad.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <vector>

namespace vatel::dsp {
namespace {

// The deterministic audio of the reference tables: exact in float32.
float test_audio(std::int64_t i) { return static_cast<float>((i * 7919) % 2001 - 1000) / 1000.0f; }

TEST(Biquad, LowpassCoefficientsAt48kHz3kHz) {
  const Biquad q = Biquad::lowpass(48000.0f, 3000.0f);
  // Computed independently in float32 (glibc sincosf for the angle).
  EXPECT_EQ(q.b0, 0x1.96c7c4p-6f);
  EXPECT_EQ(q.b1, 0x1.96c7c4p-5f);
  EXPECT_EQ(q.b2, q.b0);
  EXPECT_EQ(q.a1, -0x1.81e814p+0f);
  EXPECT_EQ(q.a2, 0x1.36a91ep-1f);
  EXPECT_NEAR(q.b0, 0.0248279, 1e-7);
  EXPECT_NEAR(q.b1, 0.0496558, 1e-7);
  EXPECT_NEAR(q.a1, -1.50745, 1e-5);
  EXPECT_NEAR(q.a2, 0.606759, 1e-6);
  EXPECT_EQ(q.s1, 0.0f);
  EXPECT_EQ(q.s2, 0.0f);
}

TEST(Biquad, UnityGainAtDcThroughSectionAndPair) {
  for (float bw : {300.0f, 3000.0f, 10000.0f}) {
    Biquad one = Biquad::lowpass(48000.0f, bw);
    AudioLowpass pair(48000.0f, bw);
    float y1 = 0.0f, y2 = 0.0f;
    for (int i = 0; i < 20000; ++i) {
      y1 = one.next(0.75f);
      y2 = pair.next(0.75f);
    }
    // Within the rounding of float32 coefficients (largest at low corners).
    EXPECT_NEAR(y1, 0.75f, 1e-4f) << bw;
    EXPECT_NEAR(y2, 0.75f, 1e-4f) << bw;
  }
}

TEST(Biquad, HalfPowerAtTheCorner) {
  // Corner 0.9 * bw, Q = 1/sqrt(2): one section passes 1/sqrt(2) there.
  const float fs = 48000.0f, corner = 2700.0f;
  Biquad q = Biquad::lowpass(fs, 3000.0f);
  double peak = 0.0;
  for (int i = 0; i < 48000; ++i) {
    const float y = q.next(static_cast<float>(std::cos(2.0 * M_PI * corner * i / fs)));
    if (i > 24000) peak = std::max(peak, std::fabs(static_cast<double>(y)));
  }
  EXPECT_NEAR(peak, 1.0 / std::sqrt(2.0), 2e-3);
}

TEST(Biquad, ZeroBandwidthOutputsZero) {
  Biquad q = Biquad::lowpass(48000.0f, 0.0f);
  EXPECT_EQ(q.b0, 0.0f);
  EXPECT_EQ(q.b1, 0.0f);
  EXPECT_EQ(q.b2, 0.0f);
  EXPECT_EQ(q.a1, -2.0f);
  EXPECT_EQ(q.a2, 1.0f);
  for (float x : {1.0f, -3.0f, 1e6f, 0.5f}) EXPECT_EQ(q.next(x), 0.0f);
}

TEST(Biquad, PairMatchesFloat32Reference) {
  // Reference: the section update evaluated in float32 with exactly rounded
  // fused multiply-adds, outside this code base.
  struct Expect {
    int i;
    float y;
  };
  const Expect expected[] = {
      {0, -0x1.432f1ep-11f},
      {1, -0x1.ecc432p-9f},
      {2, -0x1.4b65bp-7f},
      {3, -0x1.ee3706p-7f},
      {4, -0x1.448e28p-7f},
      {5, 0x1.a882c8p-7f},
      {1021, -0x1.741b7p-5f},
      {1022, 0x1.a36eaap-4f},
      {1023, 0x1.dd7d32p-3f},
      {1024, 0x1.593b16p-2f},
      {1025, 0x1.a26ecap-2f},
      {2046, -0x1.23a894p-4f},
      {2047, -0x1.688e32p-3f},
      {2048, -0x1.1dd4c2p-2f},
      {2049, -0x1.83562p-2f},
      {2099, -0x1.1a2248p-1f},
  };
  AudioLowpass pair(48000.0f, 3000.0f);
  std::vector<float> out;
  for (int i = 0; i < 2100; ++i) out.push_back(pair.next(test_audio(i)));
  for (const Expect& e : expected) EXPECT_EQ(out[static_cast<std::size_t>(e.i)], e.y) << e.i;
}

}  // namespace
}  // namespace vatel::dsp
