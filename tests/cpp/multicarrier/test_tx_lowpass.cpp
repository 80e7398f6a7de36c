#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <random>
#include <vector>

#include "dsp/fir.hpp"
#include "multicarrier/tx_lowpass.hpp"

using namespace vatel;
using namespace vatel::multicarrier;

TEST(Kaiser, BetaAnchors) {
  EXPECT_EQ(dsp::kaiser_beta(20.0f), 0.0f);
  EXPECT_EQ(dsp::kaiser_beta(21.0f), 0.0f);
  EXPECT_NEAR(dsp::kaiser_beta(60.0f), 0.1102f * 51.3f, 1e-5);
  EXPECT_NEAR(dsp::kaiser_beta(60.0f), 5.653f, 1e-3);
  EXPECT_NEAR(dsp::kaiser_beta(40.0f), 0.5842 * std::pow(19.0, 0.4) + 0.07886 * 19.0, 1e-5);
}

TEST(Kaiser, BesselI0MatchesTheSeries) {
  EXPECT_EQ(dsp::bessel_i0(0.0f), 1.0f);
  EXPECT_NEAR(dsp::bessel_i0(1.0f), 1.2660658777520082, 1e-6);
  EXPECT_NEAR(dsp::bessel_i0(5.653f), std::cyl_bessel_i(0.0, 5.653), 1e-5 * 40);
}

TEST(TxLowpass, DesignedLengthAndDelay) {
  struct Case { std::size_t req, taps, delay; };
  for (Case c : {Case{0, 3, 1}, Case{1, 3, 1}, Case{2, 3, 1}, Case{3, 3, 1}, Case{4, 5, 2},
                 Case{6, 7, 3}, Case{63, 63, 31}}) {
    EXPECT_EQ(tx_lowpass_designed_taps(c.req), c.taps) << c.req;
    EXPECT_EQ(tx_lowpass_group_delay(c.req), c.delay) << c.req;
    EXPECT_EQ(dsp::FirLowpassIq(c.taps, 0.2f, 60.0f).delay(), c.delay);
  }
}

TEST(FirLowpassIq, TapsAreSymmetricWithUnitDcGain) {
  const dsp::FirLowpassIq f(31, 0.1f, 60.0f);
  const auto& t = f.taps();
  ASSERT_EQ(t.size(), 31u);
  float s = 0.0f;
  for (std::size_t i = 0; i < t.size(); ++i) {
    EXPECT_EQ(t[i], t[30 - i]);
    s += t[i];
  }
  EXPECT_NEAR(s, 1.0f, 1e-6);
  // The centre tap is 2 fc before normalisation: 0.2 / S with S close to 1.
  EXPECT_NEAR(t[15], 0.2f, 0.01f);
}

TEST(FirLowpassIq, CutoffIsClamped) {
  EXPECT_EQ(dsp::FirLowpassIq(15, 0.6f, 60.0f).taps(), dsp::FirLowpassIq(15, 0.4999f, 60.0f).taps());
  EXPECT_EQ(dsp::FirLowpassIq(15, 0.0f, 60.0f).taps(), dsp::FirLowpassIq(15, 0.0001f, 60.0f).taps());
  EXPECT_EQ(dsp::FirLowpassIq(15, -1.0f, 60.0f).taps(), dsp::FirLowpassIq(15, 0.0001f, 60.0f).taps());
}

TEST(TxLowpass, ImpulseComesOutAsTheTapsCentredOnIt) {
  const TxLowpass lp{0.2f, 60.0f, 11};
  std::vector<cf32> buf(40);
  buf[20] = cf32(1, -2);
  lp.apply(buf);
  const dsp::FirLowpassIq f(11, 0.2f, 60.0f);
  for (std::size_t j = 0; j < 11; ++j) {
    EXPECT_EQ(buf[20 + 5 - j].real(), f.taps()[j]);
    EXPECT_EQ(buf[20 + 5 - j].imag(), -2.0f * f.taps()[j]);
  }
  EXPECT_EQ(buf[14], cf32(0, 0));
  EXPECT_EQ(buf[26], cf32(0, 0));
}

TEST(TxLowpass, OnesStayOnesAwayFromTheEnds) {
  const TxLowpass lp{0.25f, 50.0f, 9};
  std::vector<cf32> buf(30, cf32(1, 1));
  lp.apply(buf);
  for (std::size_t i = 4; i < 26; ++i) EXPECT_NEAR(buf[i].real(), 1.0f, 2e-6) << i;
  EXPECT_LT(buf[0].real(), 0.9f);
  EXPECT_LT(buf[29].real(), 0.9f);
  EXPECT_NEAR(buf[0].real(), buf[29].real(), 1e-6);
  std::vector<cf32> empty;
  lp.apply(empty);
  EXPECT_TRUE(empty.empty());
}

TEST(TxLowpass, EqualsADirectZeroPaddedConvolution) {
  std::mt19937 gen(4);
  std::normal_distribution<float> d;
  const std::size_t len = 100, n = 21, m = 10;
  std::vector<cf32> x(len);
  for (auto& v : x) v = {d(gen), d(gen)};
  std::vector<cf32> y = x;
  TxLowpass{0.18f, 70.0f, n}.apply(y);
  const auto taps = dsp::FirLowpassIq(n, 0.18f, 70.0f).taps();
  for (std::size_t i = 0; i < len; ++i) {
    float re = 0.0f, im = 0.0f;
    for (std::size_t j = 0; j < n; ++j) {
      const std::int64_t k = std::int64_t(i + m) - std::int64_t(j);
      const cf32 v = (k >= 0 && k < std::int64_t(len)) ? x[k] : cf32{};
      re = std::fma(taps[j], v.real(), re);
      im = std::fma(taps[j], v.imag(), im);
    }
    ASSERT_EQ(std::bit_cast<std::uint32_t>(y[i].real()), std::bit_cast<std::uint32_t>(re)) << i;
    ASSERT_EQ(std::bit_cast<std::uint32_t>(y[i].imag()), std::bit_cast<std::uint32_t>(im)) << i;
  }
}

TEST(FirLowpassIq, FmaAndPortableKernelsAgreeBitForBit) {
  std::mt19937 gen(8);
  std::normal_distribution<float> d;
  std::vector<float> taps(63);
  std::vector<cf32> x(63);
  for (auto& t : taps) t = d(gen);
  for (auto& v : x) v = {d(gen), d(gen)};
  const cf32 a = dsp::fir_dot_portable(taps.data(), x.data(), 63);
  const cf32 b = dsp::fir_dot_fma(taps.data(), x.data(), 63);
  EXPECT_EQ(std::bit_cast<std::uint64_t>(a), std::bit_cast<std::uint64_t>(b));
}
