#include "demodulate/qam.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <random>
#include <vector>

#include "../dsp/stream_check.hpp"
#include "demodulate/decider.hpp"
#include "modulate/qam.hpp"

namespace vatel::demodulate {
namespace {

constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();
constexpr float kInf = std::numeric_limits<float>::infinity();

std::vector<std::uint8_t> bits_of(const core::Buffer<std::uint8_t>& b) { return {b.begin(), b.end()}; }

TEST(QamDemod, RejectsOtherOrders) {
  for (std::uint32_t order : {0u, 8u, 32u, 512u, 0xffffffffu}) {
    auto r = QamDemod::create(order, 1.0f);
    ASSERT_FALSE(r.ok()) << order;
    EXPECT_EQ(r.error().message, "QamDemod: order must be 16, 64, or 256");
  }
}

TEST(QamDemod, DecisionsAtThresholdsAndSpecialValues) {
  struct Case {
    cf32 z;
    std::vector<std::uint8_t> bits;
  };
  const float s = 0.31622776f;  // 16-QAM scale; thresholds -2s, 0, +2s
  const Case cases[] = {
      {{0.94868326f, -0.31622776f}, {1, 0, 0, 1}},
      {{0.0f, 0.0f}, {0, 1, 0, 1}},             // on the middle threshold: lower side
      {{-0.0f, -0.0f}, {0, 1, 0, 1}},
      {{2.0f * s, -2.0f * s}, {1, 1, 0, 0}},    // on +2s: position 2; on -2s: position 0
      {{std::nextafter(2.0f * s, 1.0f), std::nextafter(-2.0f * s, 0.0f)}, {1, 0, 0, 1}},
      {{kInf, -kInf}, {1, 0, 0, 0}},
      {{kNaN, 0.5f}, {0, 0, 1, 1}},
      {{kNaN, kNaN}, {0, 0, 0, 0}},
  };
  auto demod = QamDemod::create(16, 1.0f).value();
  for (const Case& c : cases) {
    const cf32 z[] = {c.z};
    EXPECT_EQ(bits_of(demod.process(z)), c.bits) << c.z;
  }
  // A NaN gain decides every sample to zeros.
  demod.set_gain(kNaN);
  const cf32 z[] = {{0.9f, -0.9f}};
  EXPECT_EQ(bits_of(demod.process(z)), (std::vector<std::uint8_t>{0, 0, 0, 0}));
}

TEST(QamDemod, GainScalesBeforeTheDecision) {
  auto demod = QamDemod::create(16, 4.0f).value();
  const cf32 z[] = {{0.25f * 0.94868326f, 0.25f * -0.31622776f}};
  EXPECT_EQ(bits_of(demod.process(z)), (std::vector<std::uint8_t>{1, 0, 0, 1}));
  demod.set_gain(-4.0f);  // mirrors both axes
  EXPECT_EQ(bits_of(demod.process(z)), (std::vector<std::uint8_t>{0, 0, 1, 1}));
}

TEST(QamDemod, RoundTripEveryOrder) {
  std::mt19937 rng(11);
  for (std::uint32_t order : {16u, 64u, 256u}) {
    const std::size_t k = order == 16 ? 4 : order == 64 ? 6 : 8;
    std::vector<std::uint8_t> bits(k * 4000 + k - 1);  // with a tail that is dropped
    for (auto& b : bits) b = static_cast<std::uint8_t>(rng() & 0xffu);
    auto mod = modulate::QamMod::create(order, 48000.0f, 0.0f, 1.0f).value();
    auto demod = QamDemod::create(order, 1.0f).value();
    auto out = demod.process(mod.process(bits).span());
    ASSERT_EQ(out.size(), k * 4000) << order;
    for (std::size_t i = 0; i < out.size(); ++i) ASSERT_EQ(out[i], bits[i] & 1u) << order << " " << i;
  }
}

TEST(QamDemod, RoundTripWithGain) {
  // Received at a quarter of the level, brought back by the demodulator's gain.
  std::vector<std::uint8_t> bits(8 * 500);
  std::mt19937 rng(5);
  for (auto& b : bits) b = static_cast<std::uint8_t>(rng() & 1u);
  auto mod = modulate::QamMod::create(256, 1.0f, 0.0f, 0.25f).value();
  auto demod = QamDemod::create(256, 4.0f).value();
  EXPECT_EQ(bits_of(demod.process(mod.process(bits).span())), bits);
}

TEST(QamDemod, SameBitsAsThePointByPointDecider) {
  // Noisy points around the lattice, every threshold and its neighbours one
  // ulp away, the signed zeros, infinities and NaN, over lengths on both
  // sides of the decider's block of 128 points; each order and a few gains.
  std::mt19937 rng(3);
  std::normal_distribution<float> noise(0.0f, 0.8f);
  for (std::uint32_t order : {16u, 64u, 256u}) {
    const dsp::QamTable& t = *dsp::qam_table(order);
    std::vector<float> v = {0.0f, -0.0f, kInf, -kInf, kNaN, -kNaN, 3.0f, -3.0f};
    for (unsigned i = 0; i + 1 < t.levels; ++i) {
      const float thr = t.threshold[i];
      v.insert(v.end(), {thr, std::nextafter(thr, -kInf), std::nextafter(thr, kInf), t.level[i], -thr});
    }
    while (v.size() < 2 * 1000) v.push_back(noise(rng));
    std::vector<cf32> points(v.size() / 2);
    for (std::size_t i = 0; i < points.size(); ++i) points[i] = {v[2 * i], v[(7 * i + 1) % v.size()]};
    const std::size_t k = 2 * t.bits_per_axis;
    for (const float gain : {1.0f, 0.37f, -2.5f}) {
      auto demod = QamDemod::create(order, gain).value();
      for (const std::size_t n : {std::size_t{0}, std::size_t{1}, std::size_t{127}, std::size_t{128},
                                  std::size_t{129}, std::size_t{300}, points.size()}) {
        const auto got = demod.process(std::span<const cf32>(points).first(n));
        std::vector<std::uint8_t> want(n * k);
        for (std::size_t i = 0; i < n; ++i)
          qam_decide(t, {points[i].real() * gain, points[i].imag() * gain}, want.data() + i * k);
        ASSERT_EQ(bits_of(got), want) << order << " gain " << gain << " n " << n;
      }
    }
  }
}

}  // namespace
}  // namespace vatel::demodulate
