#include "dsp/one_pole.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace vatel::dsp {
namespace {

constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();

TEST(OnePoleSmoother, Coefficients) {
  EXPECT_NEAR(OnePoleSmoother::from_bandwidth(200.0f, 48000.0f), std::exp(-2.0 * M_PI * 200.0 / 48000.0), 1e-6);
  EXPECT_NEAR(OnePoleSmoother::from_time_constant(0.1f, 48000.0f), std::exp(-1.0 / 4.8), 1e-6);
  EXPECT_NEAR(OnePoleSmoother::from_time_constant(5.0f, 48000.0f), std::exp(-1.0 / 240.0), 1e-6);
  // Float32 evaluation in the written order, computed independently.
  EXPECT_EQ(OnePoleSmoother::from_bandwidth(200.0f, 48000.0f), ::expf((200.0f * -6.2831855f) / 48000.0f));
}

TEST(OnePoleSmoother, FloorsTakeNaNAndSmallValues) {
  const float bw1 = OnePoleSmoother::from_bandwidth(1.0f, 8000.0f);
  for (float bw : {0.5f, 0.0f, -5.0f, kNaN}) EXPECT_EQ(OnePoleSmoother::from_bandwidth(bw, 8000.0f), bw1) << bw;
  const float tc = OnePoleSmoother::from_time_constant(0.1f, 48000.0f);
  for (float ms : {0.0f, 0.05f, -1.0f, kNaN})
    EXPECT_EQ(OnePoleSmoother::from_time_constant(ms, 48000.0f), tc) << ms;
}

TEST(OnePoleSmoother, StepResponse) {
  OnePoleSmoother s;
  const float a = 0.75f;
  EXPECT_EQ(s.next(1.0f, a), 0.25f);
  EXPECT_EQ(s.next(1.0f, a), 0.4375f);
  // A different coefficient acts on the same smoothed value.
  EXPECT_EQ(s.next(0.0f, 0.5f), 0.21875f);
  for (int i = 0; i < 200; ++i) s.next(3.0f, a);
  EXPECT_NEAR(s.y, 3.0f, 1e-5f);
}

}  // namespace
}  // namespace vatel::dsp
