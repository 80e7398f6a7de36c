#include <gtest/gtest.h>

#include <string_view>

#include "fec/crc.hpp"
#include "test_helpers.hpp"

namespace vatel::fec {
namespace {

std::vector<std::uint8_t> bytes_of(std::string_view s) { return {s.begin(), s.end()}; }

struct CrcCase {
  std::vector<std::uint8_t> data;
  std::uint32_t crc32;  // zlib.crc32
  std::uint16_t crc16;  // binascii.crc_hqx(data, 0xFFFF)
};

std::vector<CrcCase> crc_cases() {
  std::vector<std::uint8_t> ramp(256);
  for (unsigned i = 0; i < 256; ++i) ramp[i] = static_cast<std::uint8_t>(i);
  return {
      {{}, 0x00000000u, 0xFFFF},
      {bytes_of("123456789"), 0xCBF43926u, 0x29B1},
      {bytes_of("a"), 0xE8B7BE43u, 0x9D77},
      {{0x00}, 0xD202EF8Du, 0xE1F0},
      {{0xFF, 0xFF, 0xFF, 0xFF}, 0xFFFFFFFFu, 0x1D0F},
      {ramp, 0x29058C73u, 0x3FBD},
      {bytes_of("The quick brown fox jumps over the lazy dog"), 0x414FA339u, 0x8FDD},
  };
}

TEST(Crc, MatchesZlibAndCrcHqx) {
  for (const auto& c : crc_cases()) {
    EXPECT_EQ(crc32(c.data), c.crc32) << c.data.size() << " bytes";
    EXPECT_EQ(crc16(c.data), c.crc16) << c.data.size() << " bytes";
  }
}

TEST(Crc, AppendsMostSignificantByteFirstAndChecks) {
  auto b16 = bytes_of("123456789");
  crc::append_crc(CrcKind::Crc16, b16);
  EXPECT_EQ(std::vector<std::uint8_t>(b16.end() - 2, b16.end()),
            (std::vector<std::uint8_t>{0x29, 0xB1}));
  auto b32 = bytes_of("123456789");
  crc::append_crc(CrcKind::Crc32, b32);
  EXPECT_EQ(std::vector<std::uint8_t>(b32.end() - 4, b32.end()),
            (std::vector<std::uint8_t>{0xCB, 0xF4, 0x39, 0x26}));
  EXPECT_TRUE(crc::crc_matches(CrcKind::Crc16, b16));
  EXPECT_TRUE(crc::crc_matches(CrcKind::Crc32, b32));
  b32[3] ^= 0x10;
  EXPECT_FALSE(crc::crc_matches(CrcKind::Crc32, b32));
  EXPECT_FALSE(crc::crc_matches(CrcKind::Crc32, std::vector<std::uint8_t>{1, 2, 3}));
}

TEST(Crc, AppendedLengthPerKindForAnyPayload) {
  for (std::size_t len : {0u, 1u, 17u}) {
    for (auto kind : {CrcKind::None, CrcKind::Crc16, CrcKind::Crc32}) {
      auto data = test::random_bytes(len, 5);
      crc::append_crc(kind, data);
      EXPECT_EQ(data.size(), len + frame::crc_bytes(kind));
      EXPECT_TRUE(crc::crc_matches(kind, data));
    }
  }
  // The CRC of nothing is 0xFFFF for CRC-16 and 0 for CRC-32.
  std::vector<std::uint8_t> empty;
  crc::append_crc(CrcKind::Crc16, empty);
  EXPECT_EQ(empty, (std::vector<std::uint8_t>{0xFF, 0xFF}));
}

}  // namespace
}  // namespace vatel::fec
