#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <set>
#include <vector>

#include "codec/crc.hpp"
#include "codec/ldpc.hpp"

namespace vatel::codec {
namespace {

using namespace ldpc;

std::array<std::uint8_t, kN> codeword_bits(const Codeword& cw) {
  std::array<std::uint8_t, kN> b{};
  for (std::size_t i = 0; i < kN; ++i) b[i] = (cw[i / 8] >> (7 - i % 8)) & 1u;
  return b;
}

Block random_block(std::mt19937& rng) {
  Block b{};
  for (std::size_t i = 0; i < kK; ++i)
    if (rng() & 1u) b[i / 8] |= static_cast<std::uint8_t>(0x80u >> (i % 8));
  return b;
}

std::array<float, kN> bipolar(const std::array<std::uint8_t, kN>& bits, float a) {
  std::array<float, kN> llr{};
  for (std::size_t i = 0; i < kN; ++i) llr[i] = bits[i] ? -a : a;
  return llr;
}

unsigned decode(const std::array<float, kN>& llr, std::array<std::uint8_t, kN>& out) {
  return ldpc_decode_soft(std::span<const float, kN>(llr), std::span<std::uint8_t, kN>(out));
}

TEST(LdpcTables, PublishedAnchors) {
  const std::uint8_t row0[12] = {0x83, 0x29, 0xCE, 0x11, 0xBF, 0x31, 0xEA, 0xF5, 0x09, 0xF2, 0x7F, 0xC0};
  EXPECT_TRUE(std::equal(row0, row0 + 12, GENERATOR[0]));
  EXPECT_EQ((std::vector<int>(MN[0], MN[0] + 3)), (std::vector<int>{16, 45, 73}));
  EXPECT_EQ((std::vector<int>(NM[0], NM[0] + 7)), (std::vector<int>{4, 31, 59, 91, 92, 96, 153}));
  EXPECT_EQ((std::vector<int>(NRW, NRW + 5)), (std::vector<int>{7, 6, 6, 6, 7}));
  for (std::size_t r = 0; r < kM; ++r) EXPECT_EQ(GENERATOR[r][11] & 0x1F, 0) << r;
}

TEST(LdpcTables, GraphIsConsistent) {
  std::size_t sevens = 0, edges = 0;
  std::set<std::pair<int, int>> from_mn, from_nm;
  for (std::size_t c = 0; c < kM; ++c) {
    ASSERT_TRUE(NRW[c] == 6 || NRW[c] == 7);
    sevens += NRW[c] == 7;
    for (std::size_t i = 0; i < 7; ++i) {
      if (i >= NRW[c]) {
        EXPECT_EQ(NM[c][i], 0);
        continue;
      }
      ASSERT_GE(NM[c][i], 1);
      ASSERT_LE(NM[c][i], kN);
      if (i > 0) {
        EXPECT_LT(NM[c][i - 1], NM[c][i]);
      }
      from_nm.insert({static_cast<int>(c) + 1, NM[c][i]});
      ++edges;
    }
  }
  for (std::size_t v = 0; v < kN; ++v)
    for (std::size_t j = 0; j < 3; ++j) {
      ASSERT_GE(MN[v][j], 1);
      ASSERT_LE(MN[v][j], kM);
      if (j > 0) {
        EXPECT_LT(MN[v][j - 1], MN[v][j]);
      }
      from_mn.insert({MN[v][j], static_cast<int>(v) + 1});
    }
  EXPECT_EQ(sevens, 24u);
  EXPECT_EQ(edges, kEdges);
  EXPECT_EQ(from_mn.size(), kEdges);
  EXPECT_EQ(from_mn, from_nm);
}

TEST(LdpcTables, EveryGeneratorRowGivesACodeword) {
  // The code is linear, so the codewords of the 91 unit blocks satisfying
  // every check means every codeword does.
  for (std::size_t i = 0; i < kK; ++i) {
    Block b{};
    b[i / 8] = static_cast<std::uint8_t>(0x80u >> (i % 8));
    const auto bits = codeword_bits(ldpc_encode(b));
    EXPECT_EQ(ldpc_count_errors(bits), 0u) << i;
  }
}

TEST(Crc14, KnownValues) {
  // Reference values from long division of M(x) x^14 by the polynomial
  // x^14 + x^13 + x^10 + x^9 + x^8 + x^6 + x^4 + x^2 + x + 1, M the 77 message
  // bits and five zeros.
  struct Case {
    std::array<std::uint8_t, 10> payload;
    std::uint16_t crc;
  };
  const Case cases[] = {
      {{0, 0, 0, 0, 0, 0, 0, 0, 0, 0}, 0x0000},
      {{0x80, 0, 0, 0, 0, 0, 0, 0, 0, 0}, 0x2BF8},
      {{0, 0, 0, 0, 0, 0, 0, 0, 0, 0x08}, 0x3874},
      {{0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}, 0x07B1},
      {{0x00, 0x00, 0x00, 0x20, 0x4D, 0xEF, 0x1A, 0x8A, 0x19, 0x88}, 0x0B2E},  // CQ K1ABC FN42
      // The three spare bits are not part of the message.
      {{0x00, 0x00, 0x00, 0x20, 0x4D, 0xEF, 0x1A, 0x8A, 0x19, 0x8F}, 0x0B2E},
  };
  for (const auto& c : cases) EXPECT_EQ(crc::crc14(c.payload), c.crc);
}

TEST(Crc14, LinearAndLeavesNoRemainderWhenAppended) {
  std::mt19937 rng(7);
  for (int t = 0; t < 200; ++t) {
    std::array<std::uint8_t, 10> a, b, x;
    for (std::size_t i = 0; i < 10; ++i) {
      a[i] = static_cast<std::uint8_t>(rng());
      b[i] = static_cast<std::uint8_t>(rng());
      x[i] = a[i] ^ b[i];
    }
    // No initial value and no final XOR: the CRC is linear.
    EXPECT_EQ(crc::crc14(x), crc::crc14(a) ^ crc::crc14(b));
    // Dividing the 82 padded bits followed by their CRC leaves remainder 0.
    const std::uint16_t c = crc::crc14(a);
    std::uint32_t r = 0;
    for (unsigned k = 0; k < 96; ++k) {
      const std::uint32_t bit = k < 77 ? (a[k / 8] >> (7 - k % 8)) & 1u : k < 82 ? 0u : (c >> (95 - k)) & 1u;
      r = (r << 1) | bit;
      if (r & 0x4000u) r ^= 0x4000u | 0x2757u;
    }
    EXPECT_EQ(r, 0u);
  }
}

TEST(LdpcEncode, SystematicAndSatisfiesEveryCheck) {
  EXPECT_EQ(ldpc_encode(Block{}), Codeword{});
  std::mt19937 rng(1);
  for (int t = 0; t < 100; ++t) {
    const Block b = random_block(rng);
    const Codeword cw = ldpc_encode(b);
    EXPECT_TRUE(std::equal(b.begin(), b.end() - 1, cw.begin()));
    EXPECT_EQ(cw[11] & 0xE0, b[11] & 0xE0);
    EXPECT_EQ(cw[21] & 0x03, 0);
    const auto bits = codeword_bits(cw);
    EXPECT_EQ(ldpc_count_errors(bits), 0u);
    // Flipping one bit breaks exactly its three checks.
    auto flipped = bits;
    flipped[t % kN] ^= 1u;
    EXPECT_EQ(ldpc_count_errors(flipped), 3u);
  }
}

TEST(LdpcEncode, ParityIsGeneratorRowDotBlock) {
  std::mt19937 rng(3);
  const Block b = random_block(rng);
  const auto bits = codeword_bits(ldpc_encode(b));
  for (std::size_t r = 0; r < kM; ++r) {
    unsigned p = 0;
    for (std::size_t i = 0; i < kK; ++i)
      p ^= ((GENERATOR[r][i / 8] >> (7 - i % 8)) & 1u) & ((b[i / 8] >> (7 - i % 8)) & 1u);
    EXPECT_EQ(bits[kK + r], p) << r;
  }
}

TEST(LdpcDecode, ValidImageReturnsAtOnce) {
  std::mt19937 rng(5);
  const auto bits = codeword_bits(ldpc_encode(random_block(rng)));
  std::array<std::uint8_t, kN> out{};
  EXPECT_EQ(decode(bipolar(bits, 1.0f), out), 0u);
  EXPECT_EQ(out, bits);
}

TEST(LdpcDecode, AllZeroInputDecidesOnesAndKeepsThem) {
  std::array<float, kN> llr{};
  std::array<std::uint8_t, kN> out{};
  const unsigned n = decode(llr, out);
  std::array<std::uint8_t, kN> ones;
  ones.fill(1);
  EXPECT_EQ(out, ones);
  // All ones leaves exactly the 24 checks of seven bits unsatisfied; no
  // iteration improves on that.
  EXPECT_EQ(n, 24u);
  EXPECT_EQ(n, ldpc_count_errors(ones));
}

TEST(LdpcDecode, CorrectsErrors) {
  std::mt19937 rng(11);
  for (int t = 0; t < 20; ++t) {
    const auto bits = codeword_bits(ldpc_encode(random_block(rng)));
    // One strong wrong ratio.
    auto llr = bipolar(bits, 4.0f);
    const std::size_t k = rng() % kN;
    llr[k] = -llr[k] * 2.0f;
    std::array<std::uint8_t, kN> out{};
    EXPECT_EQ(decode(llr, out), 0u);
    EXPECT_EQ(out, bits);
    // Eight weak wrong ratios.
    llr = bipolar(bits, 3.0f);
    for (int e = 0; e < 8; ++e) {
      const std::size_t j = rng() % kN;
      llr[j] = bits[j] ? 1.0f : -1.0f;
    }
    EXPECT_EQ(decode(llr, out), 0u);
    EXPECT_EQ(out, bits);
  }
}

TEST(LdpcDecode, GaussianNoise) {
  // Eb/N0 about 3 dB at rate 91/174: nearly every block decodes.
  std::mt19937 rng(13);
  std::normal_distribution<float> noise(0.0f, 0.7f);
  int ok = 0;
  for (int t = 0; t < 50; ++t) {
    const auto bits = codeword_bits(ldpc_encode(random_block(rng)));
    std::array<float, kN> llr;
    for (std::size_t i = 0; i < kN; ++i) {
      const float y = (bits[i] ? -1.0f : 1.0f) + noise(rng);
      llr[i] = 2.0f * y / (0.7f * 0.7f);
    }
    std::array<std::uint8_t, kN> out{};
    if (decode(llr, out) == 0 && out == bits) ++ok;
  }
  EXPECT_GE(ok, 45);
}

TEST(LdpcApprox, OddAndClamped) {
  for (float x : {0.0f, 0.3f, 1.0f, 2.5f, 4.9f}) {
    EXPECT_EQ(tanh_approx(-x), -tanh_approx(x));
    EXPECT_NEAR(tanh_approx(x), std::tanh(x), 0.01f);
  }
  EXPECT_EQ(tanh_approx(5.0f), 1.0f);
  EXPECT_EQ(tanh_approx(-5.0f), -1.0f);
  for (float y : {0.0f, 0.2f, 0.5f, 0.9f}) {
    EXPECT_EQ(atanh_approx(-y), -atanh_approx(y));
    EXPECT_NEAR(atanh_approx(y), std::atanh(y), 0.05f);
  }
}

}  // namespace
}  // namespace vatel::codec
