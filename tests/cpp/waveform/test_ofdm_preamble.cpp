#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "core/checked.hpp"
#include "core/panic.hpp"
#include "multicarrier/config.hpp"
#include "multicarrier/fft.hpp"
#include "waveform/ofdm_preamble.hpp"

using namespace vatel;
using namespace vatel::waveform::ofdm_preamble;

TEST(PseudoRandomUnitSequence, SignsOfTheFirstElements) {
  struct Case { std::uint64_t seed; int signs[4][2]; };
  const Case cases[] = {
      {kPreambleSeed, {{-1, 1}, {-1, 1}, {1, 1}, {-1, 1}}},
      {kTrainingSeed, {{-1, 1}, {1, 1}, {1, -1}, {1, 1}}},
  };
  for (const Case& c : cases) {
    const auto v = pseudo_random_unit_sequence(4, c.seed);
    for (int i = 0; i < 4; ++i) {
      EXPECT_EQ(v[i].real(), c.signs[i][0] * 0.70710677f) << i;
      EXPECT_EQ(v[i].imag(), c.signs[i][1] * 0.70710677f) << i;
    }
  }
}

TEST(PseudoRandomUnitSequence, PrefixProperty) {
  EXPECT_TRUE(pseudo_random_unit_sequence(0, kPreambleSeed).empty());
  const auto a = pseudo_random_unit_sequence(10, 77), b = pseudo_random_unit_sequence(25, 77);
  EXPECT_TRUE(std::equal(a.begin(), a.end(), b.begin()));
}

TEST(PseudoRandomUnitSequence, SignBoundaryFollowsFloatRounding) {
  // After rounding to float, the + sign goes exactly to draws
  // u >= 2^63 - 2^38: an integer statement of the same rule.
  for (std::uint64_t seed : {std::uint64_t{1}, std::uint64_t{0x123456789abcdef}, kPreambleSeed,
                             kTrainingSeed}) {
    std::uint64_t s = seed;
    const auto v = pseudo_random_unit_sequence(64, seed);
    for (const cf32& x : v) {
      for (float comp : {x.real(), x.imag()}) {
        s ^= s << 13;
        s ^= s >> 7;
        s ^= s << 17;
        const bool plus = s >= (1ull << 63) - (1ull << 38);
        EXPECT_EQ(comp > 0, plus);
      }
    }
  }
}

TEST(BandLimitedRepeatBase, AlternatesPositiveAndNegativeMultiples) {
  auto it = band_limited_repeat_base(4, 26, 64);
  std::vector<std::size_t> bins;
  while (auto b = it.next()) bins.push_back(*b);
  EXPECT_EQ(bins, (std::vector<std::size_t>{4, 60, 8, 56, 12, 52, 16, 48, 20, 44, 24, 40}));
  auto none = band_limited_repeat_base(8, 7, 64);
  EXPECT_FALSE(none.next().has_value());
  // A largest index at the top of the range does not wrap.
  auto top = band_limited_repeat_base(std::size_t(-1) / 2, std::size_t(-1), 0);
  EXPECT_TRUE(top.next().has_value());
  EXPECT_TRUE(top.next().has_value());
  EXPECT_TRUE(top.next().has_value());
  EXPECT_TRUE(top.next().has_value());
  EXPECT_FALSE(top.next().has_value());
}

namespace {

multicarrier::OfdmConfig config26(float gain = 1.0f) {
  std::vector<std::int32_t> data;
  for (int k = -26; k <= 26; ++k)
    if (k != 0) data.push_back(k);
  return multicarrier::OfdmConfig::create(64, 16, data, {}, {}, 1e6f, 0.0f, gain,
                                          multicarrier::ConstellationOrder::Qpsk, std::nullopt)
      .value();
}

}  // namespace

TEST(GenerateOfdmPreamble, SegmentIsBandLimitedAndScaled) {
  OfdmPreambleParams p;
  p.num_repeats = 3;
  p.repeat_len = 16;
  p.with_training_symbol.emplace(64, 16);
  const auto out = generate_ofdm_preamble(p, config26());
  ASSERT_EQ(out.size(), 128u);
  for (std::size_t i = 0; i < 16; ++i) {
    EXPECT_EQ(out[i], out[i + 16]);
    EXPECT_EQ(out[i], out[i + 32]);
  }
  double e = 0;
  for (std::size_t i = 0; i < 16; ++i) e += std::norm(std::complex<double>(out[i]));
  EXPECT_NEAR(std::sqrt(e / 16), 2.0 * std::sqrt(52.0) / 64.0, 1e-6);
  // The training symbol: prefix equals the tail.
  for (std::size_t i = 0; i < 16; ++i) EXPECT_EQ(out[48 + i], out[48 + 64 + i]);
}

TEST(GenerateOfdmPreamble, FallbackPanicsAndSizesTooLarge) {
  OfdmPreambleParams p;
  p.num_repeats = 2;
  p.repeat_len = 24;  // does not divide 64
  const auto out = generate_ofdm_preamble(p, config26());
  const auto seq = pseudo_random_unit_sequence(24, kPreambleSeed);
  ASSERT_EQ(out.size(), 48u);
  for (std::size_t i = 0; i < 48; ++i) EXPECT_EQ(out[i], seq[i % 24]);
  p.with_training_symbol.emplace(64, 65);
  EXPECT_THROW(generate_ofdm_preamble(p, config26()), core::Panic);
  p.with_training_symbol.reset();
  p.num_repeats = std::size_t(-1);
  EXPECT_THROW(generate_ofdm_preamble(p, config26()), core::SizeTooLarge);  // size overflow
}
