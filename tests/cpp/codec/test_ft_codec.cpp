#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <vector>

#include "codec/ft4.hpp"
#include "codec/crc.hpp"
#include "codec/ft8.hpp"

namespace vatel::codec {
namespace {

Payload random_payload(std::mt19937& rng) {
  Payload p;
  for (auto& b : p) b = static_cast<std::uint8_t>(rng());
  return p;
}

Payload masked(Payload p) {
  p[9] &= 0xF8;
  return p;
}

// The codec families under one interface, so that each property is stated once.
struct Ft8 {
  using Codec = Ft8Codec;
  static constexpr std::size_t kTones = 58, kBits = 3, kOrder = 8;
  static constexpr const char* kName = "Ft8Codec";
  static constexpr const std::uint8_t* gray() { return ft8::kGray.data(); }
  static Payload whitened(const Payload& p) { return p; }
};
struct Ft4 {
  using Codec = Ft4Codec;
  static constexpr std::size_t kTones = 87, kBits = 2, kOrder = 4;
  static constexpr const char* kName = "Ft4Codec";
  static constexpr const std::uint8_t* gray() { return ft4::kGray.data(); }
  static Payload whitened(const Payload& p) {
    Payload w;
    for (std::size_t i = 0; i < 10; ++i) w[i] = p[i] ^ ft4::kWhitening[i];
    return w;
  }
};

template <class F>
class FtCodecTest : public ::testing::Test {};
using Families = ::testing::Types<Ft8, Ft4>;
TYPED_TEST_SUITE(FtCodecTest, Families);

template <class F>
std::vector<std::uint8_t> encode(const Payload& p) {
  const auto r = F::Codec::encode(p);
  EXPECT_TRUE(r.ok());
  return std::vector<std::uint8_t>(r.value().begin(), r.value().end());
}

TYPED_TEST(FtCodecTest, EncodeIsTheGrayMappedCodewordOfTheCrcBlock) {
  using F = TypeParam;
  std::mt19937 rng(21);
  for (int t = 0; t < 50; ++t) {
    const Payload p = random_payload(rng);
    const auto tones = encode<F>(p);
    ASSERT_EQ(tones.size(), F::kTones);
    // Undo the Gray map and rebuild the 174 bits.
    std::array<std::uint8_t, ldpc::kN> bits{};
    for (std::size_t k = 0; k < F::kTones; ++k) {
      ASSERT_LT(tones[k], F::kOrder);
      std::size_t v = 0;
      while (F::gray()[v] != tones[k]) ++v;
      for (std::size_t i = 0; i < F::kBits; ++i) bits[F::kBits * k + i] = (v >> (F::kBits - 1 - i)) & 1u;
    }
    EXPECT_EQ(ldpc::ldpc_count_errors(bits), 0u);
    // Bits 0..76 are the (whitened) message, 77..90 its CRC.
    const Payload w = F::whitened(masked(p));
    for (std::size_t i = 0; i < 77; ++i) EXPECT_EQ(bits[i], (w[i / 8] >> (7 - i % 8)) & 1u) << i;
    unsigned c = 0;
    for (std::size_t i = 77; i < 91; ++i) c = (c << 1) | bits[i];
    EXPECT_EQ(c, crc::crc14(w));
  }
}

TYPED_TEST(FtCodecTest, HardRoundTripAndToneWrap) {
  using F = TypeParam;
  std::mt19937 rng(22);
  for (int t = 0; t < 50; ++t) {
    const Payload p = random_payload(rng);
    auto tones = encode<F>(p);
    auto d = F::Codec::decode_hard(tones);
    ASSERT_TRUE(d.ok());
    ASSERT_TRUE(d.value().has_value());
    EXPECT_EQ(*d.value(), masked(p));
    // Tones are read modulo the order.
    for (auto& x : tones) x = static_cast<std::uint8_t>(x + F::kOrder * (1 + t % 3));
    d = F::Codec::decode_hard(tones);
    ASSERT_TRUE(d.value().has_value());
    EXPECT_EQ(*d.value(), masked(p));
    // One wrong tone is corrected.
    tones[t % F::kTones] = static_cast<std::uint8_t>(tones[t % F::kTones] + 1);
    d = F::Codec::decode_hard(tones);
    ASSERT_TRUE(d.value().has_value());
    EXPECT_EQ(*d.value(), masked(p));
  }
}

TYPED_TEST(FtCodecTest, SoftRoundTripAndFailures) {
  using F = TypeParam;
  std::mt19937 rng(23);
  const Payload p = random_payload(rng);
  const auto tones = encode<F>(p);
  auto llr = F::Codec::hard_llr(std::span<const std::uint8_t, F::kTones>(tones.data(), F::kTones));
  for (auto& x : llr) {
    ASSERT_TRUE(x == 10.0f || x == -10.0f);
    x /= 10.0f;
  }
  const auto d = F::Codec::decode_soft(llr);
  ASSERT_TRUE(d.ok());
  ASSERT_TRUE(d.value().has_value());
  EXPECT_EQ(*d.value(), masked(p));

  const std::vector<float> zeros(174, 0.0f);
  EXPECT_FALSE(F::Codec::decode_soft(zeros).value().has_value());

  // A codeword whose CRC does not match: the LDPC decoder accepts it, the
  // codec does not.
  ldpc::Block b = tone_code::payload_block(F::whitened(masked(p)));
  b[10] ^= 0x10;  // one CRC bit
  const auto cw = ldpc::ldpc_encode(b);
  std::array<float, ldpc::kN> image;
  for (std::size_t i = 0; i < ldpc::kN; ++i) image[i] = ((cw[i / 8] >> (7 - i % 8)) & 1u) ? -1.0f : 1.0f;
  EXPECT_FALSE(F::Codec::decode_soft(image).value().has_value());
}

TYPED_TEST(FtCodecTest, ErrorTexts) {
  using F = TypeParam;
  const std::string name = F::kName;
  const std::vector<std::uint8_t> bytes(200, 0);
  const std::vector<float> floats(200, 0.0f);
  for (std::size_t n : {std::size_t{0}, std::size_t{9}, std::size_t{11}}) {
    const auto r = F::Codec::encode(std::span(bytes.data(), n));
    ASSERT_FALSE(r.ok());
    EXPECT_EQ(r.error().message, name + ".encode: expected 10-byte payload, got " + std::to_string(n));
  }
  for (std::size_t n : {std::size_t{0}, F::kTones - 1, F::kTones + 1}) {
    const auto r = F::Codec::decode_hard(std::span(bytes.data(), n));
    ASSERT_FALSE(r.ok());
    EXPECT_EQ(r.error().message, name + ".decode_hard: expected " + std::to_string(F::kTones) + " tones, got " +
                                     std::to_string(n));
  }
  for (std::size_t n : {std::size_t{0}, std::size_t{173}, std::size_t{175}}) {
    const auto r = F::Codec::decode_soft(std::span(floats.data(), n));
    ASSERT_FALSE(r.ok());
    EXPECT_EQ(r.error().message, name + ".decode_soft: expected 174 LLRs, got " + std::to_string(n));
  }
}

TEST(Ft8Codec, ZeroPayloadGivesZeroTones) {
  EXPECT_EQ(encode<Ft8>(Payload{}), std::vector<std::uint8_t>(58, 0));
  const auto t4 = encode<Ft4>(Payload{});
  EXPECT_NE(t4, std::vector<std::uint8_t>(87, 0));
}

TEST(Ft8Codec, GrayMapOfHandBuiltCodeword) {
  // A payload with only bit 0 set.  Tone k is the Gray map of codeword bits
  // 3k..3k+2, first most significant.
  Payload p{};
  p[0] = 0x80;
  const auto cw = ldpc::ldpc_encode(tone_code::payload_block(p));
  const auto tones = encode<Ft8>(p);
  const std::uint8_t gray[8] = {0, 1, 3, 2, 5, 6, 4, 7};
  for (std::size_t k = 0; k < 58; ++k) {
    unsigned v = 0;
    for (std::size_t i = 0; i < 3; ++i) v = (v << 1) | ((cw[(3 * k + i) / 8] >> (7 - (3 * k + i) % 8)) & 1u);
    EXPECT_EQ(tones[k], gray[v]);
  }
  EXPECT_EQ(tones[0], 5);  // bits 1 0 0: v = 4
}

TEST(Ft4Codec, WhiteningLeavesSpareBitsAlone) {
  EXPECT_EQ(ft4::kWhitening[9] & 7, 0);
  std::mt19937 rng(24);
  for (int t = 0; t < 20; ++t) {
    Payload p = random_payload(rng);
    p[9] = static_cast<std::uint8_t>((p[9] & 0xF8) | (t & 7));
    const auto d = Ft4Codec::decode_hard(encode<Ft4>(p));
    ASSERT_TRUE(d.value().has_value());
    EXPECT_EQ(*d.value(), masked(p));
    // FT8 and FT4 differ only by the whitening: FT4's tones of p carry the
    // same codeword bits as FT8's tones of the whitened payload.
    const auto t8 = encode<Ft8>(Ft4::whitened(masked(p)));
    const auto t4 = encode<Ft4>(p);
    for (std::size_t k = 0; k < 174; ++k) {
      const std::size_t v8 = std::find(ft8::kGray.begin(), ft8::kGray.end(), t8[k / 3]) - ft8::kGray.begin();
      const std::size_t v4 = std::find(ft4::kGray.begin(), ft4::kGray.end(), t4[k / 2]) - ft4::kGray.begin();
      EXPECT_EQ((v8 >> (2 - k % 3)) & 1u, (v4 >> (1 - k % 2)) & 1u) << k;
    }
  }
}

TEST(ChannelLayout, Ft8AndFt4) {
  std::array<std::uint8_t, 58> d8;
  for (std::size_t k = 0; k < 58; ++k) d8[k] = static_cast<std::uint8_t>(100 + k);
  const auto s8 = ft8::channel_symbols(d8);
  const std::uint8_t costas[7] = {3, 1, 4, 0, 6, 5, 2};
  for (std::size_t j = 0; j < 7; ++j) {
    EXPECT_EQ(s8[j], costas[j]);
    EXPECT_EQ(s8[36 + j], costas[j]);
    EXPECT_EQ(s8[72 + j], costas[j]);
  }
  EXPECT_EQ(s8[7], 100);
  EXPECT_EQ(s8[35], 128);
  EXPECT_EQ(s8[43], 129);
  EXPECT_EQ(s8[71], 157);

  std::array<std::uint8_t, 87> d4;
  for (std::size_t k = 0; k < 87; ++k) d4[k] = static_cast<std::uint8_t>(100 + k);
  const auto s4 = ft4::channel_symbols(d4);
  EXPECT_EQ(s4[0], 0);
  EXPECT_EQ(s4[104], 0);
  const std::uint8_t sync[4][4] = {{0, 1, 3, 2}, {1, 0, 2, 3}, {2, 3, 1, 0}, {3, 2, 0, 1}};
  const std::size_t starts[4] = {1, 34, 67, 100};
  for (std::size_t b = 0; b < 4; ++b)
    for (std::size_t j = 0; j < 4; ++j) EXPECT_EQ(s4[starts[b] + j], sync[b][j]);
  EXPECT_EQ(s4[5], 100);
  EXPECT_EQ(s4[33], 128);
  EXPECT_EQ(s4[38], 129);
  EXPECT_EQ(s4[66], 157);
  EXPECT_EQ(s4[71], 158);
  EXPECT_EQ(s4[99], 186);
}

}  // namespace
}  // namespace vatel::codec
