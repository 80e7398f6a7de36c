#include <gtest/gtest.h>

#include "message/grid.hpp"

namespace vatel::message {
namespace {

using grid::gridfield_to_str;
using grid::packgrid;
using grid::read_gridfield;

struct PackgridCase {
  const char* text;
  std::uint16_t value;
};

class PackgridTest : public ::testing::TestWithParam<PackgridCase> {};

TEST_P(PackgridTest, Value) { EXPECT_EQ(packgrid(GetParam().text), GetParam().value) << GetParam().text; }

INSTANTIATE_TEST_SUITE_P(
    Values, PackgridTest,
    ::testing::Values(PackgridCase{"", 32401}, PackgridCase{"RRR", 32402}, PackgridCase{"RR73", 32403},
                      PackgridCase{"73", 32404}, PackgridCase{"AA00", 0},
                      PackgridCase{"FN31", 5 * 1800 + 13 * 100 + 3 * 10 + 1},
                      PackgridCase{"FN42", 10342}, PackgridCase{"RR99", 17 * 1800 + 17 * 100 + 99},
                      PackgridCase{"+07", 32442}, PackgridCase{"-12", 32423}, PackgridCase{"-30", 32405},
                      PackgridCase{"-128", 32307}, PackgridCase{"127", 32562}, PackgridCase{"200", 32435 - 56},
                      PackgridCase{"R+05", 0x8000 | 32440}, PackgridCase{"R-12", 0x8000 | 32423},
                      PackgridCase{"R FN31", 0x8000 | 32435}, PackgridCase{"R", 32435 + 0},
                      PackgridCase{"XYZ", 32435}, PackgridCase{" FN31", 32435}, PackgridCase{"SS99", 32435},
                      PackgridCase{"-31", 32404}, PackgridCase{"-100", 32335}, PackgridCase{"7dB", 32442},
                      PackgridCase{"+", 32435}, PackgridCase{"99999", 32435 + static_cast<std::int8_t>(99999 % 256)}));

struct ReadCase {
  std::uint16_t value;
  bool r_flag;
  GridField field;
  const char* text;
};

class ReadGridTest : public ::testing::TestWithParam<ReadCase> {};

TEST_P(ReadGridTest, ReadsAndFormats) {
  const auto& c = GetParam();
  const GridField f = read_gridfield(c.value, c.r_flag);
  EXPECT_EQ(f, c.field) << c.value;
  EXPECT_EQ(gridfield_to_str(f), c.text);
}

INSTANTIATE_TEST_SUITE_P(
    Values, ReadGridTest,
    ::testing::Values(ReadCase{0, false, {GridField::Grid{"AA00"}}, "AA00"},
                      ReadCase{10331, false, {GridField::Grid{"FN31"}}, "FN31"},
                      ReadCase{10331, true, {GridField::Grid{"R FN31"}}, "R FN31"},
                      ReadCase{32399, false, {GridField::Grid{"RR99"}}, "RR99"},
                      ReadCase{32400, false, {GridField::Grid{"AA00"}}, "AA00"},
                      ReadCase{32401, true, {GridField::Blank{}}, ""},
                      ReadCase{32402, true, {GridField::Rrr{}}, "RRR"},
                      ReadCase{32403, false, {GridField::Rr73{}}, "RR73"},
                      ReadCase{32404, false, {GridField::SeventyThree{}}, "73"},
                      ReadCase{32405, false, {GridField::Report{-30}}, "-30"},
                      ReadCase{32442, false, {GridField::Report{7}}, "+07"},
                      ReadCase{32435, true, {GridField::RReport{0}}, "R+00"},
                      ReadCase{32423, true, {GridField::RReport{-12}}, "R-12"},
                      ReadCase{32307 + 256, false, {GridField::Report{-128}}, "-128"},
                      ReadCase{32767, false, {GridField::Report{76}}, "+76"},
                      // Bits above the 15-bit field are ignored.
                      ReadCase{0x8000 | 10331, false, {GridField::Grid{"FN31"}}, "FN31"}));

TEST(Gridfield, ReportsRoundTripFromMinus30) {
  for (int r = -30; r <= 127; ++r) {
    const auto v = static_cast<std::int8_t>(r);
    const std::string text = gridfield_to_str({GridField::Report{v}});
    EXPECT_EQ(read_gridfield(packgrid(text), false), (GridField{GridField::Report{v}})) << text;
    const std::string rtext = gridfield_to_str({GridField::RReport{v}});
    const std::uint16_t w = packgrid(rtext);
    EXPECT_EQ(read_gridfield(w, (w >> 15) & 1), (GridField{GridField::RReport{v}})) << rtext;
  }
  EXPECT_EQ(gridfield_to_str({GridField::Report{-128}}), "-128");
}

TEST(Gridfield, EveryGridRoundTripsButRR73) {
  for (std::uint16_t g = 0; g < 32400; ++g) {
    const GridField f = read_gridfield(g, false);
    // The square RR73 is spelt like the token RR73, which takes precedence.
    const std::uint16_t expected = gridfield_to_str(f) == "RR73" ? 32403 : g;
    EXPECT_EQ(packgrid(gridfield_to_str(f)), expected);
  }
}

}  // namespace
}  // namespace vatel::message
