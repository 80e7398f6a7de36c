#include <gtest/gtest.h>

#include <bit>
#include <cstring>
#include <random>
#include <vector>

#include "core/panic.hpp"
#include "modulate/ofdm.hpp"
#include "multicarrier/fft.hpp"

using namespace vatel;
using namespace vatel::multicarrier;

namespace {

OfdmConfig config(ConstellationOrder order, float rf_hz = 0.0f, std::size_t cp = 16) {
  const std::int32_t pilots[] = {-21, -7, 7, 21};
  const cf32 values[] = {1, 1, 1, -1};
  return OfdmConfig::create(64, cp, {}, pilots, values, 1e6f, rf_hz, 1.0f, order, 4).value();
}

}  // namespace

TEST(OfdmMod, SpectrumOfEverySymbolIsThePlacedCells) {
  for (ConstellationOrder order : {ConstellationOrder::Bpsk, ConstellationOrder::Qpsk,
                                   ConstellationOrder::Qam16, ConstellationOrder::Qam64,
                                   ConstellationOrder::Qam256}) {
    const OfdmConfig cfg = config(order);
    modulate::OfdmMod mod(cfg);
    std::mt19937 gen(static_cast<unsigned>(order) + 1u);
    std::vector<std::uint8_t> bits(mod.bits_per_symbol() * 2 + 3);
    for (auto& b : bits) b = std::uint8_t(gen() & 1);
    const auto out = mod.modulate(bits);
    ASSERT_EQ(out.size(), 3u * 80u);
    const CarrierGrid grid = CarrierGrid::from_plan(cfg.plan);
    FftBlock fft(64);
    for (std::size_t s = 0; s < 3; ++s) {
      std::vector<cf32> X(64);
      fft.process(out.span().subspan(s * 80 + 16, 64), X);
      for (const PilotBin& p : grid.pilots) EXPECT_NEAR(std::abs(X[p.bin] - p.value), 0.0f, 1e-5);
      for (std::size_t k = 0; k < 64; ++k)
        if (grid.roles[k] == CarrierRole::Inactive) EXPECT_NEAR(std::abs(X[k]), 0.0f, 1e-5);
      // Data cells: the mapper's points of this symbol's bits, zero-padded.
      const std::size_t per = bits_per_point(order), b = mod.bits_per_symbol();
      std::vector<std::uint8_t> sb(b, 0);
      for (std::size_t i = 0; i < b && s * b + i < bits.size(); ++i) sb[i] = bits[s * b + i];
      for (std::size_t k = 0; k < grid.data_bins.size(); ++k) {
        const std::uint8_t* q = sb.data() + k * per;
        cf32 point;
        if (per == 1) point = dsp::bpsk_map(q[0]);
        else if (per == 2) point = dsp::qpsk_map(q[0], q[1]);
        else point = dsp::qam_map(*dsp::qam_table(1u << per), q);
        EXPECT_NEAR(std::abs(X[grid.data_bins[k]] - point), 0.0f, 1e-5) << s << " " << k;
      }
    }
  }
}

TEST(OfdmMod, MixKernelsAgreeBitForBit) {
  std::mt19937 gen(2);
  std::normal_distribution<float> d;
  std::vector<cf32> a(3000);
  for (auto& v : a) v = {d(gen), d(gen)};
  std::vector<cf32> b = a;
  dsp::Rotator ra(1234.5f, 1e5f), rb = ra;
  dsp::mix_kernel_portable(ra, a.data(), a.data(), a.size(), 0.7f);
  dsp::mix_kernel_fma(rb, b.data(), b.data(), b.size(), 0.7f);
  EXPECT_EQ(std::memcmp(a.data(), b.data(), a.size() * sizeof(cf32)), 0);
  EXPECT_EQ(ra.counter, rb.counter);
}

TEST(OfdmMod, PrefixLongerThanTheSymbolPanics) {
  modulate::OfdmMod mod(config(ConstellationOrder::Qpsk, 0.0f, 65));
  EXPECT_EQ(mod.modulate({}).size(), 0u);
  const std::uint8_t bit = 1;
  EXPECT_THROW(mod.modulate({&bit, 1}), core::Panic);
}
