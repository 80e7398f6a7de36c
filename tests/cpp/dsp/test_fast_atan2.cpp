#include "dsp/fast_atan2.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace vatel::dsp {
namespace {

constexpr float kPi = 3.1415927f;

TEST(FastAtan2, Anchors) {
  struct Case {
    float y, x, a;
  };
  // Float32 evaluation of the polynomial, computed independently.
  const Case cases[] = {
      {1.0f, 2.0f, 0x1.d940e4p-2f},  // 0.462162; exact 0.463648
      {0.0f, 0.0f, 0.0f},
      {0.0f, -1.0f, kPi},
      {-0.0f, -1.0f, kPi},  // a negative zero is not below zero
      {0.0f, 1.0f, 0.0f},
      {1.0f, 0.0f, 1.5707964f},
      {-1.0f, 0.0f, -1.5707964f},
  };
  for (const Case& c : cases) EXPECT_EQ(fast_atan2(c.y, c.x), c.a) << c.y << ", " << c.x;
  EXPECT_NEAR(fast_atan2(1.0f, 1.0f), kPi / 4.0f, 1e-6f);
  EXPECT_NEAR(fast_atan2(-1.0f, -1.0f), -3.0f * kPi / 4.0f, 1e-6f);
}

TEST(FastAtan2, SignSymmetryAndAccuracy) {
  double worst = 0.0;
  for (int k = 0; k < 3600; ++k) {
    const double t = -M_PI + (2.0 * M_PI) * (k + 0.5) / 3600.0;
    for (float r : {1e-3f, 1.0f, 7.5f}) {
      const float x = static_cast<float>(r * std::cos(t)), y = static_cast<float>(r * std::sin(t));
      const float a = fast_atan2(y, x);
      ASSERT_LE(std::fabs(a), kPi);
      EXPECT_EQ(fast_atan2(-y, x), -a);  // only the sign of y changed
      worst = std::max(worst, std::fabs(static_cast<double>(a) - std::atan2(static_cast<double>(y), x)));
    }
  }
  EXPECT_LT(worst, 2e-3);
}

TEST(FastAtan2, ContinuousAcrossOctantBoundaries) {
  for (float x : {1.0f, -1.0f}) {
    for (float y : {1.0f, -1.0f}) {
      const float below = fast_atan2(std::nextafter(y, 0.0f), x);
      const float above = fast_atan2(std::nextafter(y, 2.0f * y), x);
      EXPECT_NEAR(below, above, 1e-5f) << x << ", " << y;
    }
  }
}

TEST(FastAtan2, NaNGivesNaN) {
  const float nan = std::numeric_limits<float>::quiet_NaN();
  EXPECT_TRUE(std::isnan(fast_atan2(nan, 1.0f)));
  EXPECT_TRUE(std::isnan(fast_atan2(1.0f, nan)));
}

}  // namespace
}  // namespace vatel::dsp
