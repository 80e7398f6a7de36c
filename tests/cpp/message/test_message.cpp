#include <gtest/gtest.h>

#include <string>

#include "message/message.hpp"

namespace vatel::message {
namespace {

using message::pack77;
using message::unpack77;

std::string text_of(const UnpackedFields& f, const std::string& key) {
  for (const auto& [k, v] : f)
    if (k == key) return std::get<std::string>(v);
  ADD_FAILURE() << "no key " << key;
  return {};
}

std::vector<std::string> keys_of(const UnpackedFields& f) {
  std::vector<std::string> k;
  for (const auto& kv : f) k.push_back(kv.first);
  return k;
}

// Payloads written out from the published 77-bit layout (fields most
// significant bit first): for example CQ K1ABC FN42 is call_to 2, flag 0,
// call_de 6257896 + 3957069 (' K1ABC'), flag 0, R 0, grid 10342, i3 1.
struct StandardCase {
  const char* call_to;
  const char* call_de;
  const char* extra;
  Payload payload;
  const char* back_to;
  const char* back_de;
  const char* back_extra;
};

class StandardTest : public ::testing::TestWithParam<StandardCase> {};

TEST_P(StandardTest, PacksToLayoutAndBack) {
  const auto& c = GetParam();
  const auto p = ft8_pack_standard(c.call_to, c.call_de, c.extra);
  ASSERT_TRUE(p.ok()) << p.error().message;
  EXPECT_EQ(p.value(), c.payload);
  const auto u = ft8_unpack(p.value());
  ASSERT_TRUE(u.ok());
  EXPECT_EQ(keys_of(u.value()), (std::vector<std::string>{"type", "call_to", "call_de", "extra"}));
  EXPECT_EQ(text_of(u.value(), "type"), "standard");
  EXPECT_EQ(text_of(u.value(), "call_to"), c.back_to);
  EXPECT_EQ(text_of(u.value(), "call_de"), c.back_de);
  EXPECT_EQ(text_of(u.value(), "extra"), c.back_extra);
}

INSTANTIATE_TEST_SUITE_P(
    Layout, StandardTest,
    ::testing::Values(
        StandardCase{"CQ", "K1ABC", "FN42", {0x00, 0x00, 0x00, 0x20, 0x4D, 0xEF, 0x1A, 0x8A, 0x19, 0x88},
                     "CQ", "K1ABC", "FN42"},
        StandardCase{"K1ABC/R", "W9XYZ/P", "R-12", {0x09, 0xBD, 0xE3, 0x58, 0x61, 0x49, 0xDC, 0x7F, 0xA9, 0xD0},
                     "K1ABC/P", "W9XYZ/P", "R-12"},
        StandardCase{"KA1ABC", "3DA0XYZ", "RR73", {0x95, 0xC6, 0x52, 0x11, 0x1B, 0xA6, 0x11, 0x9F, 0xA4, 0xC8},
                     "KA1ABC", "3DA0XYZ", "RR73"},
        StandardCase{"CQ DX", "K1ABC", "+07", {0x00, 0x00, 0x46, 0xF0, 0x4D, 0xEF, 0x1A, 0x9F, 0xAE, 0x88},
                     "CQ DX", "K1ABC", "+07"}));

struct ExtraCase {
  const char* extra;
  GridField field;
  const char* back;
};

class ExtraTest : public ::testing::TestWithParam<ExtraCase> {};

TEST_P(ExtraTest, ParsesAndReadsBack) {
  const auto& c = GetParam();
  EXPECT_EQ(parse_extra(c.extra), c.field) << c.extra;
  const auto p = ft8_pack_standard("K1ABC", "W9XYZ", c.extra);
  ASSERT_TRUE(p.ok());
  EXPECT_EQ(text_of(ft8_unpack(p.value()).value(), "extra"), c.back) << c.extra;
}

INSTANTIATE_TEST_SUITE_P(
    Forms, ExtraTest,
    ::testing::Values(ExtraCase{"", {GridField::Blank{}}, ""}, ExtraCase{"73", {GridField::SeventyThree{}}, "73"},
                      ExtraCase{"RRR", {GridField::Rrr{}}, "RRR"}, ExtraCase{"RR73", {GridField::Rr73{}}, "RR73"},
                      ExtraCase{"+07", {GridField::Report{7}}, "+07"},
                      ExtraCase{"-12", {GridField::Report{-12}}, "-12"},
                      ExtraCase{"+7", {GridField::Report{7}}, "+07"},
                      ExtraCase{"R+05", {GridField::RReport{5}}, "R+05"},
                      ExtraCase{"R-12", {GridField::RReport{-12}}, "R-12"},
                      ExtraCase{"R5", {GridField::RReport{5}}, "R+05"},
                      ExtraCase{"R-128", {GridField::RReport{-128}}, "R RR07"},
                      ExtraCase{"7", {GridField::Grid{"7"}}, "+07"},
                      ExtraCase{"R200", {GridField::Grid{"R200"}}, "R RR79"},
                      ExtraCase{"+128", {GridField::Grid{"+128"}}, "RR07"},
                      ExtraCase{"R FN31", {GridField::Grid{"R FN31"}}, "R+00"},
                      ExtraCase{"FN31", {GridField::Grid{"FN31"}}, "FN31"},
                      ExtraCase{"R+0000000000000000009", {GridField::RReport{9}}, "R+09"},
                      // Below -30 a report lands in the token and grid range:
                      // -128 is 32307, the grid RR07; -56 is 32379, RR79.
                      ExtraCase{"-31", {GridField::Report{-31}}, "73"},
                      ExtraCase{"-100", {GridField::Report{-100}}, "RR35"}));

TEST(PackStandard, FailsOnInvalidCallsign) {
  for (const auto& [to, de] : {std::pair{"k1abc", "W9XYZ"}, std::pair{"K1ABC", ""}, std::pair{"K1ABC", "ABCDEFGHIJKL"}}) {
    const auto p = ft8_pack_standard(to, de, "FN42");
    ASSERT_FALSE(p.ok());
    EXPECT_EQ(p.error().message, "ft8_pack_standard: failed to pack message (invalid callsign?)");
  }
}

TEST(PackStandard, HashedCallsignReadsAsUnknownHash) {
  const auto p = ft8_pack_standard("K1ABC", "AB/CD12", "FN42");
  ASSERT_TRUE(p.ok());
  const auto u = ft8_unpack(p.value()).value();
  EXPECT_EQ(text_of(u, "call_de"), "<...>");
  // Within one table the hash does resolve.
  CallsignHashTable table;
  const auto q = pack77({Ft8Message::Standard{"K1ABC", "AB/CD12", {GridField::Blank{}}}}, table);
  ASSERT_TRUE(q);
  const auto m = std::get<Ft8Message::Standard>(unpack77(*q, table).value);
  EXPECT_EQ(m.call_de, "<AB/CD12>");
  EXPECT_EQ(m.call_to, "K1ABC");
}

TEST(PackStandard, HashedCallToWithSuffixKeepsFlag) {
  CallsignHashTable table;
  const auto p = pack77({Ft8Message::Standard{"AB/CD1/R", "K1ABC", {GridField::Blank{}}}}, table);
  ASSERT_TRUE(p);
  EXPECT_EQ(((*p)[3] >> 3) & 1, 1);  // bit 28
  EXPECT_EQ(message::payload_i3(*p), 1);
}

TEST(FreeText, KnownPayloadAndRoundTrips) {
  const auto p = ft8_pack_free_text("HELLO WORLD");
  ASSERT_TRUE(p.ok());
  // 'HELLO WORLD  ' as 13 base-42 digits, then n3 = 0 and i3 = 0.
  EXPECT_EQ(p.value(), (Payload{0x3C, 0x02, 0x0B, 0x01, 0xE3, 0x89, 0xCC, 0x38, 0x10, 0x00}));
  for (const char* t : {"HELLO WORLD", " HI", "+-./?", "0123456789ABC", "", "A  B"}) {
    const auto q = ft8_pack_free_text(t);
    ASSERT_TRUE(q.ok()) << t;
    const auto u = ft8_unpack(q.value()).value();
    EXPECT_EQ(keys_of(u), (std::vector<std::string>{"type", "text"}));
    EXPECT_EQ(text_of(u, "type"), "free_text");
    EXPECT_EQ(text_of(u, "text"), t);
  }
  EXPECT_EQ(text_of(ft8_unpack(ft8_pack_free_text("TRAIL  ").value()).value(), "text"), "TRAIL");
}

TEST(FreeText, Rejects) {
  for (const char* t : {"ABCDEFGHIJKLMN", "hello", "A_B", "\xC3\xA9"}) {
    const auto p = ft8_pack_free_text(t);
    ASSERT_FALSE(p.ok()) << t;
    EXPECT_EQ(p.error().message, "ft8_pack_free_text: failed to pack message (text too long or invalid chars?)");
  }
}

TEST(FreeText, ValueBeyondTheAlphabetIsUnknown) {
  // All 71 bits set exceeds 42^13 - 1: no text has that value.
  const Payload p{0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFE, 0x00};
  const auto u = ft8_unpack(p).value();
  EXPECT_EQ(text_of(u, "type"), "unknown");
  EXPECT_EQ(std::get<Bytes>(u[1].second), Bytes(p.begin(), p.end()));
}

TEST(Telemetry, LayoutAndRoundTrip) {
  const std::uint8_t d[9] = {0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77, 0x88, 0x99};
  const auto p = ft8_pack_telemetry(d);
  ASSERT_TRUE(p.ok());
  EXPECT_EQ(p.value(), (Payload{0x22, 0x44, 0x66, 0x88, 0xAA, 0xCC, 0xEF, 0x11, 0x33, 0x40}));
  auto u = ft8_unpack(p.value()).value();
  EXPECT_EQ(keys_of(u), (std::vector<std::string>{"type", "data"}));
  EXPECT_EQ(text_of(u, "type"), "telemetry");
  EXPECT_EQ(std::get<Bytes>(u[1].second), Bytes(d, d + 9));

  const std::uint8_t ff[9] = {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};
  u = ft8_unpack(ft8_pack_telemetry(ff).value()).value();
  EXPECT_EQ(std::get<Bytes>(u[1].second), (Bytes{0x7F, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}));
}

TEST(Telemetry, LengthErrors) {
  const std::uint8_t d[10] = {};
  for (std::size_t n : {0u, 8u, 10u}) {
    const auto p = ft8_pack_telemetry(std::span(d, n));
    ASSERT_FALSE(p.ok());
    EXPECT_EQ(p.error().message, "ft8_pack_telemetry: expected 9 bytes, got " + std::to_string(n));
  }
}

TEST(Unpack, LengthErrors) {
  const std::uint8_t d[11] = {};
  for (std::size_t n : {0u, 9u, 11u}) {
    const auto u = ft8_unpack(std::span(d, n));
    ASSERT_FALSE(u.ok());
    EXPECT_EQ(u.error().message, "ft8_unpack: expected 10 bytes, got " + std::to_string(n));
  }
}

TEST(Unpack, UnknownLayoutsComeBackUnchanged) {
  // i3 = 3, 5, 6, 7; i3 = 0 with n3 = 1..4, 6, 7.  Low three bits set too.
  std::vector<Payload> ps;
  for (std::uint8_t i3 : {3, 5, 6, 7}) ps.push_back({1, 2, 3, 4, 5, 6, 7, 8, 9, static_cast<std::uint8_t>(i3 << 3 | 7)});
  for (std::uint8_t n3 : {1, 2, 3, 4, 6, 7})
    ps.push_back({1, 2, 3, 4, 5, 6, 7, 8, static_cast<std::uint8_t>(8 | (n3 >> 2)),
                  static_cast<std::uint8_t>((n3 & 3) << 6 | 5)});
  for (const auto& p : ps) {
    const auto u = ft8_unpack(p).value();
    EXPECT_EQ(keys_of(u), (std::vector<std::string>{"type", "payload"}));
    EXPECT_EQ(text_of(u, "type"), "unknown");
    EXPECT_EQ(std::get<Bytes>(u[1].second), Bytes(p.begin(), p.end()));
  }
}

TEST(Unpack, ReservedCallsignValueShowsUnknown) {
  // call_to = 532444 (reserved), call_de = 0 ("DE"), blank grid, i3 = 1.
  // 532444 = 0x81FDC in 28 bits: 0000 0000 1000 0001 1111 1101 1100.
  Payload p{};
  const std::uint32_t v = 532444;
  p[0] = static_cast<std::uint8_t>(v >> 20);
  p[1] = static_cast<std::uint8_t>(v >> 12);
  p[2] = static_cast<std::uint8_t>(v >> 4);
  p[3] = static_cast<std::uint8_t>((v & 0xF) << 4);
  // grid 32401 in bits 59..73, i3 = 1 in bits 74..76.
  const std::uint32_t tail = (32401u << 3) | 1u;  // 18 bits ending at bit 76
  p[7] |= static_cast<std::uint8_t>(tail >> 13);
  p[8] = static_cast<std::uint8_t>(tail >> 5);
  p[9] = static_cast<std::uint8_t>((tail & 31) << 3);
  const auto u = ft8_unpack(p).value();
  EXPECT_EQ(text_of(u, "call_to"), "<?>");
  EXPECT_EQ(text_of(u, "call_de"), "DE");
  EXPECT_EQ(text_of(u, "extra"), "");
}

TEST(NonStd, LayoutAndReading) {
  CallsignHashTable table;
  // CQ PJ4/K1ABC: hash 0, the 58-bit value of 'PJ4/K1ABC', h1 0, reply 0, CQ 1, i3 4.
  auto p = pack77({Ft8Message::NonStd{"CQ", "PJ4/K1ABC", Ft8Message::Reply::Rrr}}, table);
  ASSERT_TRUE(p);
  EXPECT_EQ(*p, (Payload{0x00, 0x00, 0x01, 0xA3, 0xA3, 0x11, 0xCA, 0xA0, 0x04, 0x60}));
  auto u = ft8_unpack(*p).value();
  EXPECT_EQ(keys_of(u), (std::vector<std::string>{"type", "call_to", "call_de", "extra"}));
  EXPECT_EQ(text_of(u, "type"), "nonstd");
  EXPECT_EQ(text_of(u, "call_to"), "CQ");
  EXPECT_EQ(text_of(u, "call_de"), "PJ4/K1ABC");
  EXPECT_EQ(text_of(u, "extra"), "");

  // W9XYZ <PJ4/K1ABC> RR73: the 12-bit hash of W9XYZ is 3889.
  p = pack77({Ft8Message::NonStd{"W9XYZ", "<PJ4/K1ABC>", Ft8Message::Reply::Rr73}}, table);
  ASSERT_TRUE(p);
  EXPECT_EQ(callsign_hashes("W9XYZ").h12, 3889);
  EXPECT_EQ(*p, (Payload{0xF3, 0x10, 0x01, 0xA3, 0xA3, 0x11, 0xCA, 0xA0, 0x05, 0x20}));
  u = ft8_unpack(*p).value();
  EXPECT_EQ(text_of(u, "call_to"), "<...>");
  EXPECT_EQ(text_of(u, "call_de"), "PJ4/K1ABC");
  EXPECT_EQ(text_of(u, "extra"), "RR73");
  ASSERT_NE(table.find(callsign_hashes("PJ4/K1ABC").h22), nullptr);

  // h1 = 1 swaps the two.
  Payload q = *p;
  q[8] |= 0x02;  // bit 70
  const auto m = std::get<Ft8Message::NonStd>(unpack77(q, table).value);
  EXPECT_EQ(m.call_to, "PJ4/K1ABC");
  EXPECT_EQ(m.call_de, "<...>");
  EXPECT_EQ(m.reply, Ft8Message::Reply::Rr73);

  EXPECT_FALSE(pack77({Ft8Message::NonStd{"K1ABC", "PJ4/K1ABC/ABC", Ft8Message::Reply::None}}, table));
  EXPECT_FALSE(pack77({Ft8Message::NonStd{"K1ABC", "pj4/k1abc", Ft8Message::Reply::None}}, table));
}

TEST(NonStd, ValueBeyondElevenCharactersShowsUnknown) {
  // The 58-bit field all ones exceeds 38^11 - 1.
  Payload p{0x00, 0x0F, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFC, 0x20};
  const auto m = std::get<Ft8Message::NonStd>(unpack77(p, CallsignHashTable{}).value);
  EXPECT_EQ(m.call_de, "<?>");
  EXPECT_EQ(m.call_to, "<...>");
}

TEST(Message, Pack77RoundTripsEveryVariant) {
  CallsignHashTable table;
  const Ft8Message msgs[] = {
      {Ft8Message::Standard{"CQ", "K1ABC", {GridField::Grid{"FN42"}}}},
      {Ft8Message::Standard{"K1ABC", "W9XYZ", {GridField::RReport{-7}}}},
      {Ft8Message::Standard{"W9XYZ", "K1ABC", {GridField::SeventyThree{}}}},
      {Ft8Message::FreeText{"TNX 73 GL"}},
      {Ft8Message::NonStd{"<...>", "PJ4/K1ABC", Ft8Message::Reply::SeventyThree}},
      {Ft8Message::Telemetry{{0x7F, 1, 2, 3, 4, 5, 6, 7, 8}}},
      {Ft8Message::Unknown{{1, 2, 3, 4, 5, 6, 7, 8, 9, 0x38}}},
  };
  for (const auto& m : msgs) {
    const auto p = pack77(m, table);
    ASSERT_TRUE(p);
    EXPECT_EQ(unpack77(*p, CallsignHashTable{}), m);
    EXPECT_EQ((*p)[9] & 7, m.value.index() == 4 ? 0 : 0);
  }
}

}  // namespace
}  // namespace vatel::message
