#include <gtest/gtest.h>

#include <numeric>
#include <vector>

#include "core/panic.hpp"
#include "fec/scrambler.hpp"
#include "waveform/dvb_t_ts.hpp"

using namespace vatel;
using namespace vatel::waveform::dvb_t_ts;

TEST(DvbTTs, PacketizingCutsAt187Bytes) {
  EXPECT_EQ(ts_packetize({}), [] {
    std::vector<std::uint8_t> p(188, 0);
    p[0] = 0x47;
    return p;
  }());
  std::vector<std::uint8_t> payload(188);
  std::iota(payload.begin(), payload.end(), 1);
  EXPECT_EQ(ts_packetize(std::span(payload).first(187)).size(), 188u);
  const auto two = ts_packetize(payload);
  ASSERT_EQ(two.size(), 376u);
  EXPECT_EQ(two[188], 0x47);
  EXPECT_EQ(two[189], payload[187]);
  for (std::size_t i = 190; i < 376; ++i) ASSERT_EQ(two[i], 0);
  EXPECT_EQ(ts_depacketize(two).value(), [&] {
    auto v = payload;
    v.resize(374, 0);
    return v;
  }());
  EXPECT_FALSE(ts_depacketize({}).has_value());
  EXPECT_FALSE(ts_depacketize(std::vector<std::uint8_t>(189)).has_value());
  std::vector<std::uint8_t> nulls;
  append_null_packet(nulls);
  ASSERT_EQ(nulls.size(), 188u);
  EXPECT_EQ((std::vector<std::uint8_t>(nulls.begin(), nulls.begin() + 5)),
            (std::vector<std::uint8_t>{0x47, 0x1F, 0xFF, 0x10, 0xFF}));
}

TEST(DvbTTs, EnergyDispersalFollowsTheStandardAndUndoesItself) {
  // Sixteen packets of zero payload: the PRBS shows through directly.
  std::vector<std::uint8_t> stream(16 * 188, 0);
  for (std::size_t i = 0; i < 16; ++i) stream[i * 188] = 0x47;
  const auto original = stream;
  ts_energy_disperse(stream);
  const std::uint8_t head[8] = {0x03, 0xF6, 0x08, 0x34, 0x30, 0xB8, 0xA3, 0x93};
  for (std::size_t i = 0; i < 8; ++i) EXPECT_EQ(stream[1 + i], head[i]) << i;
  for (std::size_t i = 0; i < 16; ++i)
    EXPECT_EQ(stream[i * 188], i % 8 == 0 ? 0xB8 : 0x47) << i;
  // The second group is scrambled exactly like the first.
  EXPECT_TRUE(std::equal(stream.begin(), stream.begin() + 8 * 188, stream.begin() + 8 * 188));
  // The sequence runs through the sync bytes: 1503 bytes per group, so the
  // byte after packet 1's sync is the PRBS byte 188 of the group.
  std::vector<std::uint8_t> prbs(1503, 0);
  fec::DvbTEnergyDispersal seq;
  seq.feed_in_place(prbs);
  for (std::size_t i = 1; i < 8; ++i)
    for (std::size_t j = 1; j < 188; ++j) ASSERT_EQ(stream[i * 188 + j], prbs[i * 188 + j - 1]);
  ts_energy_disperse(stream);
  EXPECT_EQ(stream, original);
  std::vector<std::uint8_t> empty;
  ts_energy_disperse(empty);
  std::vector<std::uint8_t> odd(200);
  try {
    ts_energy_disperse(odd);
    FAIL();
  } catch (const core::Panic& p) {
    EXPECT_NE(p.message().find("TS energy dispersal needs whole 188-byte packets"), std::string::npos);
    EXPECT_NE(p.message().find("left: 12"), std::string::npos);
  }
}
