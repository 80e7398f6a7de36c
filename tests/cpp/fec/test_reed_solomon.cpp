#include <gtest/gtest.h>

#include <algorithm>
#include <numeric>
#include <random>
#include <set>
#include <thread>

#include "fec/gf.hpp"
#include "fec/reed_solomon.hpp"
#include "test_helpers.hpp"

namespace vatel::fec {
namespace {

using Bytes = std::vector<std::uint8_t>;

TEST(Gf256, TableEntries) {
  const Gf256& gf = gf::SHARED;
  EXPECT_EQ(gf.exp[0], 1);
  EXPECT_EQ(gf.exp[1], 2);
  EXPECT_EQ(gf.exp[8], 0x1D);
  EXPECT_EQ(gf.exp[255], 1);
  EXPECT_EQ(gf.exp[510], 1);
  EXPECT_EQ(gf.exp[511], 2);
  EXPECT_EQ(gf.log[2], 1);
  EXPECT_EQ(gf.log[1], 0);
  // alpha is primitive: its powers run through every non-zero byte.
  std::set<unsigned> seen(gf.exp.begin(), gf.exp.begin() + 255);
  EXPECT_EQ(seen.size(), 255u);
  EXPECT_EQ(seen.count(0), 0u);
}

TEST(Gf256, ArithmeticAgreesWithCarrylessProduct) {
  const Gf256& gf = gf::SHARED;
  auto slow_mul = [](unsigned a, unsigned b) {
    unsigned r = 0;
    for (int i = 0; i < 8; ++i)
      if (b & (1u << i)) r ^= a << i;
    for (int i = 15; i >= 8; --i)
      if (r & (1u << i)) r ^= 0x11Du << (i - 8);
    return r;
  };
  for (unsigned a = 0; a < 256; ++a) {
    for (unsigned b = 0; b < 256; ++b) {
      const auto p = gf.mul(static_cast<std::uint8_t>(a), static_cast<std::uint8_t>(b));
      ASSERT_EQ(p, slow_mul(a, b)) << a << "*" << b;
      if (b != 0) {
        ASSERT_EQ(gf.div(p, static_cast<std::uint8_t>(b)), a);
      }
    }
    if (a != 0) {
      EXPECT_EQ(gf.mul(static_cast<std::uint8_t>(a), gf.inv(static_cast<std::uint8_t>(a))), 1);
    }
  }
  EXPECT_EQ(gf.pow_alpha(255 * 7 + 3), 8);
  EXPECT_PANIC_TEXT(gf.inv(0), "GF(2^8) inverse of zero");
}

TEST(Gf256, SharedTablesAreBuiltOnceForAllThreads) {
  std::vector<const Gf256*> seen(4);
  std::vector<std::thread> threads;
  for (int i = 0; i < 4; ++i) threads.emplace_back([&, i] { seen[i] = &gf::SHARED.get(); });
  for (auto& t : threads) t.join();
  for (auto* p : seen) EXPECT_EQ(p, &gf::shared_tables());
  EXPECT_EQ(gf::SHARED->mul(2, 0x80), 0x1D);
}

TEST(ReedSolomon, GeneratorAndKnownCodewords) {
  // g(x) of EN 300 744's RS(204, 188), ascending powers.
  const ReedSolomon rs(204, 16);
  EXPECT_EQ(rs.generator(), (Bytes{0x3B, 0x24, 0x32, 0x62, 0xE5, 0x29, 0x41, 0xA3, 0x08, 0x1E,
                                   0xD1, 0x44, 0xBD, 0x68, 0x0D, 0x3B, 0x01}));
  EXPECT_EQ(rs.k(), 188u);
  Bytes ramp(188);
  std::iota(ramp.begin(), ramp.end(), 0);
  const auto cw = rs.encode_block(ramp);
  EXPECT_TRUE(std::equal(ramp.begin(), ramp.end(), cw.begin()));
  EXPECT_EQ(Bytes(cw.begin() + 188, cw.end()),
            (Bytes{0x31, 0x1D, 0x78, 0xD6, 0xC8, 0x60, 0xF8, 0x78, 0xB7, 0x18, 0x9F, 0x1A, 0x54,
                   0x96, 0x1D, 0x5F}));
  // An odd parity count.
  const ReedSolomon small(10, 5);
  EXPECT_EQ(small.encode_block(Bytes{0x48, 0x65, 0x6C, 0x6C, 0x6F}),
            (Bytes{0x48, 0x65, 0x6C, 0x6C, 0x6F, 0x97, 0xAB, 0x25, 0x06, 0x5D}));
  EXPECT_EQ(ReedSolomon(12, 2).generator(), (Bytes{2, 3, 1}));
}

// Corrupts `count` distinct bytes of the word with non-zero error values.
Bytes corrupt(Bytes word, std::size_t count, std::mt19937& rng) {
  std::vector<std::size_t> pos(word.size());
  std::iota(pos.begin(), pos.end(), 0);
  std::shuffle(pos.begin(), pos.end(), rng);
  for (std::size_t i = 0; i < count; ++i)
    word[pos[i]] ^= static_cast<std::uint8_t>(1 + rng() % 255);
  return word;
}

TEST(ReedSolomon, CorrectsUpToItsCapability) {
  struct Code { std::uint64_t n, np; };
  std::mt19937 rng(42);
  for (const Code c : {Code{204, 16}, Code{255, 32}, Code{10, 5}, Code{60, 7}, Code{100, 2},
                       Code{3, 2}}) {
    const ReedSolomon rs(c.n, c.np);
    const std::size_t t = c.np / 2;
    for (int trial = 0; trial < 30; ++trial) {
      const auto msg = test::random_bytes(rs.k(), 100 + trial);
      const auto cw = rs.encode_block(msg);
      for (std::size_t e = 0; e <= t; ++e) {
        const auto d = rs.decode_block(corrupt(cw, e, rng));
        ASSERT_TRUE(d.ok) << c.n << "," << c.np << " errors " << e;
        ASSERT_EQ(d.message, msg);
        ASSERT_EQ(d.corrected, e);
      }
    }
  }
}

TEST(ReedSolomon, BeyondCapabilityFailsOrLandsOnAnotherCodeword) {
  std::mt19937 rng(7);
  for (const auto& [n, np] : {std::pair<std::uint64_t, std::uint64_t>{204, 16}, {10, 5}, {40, 4}}) {
    const ReedSolomon rs(n, np);
    std::size_t failures = 0;
    for (int trial = 0; trial < 200; ++trial) {
      const auto msg = test::random_bytes(rs.k(), trial);
      const auto word = corrupt(rs.encode_block(msg), np / 2 + 1, rng);
      const auto d = rs.decode_block(word);
      if (!d.ok) {
        ++failures;
        EXPECT_EQ(d.message, Bytes(word.begin(), word.begin() + static_cast<long>(rs.k())));
      } else {
        // A decoding within the radius of another codeword.
        EXPECT_NE(d.message, msg);
        EXPECT_LE(d.corrected, np / 2);
        const auto other = rs.encode_block(d.message);
        std::size_t dist = 0;
        for (std::size_t i = 0; i < n; ++i) dist += other[i] != word[i];
        EXPECT_EQ(dist, d.corrected);
      }
    }
    EXPECT_GT(failures, 100u) << n << "," << np;
  }
}

TEST(ReedSolomon, OddParityUsesEverySyndromeInTheFinalCheck) {
  // With 5 parity bytes two errors are corrected; the fifth syndrome still
  // has to vanish after the correction.
  const ReedSolomon rs(10, 5);
  const auto msg = Bytes{1, 2, 3, 4, 5};
  auto cw = rs.encode_block(msg);
  cw[0] ^= 0x55;
  cw[9] ^= 0x01;
  const auto d = rs.decode_block(cw);
  EXPECT_TRUE(d.ok);
  EXPECT_EQ(d.message, msg);
  EXPECT_EQ(d.corrected, 2u);
}

TEST(ReedSolomon, ErrorFreeAndZeroParity) {
  const ReedSolomon rs(204, 16);
  const auto msg = test::random_bytes(188, 1);
  const auto d = rs.decode_block(rs.encode_block(msg));
  EXPECT_TRUE(d.ok);
  EXPECT_EQ(d.corrected, 0u);
  EXPECT_EQ(d.message, msg);

  const ReedSolomon plain(30, 0);
  const auto m30 = test::random_bytes(30, 2);
  EXPECT_EQ(plain.encode_block(m30), m30);
  const auto d30 = plain.decode_block(m30);
  EXPECT_TRUE(d30.ok);
  EXPECT_EQ(d30.message, m30);
}

TEST(ReedSolomon, Panics) {
  EXPECT_PANIC_TEXT(ReedSolomon(300, 16), "valid RS config: BadLength(300, 16)");
  EXPECT_PANIC_TEXT(ReedSolomon(256, 16), "valid RS config: BadLength(256, 16)");
  EXPECT_PANIC_TEXT(ReedSolomon(0, 0), "valid RS config: BadLength(0, 0)");
  EXPECT_PANIC_TEXT(ReedSolomon(10, 10), "valid RS config: BadLength(10, 10)");
  EXPECT_NO_THROW(ReedSolomon(255, 254));
  const ReedSolomon rs(204, 16);
  EXPECT_PANIC_TEXT(rs.encode_block(Bytes(187)), "RS message must be exactly k bytes");
  EXPECT_PANIC_TEXT(rs.decode_block(Bytes(203)), "RS word must be exactly n bytes");
  EXPECT_EQ((RsError{RsError::Kind::Uncorrectable, 9}.debug()), "Uncorrectable(9)");
}

}  // namespace
}  // namespace vatel::fec
