#include <gtest/gtest.h>

#include <algorithm>
#include <set>
#include <vector>

#include "core/panic.hpp"
#include "waveform/dvb_t.hpp"

using namespace vatel;
using namespace vatel::waveform::dvb_t;

namespace {

std::set<std::size_t> scattered(std::size_t l) {
  std::set<std::size_t> s;
  for (std::size_t k = 3 * l; k < kActiveCarriers; k += 12) s.insert(k);
  return s;
}

std::size_t carrier_of(std::int32_t index) { return static_cast<std::size_t>(index + 852); }

}  // namespace

TEST(DvbTNumerology, GuardsBandwidthsAndLowpassSizing) {
  EXPECT_EQ(cp_len(DvbTGuard::G1_32), 64u);
  EXPECT_EQ(cp_len(DvbTGuard::G1_4), 512u);
  EXPECT_EQ(guard_from_name("1/8"), DvbTGuard::G1_8);
  EXPECT_FALSE(guard_from_name("1/8 ").has_value());
  EXPECT_EQ(nb_bandwidth_fs(NbBandwidth::Khz333), 399990.625f);
  EXPECT_EQ(nb_bandwidth_fs(NbBandwidth::Mhz1), 1201173.0f);
  EXPECT_EQ(nb_bandwidth_fs(NbBandwidth::Mhz2), 2402346.0f);
  for (auto [db, taps] : std::vector<std::pair<float, std::size_t>>{
           {60.0f, 45}, {21.0f, 11}, {-5.0f, 11}, {40.0f, 27}, {80.0f, 61}, {100.0f, 77}})
    EXPECT_EQ(tx_lowpass_suggested_taps(db), taps) << db;
  EXPECT_TRUE(tx_lowpass_fits_guard(DvbTGuard::G1_4, 45, 0, 256));
  EXPECT_FALSE(tx_lowpass_fits_guard(DvbTGuard::G1_4, 45, 0, 10));
  // roll_off + delay would wrap to 0 in 64 bits.
  EXPECT_FALSE(tx_lowpass_fits_guard(DvbTGuard::G1_4, 45, ~std::size_t{0} - 21, 256));
  const auto lp = tx_lowpass(4, 60.0f);
  EXPECT_EQ(lp.num_taps, 4u);
  EXPECT_EQ(lp.cutoff, (852.0f / 2048.0f + 0.5f) * 0.5f);  // 5 taps: too wide a transition
}

TEST(DvbTTables, ReferenceSequenceStartsAsTheStandardSays) {
  const std::vector<std::uint8_t> w = wk_prbs();
  ASSERT_EQ(w.size(), 1705u);
  const char* first40 = "1111111111100110011001011010010111000101";
  for (std::size_t k = 0; k < 40; ++k) EXPECT_EQ(w[k], first40[k] - '0') << k;
  EXPECT_EQ(std::count(w.begin(), w.end(), 1), 849);
  for (std::size_t k = 11; k < w.size(); ++k) ASSERT_EQ(w[k], w[k - 11] ^ w[k - 2]);
}

TEST(DvbTTables, FourPlansHoldThe2kLayout) {
  const std::vector<std::uint8_t> w = wk_prbs();
  const auto plans = dvb_t_2k_plans(DvbTGuard::G1_16);
  const std::set<std::size_t> continual(kContinualPilots.begin(), kContinualPilots.end());
  const std::set<std::size_t> tps(kTpsCarriers.begin(), kTpsCarriers.end());
  for (std::size_t l = 0; l < 4; ++l) {
    const auto& p = plans[l];
    EXPECT_EQ(p.n_fft, 2048u);
    EXPECT_EQ(p.cp_len, 128u);
    EXPECT_FALSE(p.validate().has_value());
    ASSERT_EQ(p.data_carriers.size(), 1512u);
    ASSERT_EQ(p.pilot_carriers.size(), 193u);
    std::set<std::size_t> pilots_expected = continual;
    pilots_expected.insert(tps.begin(), tps.end());
    const auto sc = scattered(l);
    EXPECT_EQ(sc.size(), l == 0 ? 143u : 142u);
    pilots_expected.insert(sc.begin(), sc.end());
    std::vector<std::size_t> got;
    for (const auto& pc : p.pilot_carriers) {
      got.push_back(carrier_of(pc.index));
      EXPECT_EQ(pc.value, cf32(w[carrier_of(pc.index)] ? -4.0f / 3.0f : 4.0f / 3.0f, 0.0f));
    }
    EXPECT_TRUE(std::is_sorted(got.begin(), got.end()));
    EXPECT_EQ(std::set<std::size_t>(got.begin(), got.end()), pilots_expected);
    for (std::size_t i = 0; i + 1 < p.data_carriers.size(); ++i)
      ASSERT_LT(p.data_carriers[i], p.data_carriers[i + 1]);
    for (std::int32_t k : p.data_carriers) ASSERT_EQ(pilots_expected.count(carrier_of(k)), 0u);
  }
  // DC is a scattered pilot of phase 0 only, and carries -4/3.
  EXPECT_NE(std::find(plans[1].data_carriers.begin(), plans[1].data_carriers.end(), 0),
            plans[1].data_carriers.end());
  for (const auto& pc : plans[0].pilot_carriers) {
    if (pc.index == 0) {
      EXPECT_EQ(pc.value.real(), -4.0f / 3.0f);
    }
  }
  // Guards differ only in the prefix.
  auto other = dvb_t_2k_plans(DvbTGuard::G1_4);
  for (std::size_t l = 0; l < 4; ++l) {
    other[l].cp_len = 128;
    EXPECT_EQ(other[l], plans[l]);
  }
  const std::array<std::size_t, 17> bins = {1230, 1246, 1405, 1542, 1609, 1765, 1791, 1884, 1986,
                                            49,   221,  367,  410,  434,  617,  742,  835};
  for (std::size_t i = 0; i < 17; ++i) EXPECT_EQ(kTpsBins[i], bins[i]);
}

TEST(DvbTTables, MapperWritesCellsPilotsAndLeavesTheGapEmpty) {
  ScatteredGridCycle cycle(DvbTGuard::G1_32);
  for (std::size_t l = 0; l < 4; ++l) {
    EXPECT_EQ(cycle.pilots[l].size(), 176u);
    for (const auto& p : cycle.pilots[l])
      EXPECT_EQ(std::count(kTpsBins.begin(), kTpsBins.end(), p.bin), 0);
  }
  ScatteredPilotMapper mapper(cycle);
  std::vector<cf32> cells(1512), out(2048, cf32{9.0f, 9.0f});
  for (std::size_t i = 0; i < cells.size(); ++i) cells[i] = cf32(0.25f, static_cast<float>(i));
  for (std::size_t s = 0; s < 68; ++s) {
    const std::size_t l = mapper.index;
    EXPECT_EQ(l, s % 4);
    mapper.map_symbol(cells, out);
    for (std::size_t b = 853; b <= 1195; ++b) ASSERT_EQ(out[b], cf32{}) << b;
    const auto& g = mapper.grids[l];
    for (std::size_t i = 0; i < g.data_bins.size(); ++i) ASSERT_EQ(out[g.data_bins[i]], cells[i]);
    for (const auto& p : g.pilots) ASSERT_EQ(out[p.bin], p.value);
    // The first data cell sits on the lowest data carrier: carrier 1 or 2
    // (carrier 0 is a continual pilot), in the upper half of the FFT.
    EXPECT_GE(g.data_bins[0], 1196u);
  }
  EXPECT_EQ(mapper.index, 0u);
  std::vector<cf32> short_out(100);
  EXPECT_THROW(mapper.map_symbol(cells, short_out), core::Panic);
}
