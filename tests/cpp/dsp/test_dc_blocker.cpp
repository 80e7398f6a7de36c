#include "dsp/dc_blocker.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace vatel::dsp {
namespace {

TEST(DcBlocker, PoleFromSampleRate) {
  struct Case {
    float fs;
    float r;
  };
  // 1 - 4 pi / fs, clamped to [0, 0.9999].
  const Case cases[] = {
      {8000.0f, 0.9984292f}, {48000.0f, 0.9997382f}, {10.0f, 0.0f},
      {12.0f, 0.0f},          {1.0e6f, 0.9999f},     {125664.0f, 0.9999f},
  };
  for (const Case& c : cases) EXPECT_NEAR(DcBlocker(c.fs).r, c.r, 1e-7f) << c.fs;
  EXPECT_EQ(DcBlocker(1.0e6f).r, 0.9999f);
  EXPECT_EQ(DcBlocker(10.0f).r, 0.0f);
  // A NaN rate passes both bounds unchanged.
  EXPECT_TRUE(std::isnan(DcBlocker(std::numeric_limits<float>::quiet_NaN()).r));
}

TEST(DcBlocker, FirstOutputIsInputThenDecaysByR) {
  DcBlocker dc(8000.0f);
  EXPECT_EQ(dc.next(2.0f), 2.0f);
  float expected = 2.0f;
  for (int i = 0; i < 100; ++i) {
    expected = dc.r * expected;
    EXPECT_EQ(dc.next(2.0f), expected) << i;
  }
}

TEST(DcBlocker, ZeroPoleIsFirstDifference) {
  DcBlocker dc(10.0f);
  const float x[] = {1.0f, 4.0f, 4.0f, -2.0f, 0.5f};
  float prev = 0.0f;
  for (float v : x) {
    EXPECT_EQ(dc.next(v), v - prev);
    prev = v;
  }
}

TEST(DcBlocker, PassesAudioAndRemovesOffset) {
  DcBlocker dc(48000.0f);
  double sum = 0.0, peak = 0.0;
  for (int i = 0; i < 480000; ++i) {
    const float y = dc.next(0.5f + 0.25f * static_cast<float>(std::sin(2.0 * M_PI * 1000.0 * i / 48000.0)));
    if (i >= 480000 - 48) {  // the last period of the tone, long after the offset died away
      sum += y;
      peak = std::max(peak, std::fabs(static_cast<double>(y)));
    }
  }
  EXPECT_NEAR(sum / 48.0, 0.0, 1e-3);
  EXPECT_NEAR(peak, 0.25, 1e-3);
}

}  // namespace
}  // namespace vatel::dsp
