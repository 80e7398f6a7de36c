#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <random>
#include <vector>

#include "multicarrier/config.hpp"
#include "multicarrier/training_smoother.hpp"
#include "multicarrier/unit_sequence.hpp"

namespace vatel::multicarrier {
namespace {

OfdmConfig config() {
  const std::int32_t pilots[] = {-21, -7, 7, 21};
  const cf32 values[] = {{1, 0}, {1, 0}, {1, 0}, {-1, 0}};
  return OfdmConfig::create(64, 16, {}, pilots, values, 1e6f, 0.0f, 1.0f, ConstellationOrder::Qpsk, 5)
      .value();
}

// The spectrum of a channel of taps (delay, gain) on the training sequence.
std::vector<cf32> received(const std::vector<std::pair<int, cf32>>& taps) {
  const auto x = pseudo_random_unit_sequence(64, kTrainingSeed);
  std::vector<cf32> y(64);
  for (std::size_t k = 0; k < 64; ++k) {
    std::complex<double> h = 0.0;
    for (auto [d, g] : taps)
      h += std::complex<double>(g) * std::polar(1.0, -2.0 * M_PI * static_cast<double>(k) * d / 64.0);
    y[k] = cf32(static_cast<float>(h.real()), static_cast<float>(h.imag())) * x[k];
  }
  return y;
}

double error_power(const std::vector<cf32>& a, const std::vector<cf32>& b, const OfdmConfig& cfg) {
  double e = 0.0;
  for (std::int32_t c : cfg.plan.data_carriers) e += std::norm(a[cfg.plan.carrier_bin(c)] - b[cfg.plan.carrier_bin(c)]);
  return e / static_cast<double>(cfg.plan.data_carriers.size());
}

TEST(TrainingSmoother, KeepsChannelsInsideThePrefixAndDropsNoise) {
  const OfdmConfig cfg = config();
  TrainingSmoother smoother(cfg.plan);
  ASSERT_TRUE(smoother.active());
  std::mt19937 rng(2);
  std::normal_distribution<float> g(0.0f, std::sqrt(0.05f / 2.0f));
  const std::vector<std::vector<std::pair<int, cf32>>> channels = {
      {{0, {1.0f, 0.0f}}},
      {{0, {0.8f, 0.3f}}, {5, {-0.4f, 0.2f}}, {13, {0.0f, 0.3f}}},
      {{-2, {1.0f, 0.0f}}, {3, {0.5f, -0.5f}}},  // a start found two samples late
  };
  for (const auto& taps : channels) {
    const auto clean = received(taps);
    auto exact = clean;
    smoother.smooth(exact);
    EXPECT_LT(error_power(exact, clean, cfg), 1e-8) << taps.size() << " taps, no noise";
    double before = 0.0, after = 0.0;
    for (int trial = 0; trial < 50; ++trial) {
      auto noisy = clean;
      for (cf32& v : noisy) v += cf32{g(rng), g(rng)};
      before += error_power(noisy, clean, cfg);
      smoother.smooth(noisy);
      after += error_power(noisy, clean, cfg);
    }
    // Each kept path keeps about 1/52 of the noise: a single path is not
    // smeared over its neighbouring delays.
    EXPECT_LT(after, (0.6 + 1.2 * static_cast<double>(taps.size())) / 52.0 * before)
        << taps.size() << " taps";
  }
}

TEST(TrainingSmoother, LeavesNonFiniteSpectraAndLargePlansAlone) {
  const OfdmConfig cfg = config();
  TrainingSmoother smoother(cfg.plan);
  auto y = received({{0, {1.0f, 0.0f}}});
  y[3] = {NAN, 0.0f};
  const auto kept = y;
  smoother.smooth(y);
  for (std::size_t k = 0; k < 64; ++k)
    if (k != 3) EXPECT_EQ(y[k], kept[k]);
  const OfdmConfig big = OfdmConfig::create(2048, 512, {}, {}, {}, 1e6f, 0.0f, 1.0f,
                                            ConstellationOrder::Qpsk, 100).value();
  EXPECT_FALSE(TrainingSmoother(big.plan).active());
}

}  // namespace
}  // namespace vatel::multicarrier
