#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "message/callsign.hpp"

namespace vatel::message {
namespace {

using callsign::pack28;
using callsign::unpack28;

// Standard callsign value of a six-character field, written out from the
// published layout c = ((((c0*36 + c1)*10 + c2)*27 + c3)*27 + c4)*27 + c5.
constexpr std::uint32_t standard(int c0, int c1, int c2, int c3, int c4, int c5) {
  return 6257896u + static_cast<std::uint32_t>(((((c0 * 36 + c1) * 10 + c2) * 27 + c3) * 27 + c4) * 27 + c5);
}

struct Pack28Case {
  const char* text;
  std::optional<std::uint32_t> value;
  bool suffix;
  const char* back;  // unpack28 with i3 = 1, nullptr for no text
};

class Pack28Test : public ::testing::TestWithParam<Pack28Case> {};

TEST_P(Pack28Test, PacksAndUnpacks) {
  const auto& c = GetParam();
  CallsignHashTable table;
  const auto p = pack28(c.text, table);
  ASSERT_EQ(p.has_value(), c.value.has_value()) << c.text;
  if (!p) return;
  EXPECT_EQ(p->value, *c.value) << c.text;
  EXPECT_EQ(p->suffix, c.suffix) << c.text;
  const auto back = unpack28(p->value, p->suffix, 1, table);
  ASSERT_TRUE(back.has_value());
  EXPECT_EQ(*back, c.back);
}

INSTANTIATE_TEST_SUITE_P(
    Values, Pack28Test,
    ::testing::Values(
        Pack28Case{"DE", 0, false, "DE"}, Pack28Case{"QRZ", 1, false, "QRZ"}, Pack28Case{"CQ", 2, false, "CQ"},
        Pack28Case{"CQ 000", 3, false, "CQ 000"}, Pack28Case{"CQ 999", 1002, false, "CQ 999"},
        Pack28Case{"CQ 042", 45, false, "CQ 042"},
        Pack28Case{"CQ DX", 1003 + 4 * 27 + 24, false, "CQ DX"},
        Pack28Case{"CQ A B", 1004, false, "CQ A"},
        Pack28Case{"CQ ZZZZ", 1003 + ((26 * 27 + 26) * 27 + 26) * 27 + 26, false, "CQ ZZZZ"},
        // ' K1ABC': c0 space, c1 'K' = 20, c2 1, 'A' 'B' 'C' = 1 2 3.
        Pack28Case{"K1ABC", standard(0, 20, 1, 1, 2, 3), false, "K1ABC"},
        Pack28Case{"KA1ABC", standard(21, 10, 1, 1, 2, 3), false, "KA1ABC"},
        Pack28Case{"K1ABC/R", standard(0, 20, 1, 1, 2, 3), true, "K1ABC/R"},
        Pack28Case{"K1ABC/P", standard(0, 20, 1, 1, 2, 3), true, "K1ABC/R"},  // i3 = 1 reads /R
        Pack28Case{"W9XYZ", standard(0, 32, 9, 24, 25, 26), false, "W9XYZ"},
        // 3DA0XYZ travels as 3D0XYZ, 3XA1BC as QA1BC.
        Pack28Case{"3DA0XYZ", standard(4, 13, 0, 24, 25, 26), false, "3DA0XYZ"},
        Pack28Case{"3XA1BC", standard(27, 10, 1, 2, 3, 0), false, "3XA1BC"},
        Pack28Case{"QA1ABC", standard(27, 10, 1, 1, 2, 3), false, "3XA1ABC"},
        Pack28Case{"9A1A", standard(10, 10, 1, 1, 0, 0), false, "9A1A"},
        Pack28Case{"K1A", standard(0, 20, 1, 1, 0, 0), false, "K1A"},
        // Not a standard callsign, but hashable.
        Pack28Case{"AB/CD12", 2063592 + 194540, false, "<AB/CD12>"},
        Pack28Case{"CQ ABCDE", 2063592 + callsign_hashes("CQ ABCDE").h22, false, "<CQ ABCDE>"},
        // No packed form.
        Pack28Case{"", std::nullopt, false, nullptr}, Pack28Case{"K", std::nullopt, false, nullptr},
        Pack28Case{"CQ ", std::nullopt, false, nullptr}, Pack28Case{"CQ 12", std::nullopt, false, nullptr},
        Pack28Case{"CQ 1234", std::nullopt, false, nullptr}, Pack28Case{"CQ D1", std::nullopt, false, nullptr},
        Pack28Case{"CQ d", std::nullopt, false, nullptr}, Pack28Case{"k1abc", std::nullopt, false, nullptr},
        Pack28Case{"ABCDEFGHIJKL", std::nullopt, false, nullptr},
        Pack28Case{"K1\xC3\x84" "BC", std::nullopt, false, nullptr}));

TEST(Pack28, SuffixWithHashedCallsignIsCleared) {
  CallsignHashTable table;
  const auto p = pack28("AB/CD1/R", table);
  ASSERT_TRUE(p);
  EXPECT_FALSE(p->suffix);
  EXPECT_EQ(p->value, 2063592 + callsign_hashes("AB/CD1/R").h22);
}

TEST(Pack28, RecordsWholeTextWithSuffix) {
  CallsignHashTable table;
  ASSERT_TRUE(pack28("K1ABC/R", table));
  const auto* s = table.find(callsign_hashes("K1ABC/R").h22);
  ASSERT_NE(s, nullptr);
  EXPECT_EQ(*s, "K1ABC/R");
  EXPECT_EQ(table.find(callsign_hashes("K1ABC").h22), nullptr);
}

struct Unpack28Case {
  std::uint32_t value;
  bool suffix;
  std::uint8_t i3;
  const char* text;  // nullptr: none
};

class Unpack28Test : public ::testing::TestWithParam<Unpack28Case> {};

TEST_P(Unpack28Test, ReadsValue) {
  const auto& c = GetParam();
  const CallsignHashTable empty;
  const auto t = unpack28(c.value, c.suffix, c.i3, empty);
  ASSERT_EQ(t.has_value(), c.text != nullptr) << c.value;
  if (t) {
    EXPECT_EQ(*t, c.text);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Values, Unpack28Test,
    ::testing::Values(Unpack28Case{1003, false, 1, "CQ "}, Unpack28Case{1004, true, 7, "CQ A"},
                      Unpack28Case{532443, false, 1, "CQ ZZZZ"}, Unpack28Case{532444, false, 1, nullptr},
                      Unpack28Case{2063591, false, 1, nullptr}, Unpack28Case{2063592, false, 1, "<...>"},
                      Unpack28Case{6257895, false, 1, "<...>"},
                      // The first standard value is six spaces: no callsign.
                      Unpack28Case{6257896, false, 1, nullptr},
                      Unpack28Case{standard(0, 20, 1, 1, 2, 3), true, 2, "K1ABC/P"},
                      Unpack28Case{standard(0, 20, 1, 1, 2, 3), true, 3, nullptr},
                      Unpack28Case{standard(0, 20, 1, 1, 2, 3), true, 0, nullptr},
                      // The largest 28-bit value has every position at its last symbol.
                      Unpack28Case{(1u << 28) - 1, false, 1, "ZZ9ZZZ"},
                      Unpack28Case{1u << 28, false, 1, nullptr}));

TEST(CallsignHash, KnownValuesAndPadding) {
  // 'K1ABC' padded to 11: base-38 digits 21 2 11 12 13 then six spaces.
  std::uint64_t n = 0;
  for (std::uint64_t d : {21, 2, 11, 12, 13, 0, 0, 0, 0, 0, 0}) n = 38 * n + d;
  const std::uint64_t p = n * 47055833459ull;
  const auto h = callsign_hashes("K1ABC");
  EXPECT_EQ(h.h22, p >> 42);
  EXPECT_EQ(h.h12, p >> 52);
  EXPECT_EQ(h.h10, p >> 54);
  EXPECT_EQ(h.h22, 2920267u);
  EXPECT_EQ(h.h12, 2851u);
  EXPECT_EQ(h.h10, 712u);

  const auto same = [](const char* a, const char* b) {
    const auto x = callsign_hashes(a), y = callsign_hashes(b);
    return x.h22 == y.h22 && x.h12 == y.h12 && x.h10 == y.h10;
  };
  EXPECT_TRUE(same("AB1CD", "AB1CD "));
  EXPECT_TRUE(same("ABCDEFGHIJK", "ABCDEFGHIJKLMNOP"));  // beyond the eleventh character
  EXPECT_TRUE(same("AB1CD", "AB1CD\xC3\xA9"));            // one non-alphabet scalar counts as a space
  EXPECT_TRUE(same("A-B", "A B"));
  EXPECT_FALSE(same("AB1CD", "AB1CE"));
  // The hash counts characters, not bytes: eleven two-byte characters and a
  // letter leave the letter out.
  EXPECT_TRUE(same("\xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9Z", ""));
}

TEST(CallsignHashTable, SaveReplacesAndKeepsWholeText) {
  CallsignHashTable t;
  const auto h = t.save("ABCDEFGHIJKLMN");
  EXPECT_EQ(h.h22, callsign_hashes("ABCDEFGHIJK").h22);
  ASSERT_NE(t.find(h.h22), nullptr);
  EXPECT_EQ(*t.find(h.h22), "ABCDEFGHIJKLMN");
  t.save("ABCDEFGHIJKXY");  // same hash, replaces the text
  EXPECT_EQ(*t.find(h.h22), "ABCDEFGHIJKXY");
  EXPECT_EQ(t.size(), 1u);
  const auto v = callsign::unpack28(2063592 + h.h22, false, 1, t);
  EXPECT_EQ(v, "<ABCDEFGHIJKXY>");
}

}  // namespace
}  // namespace vatel::message
