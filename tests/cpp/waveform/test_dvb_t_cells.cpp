#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <vector>

#include "modulate/dvb_t_frame.hpp"
#include "waveform/dvb_t.hpp"
#include "waveform/dvb_t_cells.hpp"

namespace vatel::waveform::dvb_t {
namespace {

ConstellationOrder order_of(std::size_t bits) {
  return bits == 2 ? ConstellationOrder::Qpsk
                   : bits == 4 ? ConstellationOrder::Qam16 : ConstellationOrder::Qam64;
}

TEST(DvbTSoftLlr, MatchesTheDistanceDefinition) {
  std::mt19937 rng(4);
  std::uniform_real_distribution<float> u(-1.5f, 1.5f);
  for (std::size_t bits : {2u, 4u, 6u}) {
    const auto levels = dvb_t_axis_levels(order_of(bits));
    const std::size_t per_axis = bits / 2;
    for (int trial = 0; trial < 200; ++trial) {
      const cf32 cell{u(rng), u(rng)};
      const std::vector<float> got = dvb_t_soft_llr(bits, cell);
      ASSERT_EQ(got.size(), bits);
      for (std::size_t axis = 0; axis < 2; ++axis) {
        const float x = axis == 0 ? cell.real() : cell.imag();
        for (std::size_t k = 0; k < per_axis; ++k) {
          float set = INFINITY, clear = INFINITY;
          for (std::size_t i = 0; i < levels.size(); ++i) {
            const float d = (x - levels[i]) * (x - levels[i]);
            float& m = (i >> (per_axis - 1 - k)) & 1 ? set : clear;
            m = std::min(m, d);
          }
          EXPECT_EQ(got[2 * k + axis], set - clear) << bits << " " << k;
        }
      }
    }
  }
  // QPSK: 4 s x and 4 s y up to rounding; other bit counts give nothing.
  const auto q = dvb_t_soft_llr(2, {0.3f, -0.2f});
  EXPECT_NEAR(q[0], 4.0f * 0.70710677f * 0.3f, 1e-6f);
  EXPECT_NEAR(q[1], 4.0f * 0.70710677f * -0.2f, 1e-6f);
  for (std::size_t bits : {0u, 1u, 3u, 8u}) EXPECT_TRUE(dvb_t_soft_llr(bits, {1, 1}).empty());
}

TEST(DvbTSoftLlr, HardDecisionsOfMappedCellsGiveTheBitsBack) {
  std::mt19937 rng(8);
  for (std::size_t bits : {2u, 4u, 6u}) {
    const std::size_t cells = 500;
    std::vector<std::uint8_t> in(cells * bits);
    for (auto& b : in) b = rng() & 1;
    std::vector<cf32> mapped(cells);
    modulate::dvb_t_frame::map_cells(in.data(), cells, order_of(bits), mapped.data());
    std::vector<float> llr(cells * bits);
    dvb_t_soft_llr_cells(bits, mapped, llr.data());
    for (std::size_t i = 0; i < in.size(); ++i) ASSERT_EQ(llr[i] <= 0.0f ? 1 : 0, in[i]) << bits << " " << i;
    // The run gives what the single-cell function gives.
    const auto one = dvb_t_soft_llr(bits, mapped[17]);
    for (std::size_t k = 0; k < bits; ++k) EXPECT_EQ(one[k], llr[17 * bits + k]);
  }
}

}  // namespace
}  // namespace vatel::waveform::dvb_t
