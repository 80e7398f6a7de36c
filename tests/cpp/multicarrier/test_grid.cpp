#include <gtest/gtest.h>

#include <numeric>
#include <vector>

#include "core/panic.hpp"
#include "multicarrier/config.hpp"
#include "multicarrier/grid.hpp"

using namespace vatel;
using namespace vatel::multicarrier;

namespace {

CarrierPlan plan_of(std::size_t n_fft, std::vector<std::int32_t> data,
                    std::vector<PilotCarrier> pilots = {}) {
  CarrierPlan p;
  p.n_fft = n_fft;
  p.cp_len = 0;
  p.data_carriers = std::move(data);
  p.pilot_carriers = std::move(pilots);
  return p;
}

std::vector<std::int32_t> range_without(int lo, int hi, std::vector<int> skip) {
  std::vector<std::int32_t> v;
  for (int k = lo; k <= hi; ++k)
    if (std::find(skip.begin(), skip.end(), k) == skip.end()) v.push_back(k);
  return v;
}

}  // namespace

TEST(CarrierPlan, ContiguousSpanWithoutGuardSkipsDcAndTheLowestIndex) {
  const CarrierPlan p = CarrierPlan::with_contiguous_data(plan_of(64, {}), 0);
  EXPECT_EQ(p.data_carriers, range_without(-31, 31, {0}));
  EXPECT_FALSE(p.validate().has_value());
}

TEST(CarrierPlan, ContiguousSpanSkipsPilotsSetBefore) {
  std::vector<PilotCarrier> pilots = {{-21, {1, 0}}, {-7, {1, 0}}, {7, {1, 0}}, {21, {-1, 0}}};
  CarrierPlan p = CarrierPlan::with_pilot_carriers(plan_of(64, {}), pilots);
  p = CarrierPlan::with_contiguous_data(std::move(p), 4);
  EXPECT_EQ(p.data_carriers, range_without(-27, 27, {0, -21, -7, 7, 21}));
  EXPECT_EQ(p.data_carriers.size(), 50u);
  EXPECT_EQ(p.largest_abs_index(), 27u);
}

TEST(CarrierPlan, GuardWiderThanTheSpanAppendsNothing) {
  for (std::size_t guard : {32ul, 33ul, 1ul << 40}) {
    const CarrierPlan p = CarrierPlan::with_contiguous_data(plan_of(64, {}), guard);
    EXPECT_TRUE(p.data_carriers.empty());
    ASSERT_TRUE(p.validate().has_value());
    EXPECT_EQ(p.validate()->text(), "no data carriers specified");
  }
}

TEST(CarrierPlan, PilotBatchesKeepTheirOrder) {
  const std::vector<PilotCarrier> a = {{3, {1, 0}}}, b = {{-3, {0, 1}}, {5, {-1, 0}}};
  CarrierPlan p = CarrierPlan::with_pilot_carriers(plan_of(64, {1}), a);
  p = CarrierPlan::with_pilot_carriers(std::move(p), b);
  ASSERT_EQ(p.pilot_carriers.size(), 3u);
  EXPECT_EQ(p.pilot_carriers[0].index, 3);
  EXPECT_EQ(p.pilot_carriers[1].index, -3);
  EXPECT_EQ(p.pilot_carriers[2].index, 5);
}

struct ValidationCase {
  std::size_t n_fft;
  std::vector<std::int32_t> data;
  std::vector<std::int32_t> pilots;
  std::string text;  // empty: valid
  std::string debug;
};

class Validation : public ::testing::TestWithParam<ValidationCase> {};

TEST_P(Validation, ReportsTheFirstError) {
  const ValidationCase& c = GetParam();
  std::vector<PilotCarrier> pilots;
  for (auto k : c.pilots) pilots.push_back({k, {1, 0}});
  const auto e = plan_of(c.n_fft, c.data, pilots).validate();
  if (c.text.empty()) {
    EXPECT_FALSE(e.has_value()) << e->text();
  } else {
    ASSERT_TRUE(e.has_value());
    EXPECT_EQ(e->text(), c.text);
    EXPECT_EQ(e->debug(), c.debug);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, Validation,
    ::testing::Values(
        ValidationCase{64, {}, {}, "no data carriers specified", "EmptyDataSet"},
        ValidationCase{64, {5, 100}, {}, "carrier index 100 is out of range for n_fft=64 (valid: -(n_fft/2)..=((n_fft-1)/2))", "OutOfRange(100, 64)"},
        // The pilots' range check comes before the overlap walk.
        ValidationCase{64, {1, 2, 1}, {200}, "carrier index 200 is out of range for n_fft=64 (valid: -(n_fft/2)..=((n_fft-1)/2))", "OutOfRange(200, 64)"},
        ValidationCase{64, {1, 2, 1}, {}, "carrier index 1 is assigned more than one role (data/pilot overlap)", "Overlap(1)"},
        ValidationCase{64, {3, 4}, {3}, "carrier index 3 is assigned more than one role (data/pilot overlap)", "Overlap(3)"},
        ValidationCase{64, {1}, {9, 9}, "carrier index 9 is assigned more than one role (data/pilot overlap)", "Overlap(9)"},
        ValidationCase{64, {-32, 31}, {}, "", ""},
        ValidationCase{64, {32}, {}, "carrier index 32 is out of range for n_fft=64 (valid: -(n_fft/2)..=((n_fft-1)/2))", "OutOfRange(32, 64)"},
        ValidationCase{63, {-31, 31}, {}, "", ""},
        ValidationCase{63, {-32}, {}, "carrier index -32 is out of range for n_fft=63 (valid: -(n_fft/2)..=((n_fft-1)/2))", "OutOfRange(-32, 63)"},
        ValidationCase{64, {0}, {}, "", ""},  // DC may be listed explicitly
        ValidationCase{0, {0}, {}, "", ""}));

TEST(CarrierPlanError, GuardBandText) {
  EXPECT_EQ(CarrierPlanError::in_guard_band(30, 4).text(),
            "carrier index 30 intrudes into the 4-carrier edge-guard band");
  EXPECT_EQ(CarrierPlanError::in_guard_band(30, 4).debug(), "InGuardBand(30, 4)");
}

TEST(CarrierGrid, MapsCarriersToEuclideanBins) {
  const CarrierPlan p64 = plan_of(64, {-32, -1, 0, 1, 31}, {{-5, {0, 1}}, {5, {-1, 0}}});
  EXPECT_EQ(p64.carrier_bin(-1), 63u);
  EXPECT_EQ(p64.carrier_bin(-32), 32u);
  EXPECT_EQ(plan_of(63, {1}).carrier_bin(-1), 62u);
  const CarrierGrid g = CarrierGrid::from_plan(p64);
  EXPECT_EQ(g.n_fft, 64u);
  EXPECT_EQ(g.data_bins, (std::vector<std::size_t>{32, 63, 0, 1, 31}));
  ASSERT_EQ(g.pilots.size(), 2u);
  EXPECT_EQ(g.pilots[0].bin, 59u);
  EXPECT_EQ(g.pilots[0].value, cf32(0, 1));
  EXPECT_EQ(g.pilots[1].bin, 5u);
  ASSERT_EQ(g.roles.size(), 64u);
  std::size_t data = 0, pilot = 0;
  for (CarrierRole r : g.roles) {
    data += r == CarrierRole::Data;
    pilot += r == CarrierRole::Pilot;
  }
  EXPECT_EQ(data, 5u);
  EXPECT_EQ(pilot, 2u);
  EXPECT_EQ(g.roles[59], CarrierRole::Pilot);
  EXPECT_EQ(g.roles[2], CarrierRole::Inactive);
}

TEST(CarrierGrid, InvalidPlanPanicsWithTheErrorsDebugForm) {
  try {
    CarrierGrid::from_plan(plan_of(64, {70}));
    FAIL();
  } catch (const core::Panic& p) {
    EXPECT_EQ(p.message(), "CarrierGrid::from_plan: invalid CarrierPlan: OutOfRange(70, 64)");
  }
}

TEST(CarrierGrid, ZeroSizedPlanPanicsInsteadOfDividingByZero) {
  EXPECT_THROW(CarrierGrid::from_plan(plan_of(0, {0})), core::Panic);
  EXPECT_THROW(plan_of(0, {0}).carrier_bin(0), core::Panic);
}

TEST(GridExtract, GathersDataCellsInPlanOrder) {
  const CarrierGrid g = CarrierGrid::from_plan(plan_of(8, {-1, 2, -4}));
  const GridExtract x = GridExtract::from_grid(g);
  std::vector<cf32> spectrum(8);
  for (int i = 0; i < 8; ++i) spectrum[i] = cf32(float(i), -float(i));
  std::vector<cf32> out(3, cf32(99, 99));
  x.extract(spectrum, out);
  EXPECT_EQ(out, (std::vector<cf32>{{7, -7}, {2, -2}, {4, -4}}));
  // Short slices write nothing.
  std::vector<cf32> keep(3, cf32(5, 5));
  x.extract(std::span<const cf32>(spectrum).first(7), keep);
  EXPECT_EQ(keep, std::vector<cf32>(3, cf32(5, 5)));
  std::vector<cf32> small(2, cf32(5, 5));
  x.extract(spectrum, small);
  EXPECT_EQ(small, std::vector<cf32>(2, cf32(5, 5)));
}
