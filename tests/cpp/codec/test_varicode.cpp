#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

#include "codec/varicode.hpp"

namespace vatel::codec::varicode {
namespace {

using Bits = std::vector<std::uint8_t>;

std::vector<std::uint8_t> decode(const Bits& bits) {
  VaricodeDecoder d;
  for (std::uint8_t b : bits) d.push_bit(b);
  return d.pop_bytes();
}

std::string as_text(const std::vector<std::uint8_t>& v) { return {v.begin(), v.end()}; }

TEST(VaricodeTable, PublishedAnchors) {
  struct Anchor {
    std::uint8_t byte;
    std::uint16_t code;
    std::uint8_t length;
  };
  const Anchor anchors[] = {{0x20, 0x1, 1},  {0x65, 0x3, 2},  {0x74, 0x5, 3},    {0x0A, 0x1D, 5},
                            {0x0D, 0x1F, 5}, {0x41, 0x7D, 7}, {0x00, 0x2AB, 10}, {0x7F, 0x3B5, 10}};
  for (const Anchor& a : anchors) {
    EXPECT_EQ(VARICODE_TABLE[a.byte].code, a.code) << int(a.byte);
    EXPECT_EQ(VARICODE_TABLE[a.byte].length, a.length) << int(a.byte);
  }
}

TEST(VaricodeTable, CodesAreDistinctAndFramedByOnes) {
  std::set<std::pair<unsigned, unsigned>> seen;
  for (const VaricodeEntry& e : VARICODE_TABLE) {
    ASSERT_GE(e.length, 1);
    ASSERT_LE(e.length, 10);
    EXPECT_EQ(e.code >> e.length, 0u);
    EXPECT_EQ(e.code & 1u, 1u);
    EXPECT_EQ((e.code >> (e.length - 1)) & 1u, 1u);
    for (unsigned i = 0; i + 1 < e.length; ++i) EXPECT_NE((e.code >> i) & 3u, 0u) << "00 inside a code";
    EXPECT_TRUE(seen.insert({e.code, e.length}).second);
  }
}

TEST(VaricodeEncoder, SeparatorsPreambleAndPostamble) {
  struct Case {
    const char* name;
    void (*run)(VaricodeEncoder&);
    Bits expect;
  };
  const Case cases[] = {
      {"first byte has no separator", [](VaricodeEncoder& e) { e.push_byte(0x41); }, {1, 1, 1, 1, 1, 0, 1}},
      {"second byte has one",
       [](VaricodeEncoder& e) {
         e.push_byte(0x41);
         e.push_byte(0x41);
       },
       {1, 1, 1, 1, 1, 0, 1, 0, 0, 1, 1, 1, 1, 1, 0, 1}},
      {"high bytes are NUL", [](VaricodeEncoder& e) { e.push_byte(200); }, {1, 0, 1, 0, 1, 0, 1, 0, 1, 1}},
      {"empty preamble still marks a gap",
       [](VaricodeEncoder& e) {
         e.push_byte(0x20);
         e.push_preamble(0);
         e.push_byte(0x20);
       },
       {1, 1}},
      {"preamble zeros then a byte",
       [](VaricodeEncoder& e) {
         e.push_preamble(3);
         e.push_byte(0x65);
       },
       {0, 0, 0, 1, 1}},
      {"empty postamble after a byte is the separator",
       [](VaricodeEncoder& e) {
         e.push_byte(0x20);
         e.push_postamble(0);
       },
       {1, 0, 0}},
      {"postamble on a new encoder is just ones", [](VaricodeEncoder& e) { e.push_postamble(2); }, {1, 1}},
      {"byte after a postamble gets a separator",
       [](VaricodeEncoder& e) {
         e.push_byte(0x20);
         e.push_postamble(1);
         e.push_byte(0x20);
       },
       {1, 0, 0, 1, 0, 0, 1}},
  };
  for (const Case& c : cases) {
    VaricodeEncoder e;
    c.run(e);
    EXPECT_EQ(e.drain_bits(), c.expect) << c.name;
    EXPECT_TRUE(e.is_empty()) << c.name;
  }
}

TEST(VaricodeDecoder, BitSequences) {
  struct Case {
    Bits bits;
    std::string text;
  };
  const Case cases[] = {
      {{1, 0, 0}, " "},
      {{1, 1, 0, 0}, "e"},
      {{0, 0}, ""},
      {{1, 0}, ""},
      // Zeros at a boundary are idle, whatever their number.
      {{1, 0, 0, 0, 1, 1, 0, 0}, " e"},
      {{1, 0, 0, 0, 0, 1, 1, 0, 0}, " e"},
      {{0, 0, 0, 1, 0, 1, 0, 0}, "t"},
      // A 2 is not a zero for the boundary, but enters the code as a 0:
      // 1, 2, 1 reads as 101 (t).
      {{1, 2, 1, 0, 0}, "t"},
      // More than ten bits without a boundary match nothing.
      {{1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 0, 0}, ""},
      {{1, 0, 1, 0, 1, 0, 1, 0, 1, 1, 0, 0}, std::string(1, '\0')},
  };
  for (const Case& c : cases) EXPECT_EQ(as_text(decode(c.bits)), c.text);
}

TEST(VaricodeDecoder, EveryByteRoundTripsThroughAnyIdleRun) {
  for (std::size_t idle = 0; idle <= 7; ++idle) {
    VaricodeEncoder e;
    std::vector<std::uint8_t> sent;
    for (unsigned b = 0; b < 128; ++b) {
      e.push_byte(static_cast<std::uint8_t>(b));
      sent.push_back(static_cast<std::uint8_t>(b));
      if (b % 5 == 4) {
        // Close the character, then idle zeros, as a pause on air looks.
        e.push_postamble(0);
        e.push_preamble(idle);
      }
    }
    e.push_postamble(32);
    Bits bits = e.drain_bits();
    bits.insert(bits.end(), {0, 0});
    EXPECT_EQ(decode(bits), sent) << "idle run " << idle;
  }
}

TEST(VaricodeDecoder, CharacterMaySpanCalls) {
  VaricodeDecoder d;
  for (std::uint8_t b : {1, 1, 1}) d.push_bit(b);
  EXPECT_TRUE(d.pop_bytes().empty());
  for (std::uint8_t b : {1, 1, 0, 1, 0, 0}) d.push_bit(b);
  EXPECT_EQ(as_text(d.pop_bytes()), "A");
  EXPECT_TRUE(d.pop_bytes().empty());
}

}  // namespace
}  // namespace vatel::codec::varicode
