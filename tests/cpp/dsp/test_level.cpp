#include "dsp/level.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <vector>

namespace vatel::dsp {
namespace {

TEST(Level, MeanPower) {
  EXPECT_EQ(mean_power({}), 0.0f);
  const std::vector<cf32> x = {{3.0f, 4.0f}, {0.0f, 1.0f}, {1.0f, 0.0f}, {0.0f, 0.0f}, {2.0f, 0.0f}};
  EXPECT_FLOAT_EQ(mean_power(x), (25.0f + 1.0f + 1.0f + 0.0f + 4.0f) / 5.0f);
}

TEST(Level, GainIsThePowerOfTwoNearestTheTarget) {
  struct Case {
    float power, target, gain;
  };
  const Case cases[] = {
      {1.0f, 1.0f, 1.0f},
      {1.9f, 1.0f, 1.0f},      // within a factor of 2: left alone
      {0.51f, 1.0f, 1.0f},
      {4.0f, 1.0f, 0.5f},      // power 4 x the target: amplitude halved
      {1e-12f, 1.0f, std::ldexp(1.0f, 20)},  // 2^-39.9 of power: 2^20 of amplitude
      {1e12f, 1.0f, std::ldexp(1.0f, -20)},
      {1e-14f * 0.0147f, 0.0147f, std::ldexp(1.0f, 23)},  // 140 dB down
  };
  for (const Case& c : cases) EXPECT_EQ(power_of_two_gain(c.power, c.target), c.gain) << c.power;
}

TEST(Level, GainOfNoSignalOrBadFiguresIsOne) {
  const float inf = std::numeric_limits<float>::infinity();
  const float nan = std::numeric_limits<float>::quiet_NaN();
  for (float p : {0.0f, -1.0f, inf, nan}) EXPECT_EQ(power_of_two_gain(p, 1.0f), 1.0f) << p;
  for (float t : {0.0f, -1.0f, inf, nan}) EXPECT_EQ(power_of_two_gain(1.0f, t), 1.0f) << t;
  // The tiniest and largest powers get a bounded gain that leaves them finite.
  const float tiny = power_of_two_gain(std::numeric_limits<float>::denorm_min(), 1.0f);
  EXPECT_EQ(tiny, std::ldexp(1.0f, 60));
  EXPECT_EQ(power_of_two_gain(std::numeric_limits<float>::max(), 1.0f), std::ldexp(1.0f, -60));
}

TEST(Level, ScaleByAPowerOfTwoKeepsEveryMantissa) {
  std::vector<cf32> x = {{0.1f, -0.3f}, {1e-7f, 7.0f}, {-2.5f, 0.0f}};
  const std::vector<cf32> before = x;
  const float g = std::ldexp(1.0f, -17);
  scale(x, g);
  for (std::size_t i = 0; i < x.size(); ++i) {
    EXPECT_EQ(x[i].real(), std::ldexp(before[i].real(), -17));
    EXPECT_EQ(x[i].imag(), std::ldexp(before[i].imag(), -17));
  }
  scale(x, 1.0f / g);
  EXPECT_EQ(x, before);
}

}  // namespace
}  // namespace vatel::dsp
