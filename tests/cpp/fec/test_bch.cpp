#include <gtest/gtest.h>

#include <algorithm>
#include <limits>
#include <numeric>
#include <random>

#include "fec/bch.hpp"
#include "fec/gf.hpp"
#include "test_helpers.hpp"

namespace vatel::fec {
namespace {

using Bytes = std::vector<std::uint8_t>;

BchError error_of(const bch::BchResult& r) {
  EXPECT_TRUE(std::holds_alternative<BchError>(r));
  return std::holds_alternative<BchError>(r) ? std::get<BchError>(r)
                                             : BchError{BchError::Kind::Uncorrectable, 0};
}

TEST(Bch, DegreesOfThe120BitMessageCodes) {
  const std::size_t degrees[] = {8,  16, 24, 32,  40,  48,  56,  64,  68, 76,
                                 84, 92, 100, 108, 116, 124, 124, 124, 132};
  for (std::uint64_t t = 1; t <= 19; ++t) {
    const Bch code = Bch::for_120_bit_messages(t);
    EXPECT_EQ(code.degree(), degrees[t - 1]) << "t " << t;
    EXPECT_EQ(code.n(), degrees[t - 1] + 120);
    EXPECT_EQ(code.k(), 120u);
    EXPECT_EQ(code.t(), t);
  }
}

TEST(Bch, GeneratorHasTheDesignedRoots) {
  // t = 1: the minimal polynomial of alpha is the field polynomial 0x11D.
  EXPECT_EQ(Bch::for_120_bit_messages(1).generator(), (Bytes{1, 0, 0, 0, 1, 1, 1, 0, 1}));
  const Gf256& gf = gf::SHARED;
  for (std::uint64_t t : {2u, 8u, 9u, 19u}) {
    const Bch code = Bch::for_120_bit_messages(t);
    const auto& g = code.generator();
    EXPECT_EQ(g.front(), 1);
    EXPECT_EQ(g.back(), 1);
    for (unsigned j = 1; j <= 2 * t; ++j) {
      std::uint8_t v = 0;  // Horner, highest power first
      for (std::uint8_t c : g) v = static_cast<std::uint8_t>(gf.mul(v, gf.exp[j]) ^ c);
      EXPECT_EQ(v, 0) << "t " << t << " root alpha^" << j;
    }
  }
}

TEST(Bch, ConstructionErrors) {
  EXPECT_EQ(error_of(Bch::shortened(256, 8)), (BchError{BchError::Kind::BadLength, 256}));
  EXPECT_EQ(error_of(Bch::shortened(60, 8)), (BchError{BchError::Kind::BadLength, 60}));
  EXPECT_EQ(error_of(Bch::shortened(255, 0)), (BchError{BchError::Kind::DesignTooLarge, 0}));
  EXPECT_EQ(error_of(Bch::shortened(255, 128)), (BchError{BchError::Kind::DesignTooLarge, 128}));
  EXPECT_EQ((BchError{BchError::Kind::DesignTooLarge, 0}.debug()), "DesignTooLarge(0)");
  // 2t = 254 covers every non-zero exponent: degree 254, a single message bit.
  const auto widest = Bch::shortened(255, 127);
  ASSERT_TRUE(std::holds_alternative<Bch>(widest));
  EXPECT_EQ(std::get<Bch>(widest).degree(), 254u);
  EXPECT_EQ(std::get<Bch>(widest).k(), 1u);

  EXPECT_PANIC_TEXT(Bch::for_120_bit_messages(0), "valid BCH t: DesignTooLarge(0)");
  EXPECT_PANIC_TEXT(Bch::for_120_bit_messages(20), "valid shortened BCH: BadLength(260)");
  EXPECT_PANIC_TEXT(Bch::for_120_bit_messages(127), "valid shortened BCH: BadLength(374)");
  EXPECT_PANIC_TEXT(Bch::for_120_bit_messages(128), "valid BCH t: DesignTooLarge(128)");
}

// A huge t stops as soon as the generator's degree reaches 255, instead of
// walking 2t indices (or wrapping 2t to a small number); a walk would run
// into the test's timeout.
TEST(Bch, HugeDesignStopsAtDegree255) {
  const std::uint64_t max = std::numeric_limits<std::uint64_t>::max();
  for (std::uint64_t t : {std::uint64_t{1000}, std::uint64_t{1} << 40, std::uint64_t{1} << 63,
                          (std::uint64_t{1} << 63) + 1, max}) {
    EXPECT_EQ(error_of(Bch::shortened(255, t)), (BchError{BchError::Kind::DesignTooLarge, t}));
  }
  EXPECT_PANIC_TEXT(Bch::for_120_bit_messages(max),
                    "valid BCH t: DesignTooLarge(18446744073709551615)");
}

TEST(Bch, CorrectsUpToTBitErrors) {
  std::mt19937 rng(3);
  for (std::uint64_t t : {1u, 2u, 8u, 9u, 16u, 19u}) {
    const Bch code = Bch::for_120_bit_messages(t);
    std::vector<std::size_t> pos(code.n());
    std::iota(pos.begin(), pos.end(), 0);
    for (int trial = 0; trial < 20; ++trial) {
      const auto msg = test::random_bits(120, 10 * t + trial);
      const auto cw = code.encode_block(msg);
      ASSERT_EQ(cw.size(), code.n());
      ASSERT_TRUE(std::equal(msg.begin(), msg.end(), cw.begin()));
      for (std::size_t e = 0; e <= t; ++e) {
        auto word = cw;
        std::shuffle(pos.begin(), pos.end(), rng);
        for (std::size_t i = 0; i < e; ++i) word[pos[i]] ^= 1u;
        const auto d = code.decode_block(word);
        ASSERT_TRUE(d.ok) << "t " << t << " errors " << e;
        ASSERT_EQ(d.message, msg);
      }
    }
  }
}

TEST(Bch, BeyondCapabilityFailsOrLandsOnAnotherCodeword) {
  std::mt19937 rng(5);
  for (std::uint64_t t : {2u, 8u}) {
    const Bch code = Bch::for_120_bit_messages(t);
    std::vector<std::size_t> pos(code.n());
    std::iota(pos.begin(), pos.end(), 0);
    std::size_t failures = 0;
    for (int trial = 0; trial < 100; ++trial) {
      const auto msg = test::random_bits(120, trial);
      auto word = code.encode_block(msg);
      std::shuffle(pos.begin(), pos.end(), rng);
      for (std::size_t i = 0; i < t + 1; ++i) word[pos[i]] ^= 1u;
      const auto d = code.decode_block(word);
      if (!d.ok) {
        ++failures;
        EXPECT_EQ(d.message, Bytes(word.begin(), word.begin() + 120));
      } else {
        EXPECT_NE(d.message, msg);
      }
    }
    EXPECT_GT(failures, 50u);
  }
}

TEST(Bch, ZeroMessageAndLengthPanics) {
  const Bch code = Bch::for_120_bit_messages(8);
  EXPECT_EQ(code.encode_block(Bytes(120, 0)), Bytes(184, 0));
  const auto d = code.decode_block(Bytes(184, 0));
  EXPECT_TRUE(d.ok);
  EXPECT_EQ(d.message, Bytes(120, 0));
  EXPECT_PANIC_TEXT(code.encode_block(Bytes(119)), "BCH message must be exactly k bits");
  EXPECT_PANIC_TEXT(code.decode_block(Bytes(185)), "BCH word must be exactly n bits");
}

TEST(Bch, ShortCodesOfAnyLength) {
  const auto r = Bch::shortened(100, 3);
  ASSERT_TRUE(std::holds_alternative<Bch>(r));
  const Bch& code = std::get<Bch>(r);
  EXPECT_EQ(code.k(), 100u - 24);
  const auto msg = test::random_bits(code.k(), 8);
  auto word = code.encode_block(msg);
  word[0] ^= 1u;
  word[50] ^= 1u;
  word[99] ^= 1u;
  const auto d = code.decode_block(word);
  EXPECT_TRUE(d.ok);
  EXPECT_EQ(d.message, msg);
}

}  // namespace
}  // namespace vatel::fec
