#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <vector>

#include "sync/waterfall.hpp"

namespace vatel::sync {
namespace {

using waterfall::compute_waterfall;

std::vector<cf32> tone(std::size_t n, float freq, float fs, float amp) {
  std::vector<cf32> x(n);
  for (std::size_t i = 0; i < n; ++i) {
    const double ph = 2.0 * M_PI * freq * static_cast<double>(i) / fs;
    x[i] = cf32(static_cast<float>(amp * std::cos(ph)), static_cast<float>(amp * std::sin(ph)));
  }
  return x;
}

TEST(Waterfall, EmptyShapes) {
  const std::vector<cf32> x(100, cf32(1.0f, 0.0f));
  for (auto [steps, bins] : {std::pair<std::size_t, std::size_t>{0, 5}, {5, 0}, {0, 0}}) {
    const Waterfall w = compute_waterfall(x, 10, steps, bins, 12000.0f, 0.0f, 6.25f, 0);
    EXPECT_TRUE(w.data.empty());
    EXPECT_EQ(w.n_steps, steps);
    EXPECT_EQ(w.n_bins, bins);
  }
}

TEST(Waterfall, SilenceAndRowsPastTheEnd) {
  const std::vector<cf32> x(1920 * 3 + 100);
  const Waterfall w = compute_waterfall(x, 1920, 6, 20, 12000.0f, 100.0f, 6.25f, 0);
  ASSERT_EQ(w.data.size(), 120u);
  for (std::size_t s = 0; s < 6; ++s)
    for (std::size_t k = 0; k < 20; ++k) EXPECT_EQ(w.at(s, k), s < 4 ? std::log(1e-12f) : 0.0f) << s << " " << k;
  EXPECT_FLOAT_EQ(std::log(1e-12f), -27.631021f);
  // Start beyond the input: all zero.
  const Waterfall z = compute_waterfall(x, 1920, 3, 4, 12000.0f, 0.0f, 6.25f, x.size());
  for (float v : z.data) EXPECT_EQ(v, 0.0f);
  // An empty input, and a start whose row offsets wrap, stay zero too.
  const Waterfall e = compute_waterfall({}, 1920, 2, 3, 12000.0f, 0.0f, 6.25f, 0);
  for (float v : e.data) EXPECT_EQ(v, 0.0f);
  const Waterfall big = compute_waterfall(x, SIZE_MAX / 2, 4, 3, 12000.0f, 0.0f, 6.25f, 1);
  EXPECT_EQ(big.at(0, 0), std::log(1e-12f));
  for (std::size_t s = 1; s < 4; ++s) EXPECT_EQ(big.at(s, 0), 0.0f) << s;
}

TEST(Waterfall, ToneLandsInItsBin) {
  // 12 periods of 75 Hz in 1920 samples at 12 kHz: bin 12 of 6.25 Hz bins
  // starting at 0 Hz; bins 200 Hz up are a separate check of base_hz.
  const float amp = 0.3f;
  const auto x = tone(1920 * 2, 75.0f, 12000.0f, amp);
  const Waterfall w = compute_waterfall(x, 1920, 2, 25, 12000.0f, 0.0f, 6.25f, 0);
  const float peak = std::log(1920.0f * 1920.0f * amp * amp);
  for (std::size_t s = 0; s < 2; ++s) {
    EXPECT_NEAR(w.at(s, 12), peak, 1e-3f);
    for (std::size_t k = 0; k < 25; ++k)
      if (k != 12) {
        EXPECT_LT(w.at(s, k), peak - 8.0f) << k;
      }
  }
  const Waterfall up = compute_waterfall(x, 1920, 1, 4, 12000.0f, 62.5f, 6.25f, 0);
  EXPECT_NEAR(up.at(0, 2), peak, 1e-3f);
  // A negative frequency is a separate bin.
  const auto neg = tone(1920, -75.0f, 12000.0f, amp);
  const Waterfall wn = compute_waterfall(neg, 1920, 1, 3, 12000.0f, -81.25f, 6.25f, 0);
  EXPECT_NEAR(wn.at(0, 1), peak, 1e-3f);
}

TEST(Waterfall, PartialLastWindow) {
  const float amp = 1.0f;
  const auto x = tone(1920 + 960, 75.0f, 12000.0f, amp);
  const Waterfall w = compute_waterfall(x, 1920, 2, 13, 12000.0f, 0.0f, 6.25f, 0);
  EXPECT_NEAR(w.at(0, 12), std::log(1920.0f * 1920.0f), 1e-3f);
  EXPECT_NEAR(w.at(1, 12), std::log(960.0f * 960.0f), 1e-3f);
}

TEST(Waterfall, KernelsAgreeAndBinPaddingIsInvisible) {
  std::mt19937 rng(41);
  std::normal_distribution<float> g(0.0f, 1.0f);
  std::vector<cf32> x(3000);
  for (auto& v : x) v = cf32(g(rng), g(rng));
  std::vector<float> wr(32), wi(32), a(32), b(32);
  for (std::size_t k = 0; k < 32; ++k) ::sincosf(-0.01f * static_cast<float>(k), &wi[k], &wr[k]);
  waterfall::log_power_kernel_portable(x.data(), x.size(), wr.data(), wi.data(), 32, a.data());
  waterfall::log_power_kernel_fma(x.data(), x.size(), wr.data(), wi.data(), 32, b.data());
  EXPECT_EQ(a, b);
  // A bin's value does not depend on how many bins are computed beside it.
  const Waterfall w5 = compute_waterfall(x, 1000, 3, 5, 12000.0f, 300.0f, 12.5f, 7);
  const Waterfall w40 = compute_waterfall(x, 1000, 3, 40, 12000.0f, 300.0f, 12.5f, 7);
  for (std::size_t s = 0; s < 3; ++s)
    for (std::size_t k = 0; k < 5; ++k) EXPECT_EQ(w5.at(s, k), w40.at(s, k));
}

}  // namespace
}  // namespace vatel::sync
