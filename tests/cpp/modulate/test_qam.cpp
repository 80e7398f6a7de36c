#include "modulate/qam.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <vector>

#include "../dsp/stream_check.hpp"
#include "core/cpu.hpp"

namespace vatel::modulate {
namespace {

using test::same_bits;

std::vector<std::uint8_t> random_bits(std::size_t n, unsigned seed) {
  std::mt19937 rng(seed);
  std::vector<std::uint8_t> b(n);
  for (auto& v : b) v = static_cast<std::uint8_t>(rng() & 3u);  // upper bit must be ignored
  return b;
}

TEST(QamMod, RejectsOtherOrders) {
  for (std::uint32_t order : {0u, 4u, 32u, 128u, 1024u, 0xffffffffu}) {
    auto r = QamMod::create(order, 1.0f, 0.0f, 1.0f);
    ASSERT_FALSE(r.ok()) << order;
    EXPECT_EQ(r.error().message, "QamMod: order must be 16, 64, or 256");
  }
  for (std::uint32_t order : {16u, 64u, 256u}) EXPECT_TRUE(QamMod::create(order, 1.0f, 0.0f, 1.0f).ok());
}

TEST(QamMod, PointsAtZeroFrequency) {
  auto mod = QamMod::create(16, 48000.0f, 0.0f, 1.0f).value();
  const std::uint8_t bits[] = {1, 0, 0, 1, 0, 0, 0, 0, 3, 2, 2, 3};
  auto out = mod.process(bits);
  ASSERT_EQ(out.size(), 3u);
  EXPECT_EQ(out[0], cf32(0.94868326f, -0.31622776f));
  EXPECT_EQ(out[1], cf32(-0.94868326f, -0.94868326f));
  EXPECT_EQ(out[2], out[0]);  // only the least significant bit counts
}

TEST(QamMod, LevelTablesAndUnitPower) {
  struct Case {
    std::uint32_t order;
    float scale;
    std::vector<int> levels;  // by axis bit pattern
  };
  const Case cases[] = {
      {16, 0.31622776f, {-3, -1, 3, 1}},
      {64, 0.15430336f, {-7, -5, -1, -3, 7, 5, 1, 3}},
      {256, 0.0766965f, {-15, -13, -9, -11, -1, -3, -7, -5, 15, 13, 9, 11, 1, 3, 7, 5}},
  };
  for (const Case& c : cases) {
    const unsigned m = static_cast<unsigned>(std::log2(c.levels.size()));
    auto mod = QamMod::create(c.order, 1.0f, 0.0f, 1.0f).value();
    // Every point once: I index over the high m bits, Q over the low.
    std::vector<std::uint8_t> bits;
    for (unsigned i = 0; i < c.order; ++i)
      for (unsigned k = 0; k < 2 * m; ++k) bits.push_back(static_cast<std::uint8_t>((i >> (2 * m - 1 - k)) & 1u));
    auto out = mod.process(bits);
    ASSERT_EQ(out.size(), c.order);
    double power = 0.0;
    for (unsigned i = 0; i < c.order; ++i) {
      const unsigned bi = i >> m, bq = i & ((1u << m) - 1u);
      EXPECT_EQ(out[i].real(), static_cast<float>(c.levels[bi]) * c.scale) << c.order << " " << i;
      EXPECT_EQ(out[i].imag(), static_cast<float>(c.levels[bq]) * c.scale) << c.order << " " << i;
      power += std::norm(std::complex<double>(out[i]));
    }
    EXPECT_NEAR(power / c.order, 1.0, 1e-6) << c.order;
  }
}

TEST(QamMod, SymbolCountDropsTail) {
  struct Case {
    std::uint32_t order;
    std::size_t bits, samples;
  };
  const Case cases[] = {{64, 13, 2}, {64, 5, 0}, {256, 8, 1}, {16, 0, 0}, {16, 7, 1}, {256, 15, 1}};
  for (const Case& c : cases) {
    auto mod = QamMod::create(c.order, 1.0f, 0.0f, 1.0f).value();
    EXPECT_EQ(mod.process(random_bits(c.bits, 1)).size(), c.samples) << c.order << " " << c.bits;
  }
  // The dropped tail is not carried into the next call.
  auto a = QamMod::create(16, 1.0f, 0.0f, 1.0f).value();
  auto first = a.process(std::vector<std::uint8_t>{1, 1, 1});
  auto second = a.process(std::vector<std::uint8_t>{0, 0, 0, 0});
  EXPECT_EQ(first.size(), 0u);
  ASSERT_EQ(second.size(), 1u);
  EXPECT_EQ(second[0], cf32(-0.94868326f, -0.94868326f));
}

TEST(QamMod, CarrierGainAndBlockSplit) {
  const auto bits = random_bits(6 * 2500, 7);
  auto whole = QamMod::create(64, 48000.0f, 1234.5f, 0.5f).value();
  auto pieced = QamMod::create(64, 48000.0f, 1234.5f, 0.5f).value();
  auto base = QamMod::create(64, 48000.0f, 0.0f, 1.0f).value();
  auto y = whole.process(bits);
  // Pieces not multiples of 6 bits would drop tails, so cut on symbols.
  auto z = test::in_pieces([&](std::span<const std::uint8_t> s) { return pieced.process(s); }, bits,
                           {6, 18, 6 * 1023, 6 * 7});
  EXPECT_TRUE(same_bits(y, z));
  auto x = base.process(bits);
  // The carrier is a unit rotation: |y| = gain |x|.
  for (std::size_t i = 0; i < y.size(); ++i)
    ASSERT_NEAR(std::abs(y[i]), 0.5f * std::abs(x[i]), 1e-5f) << i;
  // set_gain affects only the gain from the next call on.
  whole.set_gain(2.0f);
  pieced.set_gain(2.0f);
  EXPECT_TRUE(same_bits(whole.process(bits), pieced.process(bits)));
}

TEST(QamMod, PortableAndFmaKernelsAgree) {
  if (!core::cpu_has_fma()) GTEST_SKIP() << "no FMA on this CPU";
  const auto bits = random_bits(8 * 3000, 3);
  const dsp::QamTable& t = *dsp::qam_table(256);
  dsp::Rotator a(1000.0f, 8000.0f), b(1000.0f, 8000.0f);
  std::vector<cf32> ya(3000), yb(3000);
  qam_mod_kernel_portable(a, t, bits.data(), ya.data(), 3000, 0.7f);
  qam_mod_kernel_fma(b, t, bits.data(), yb.data(), 3000, 0.7f);
  EXPECT_TRUE(same_bits(ya, yb));
}

}  // namespace
}  // namespace vatel::modulate
