#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

#include "waveform/dvb_t_tps.hpp"

using namespace vatel;
using namespace vatel::waveform;
using namespace vatel::waveform::dvb_t_tps;

namespace {

std::string bits_of(const TpsBits& s, std::size_t first, std::size_t count) {
  std::string out;
  for (std::size_t i = first; i < first + count; ++i) out += static_cast<char>('0' + s[i]);
  return out;
}

// Long division of s1..s53 x^14 by g(x) as a coefficient list, highest first.
std::vector<int> parity_by_division(const TpsBits& s) {
  const std::vector<int> g = {1, 0, 0, 0, 0, 1, 1, 0, 1, 1, 1, 0, 1, 1, 1};  // x^14 ... 1
  std::vector<int> r(s.begin() + 1, s.begin() + 54);
  r.resize(53 + 14, 0);
  for (std::size_t i = 0; i < 53; ++i)
    if (r[i])
      for (std::size_t j = 0; j < g.size(); ++j) r[i + j] ^= g[j];
  return {r.end() - 14, r.end()};
}

dvb_t::DvbTFrameParams params(dvb_t::DvbTGuard g, dvb_t::ConstellationOrder c, fec::PunctureRate r,
                              std::uint8_t f, std::uint8_t cell) {
  return {g, c, r, f, cell};
}

}  // namespace

TEST(DvbTTps, WordLayoutAndParity) {
  using dvb_t::DvbTGuard;
  const TpsBits even = tps_encode(params(DvbTGuard::G1_32, dvb_t::ConstellationOrder::Qpsk,
                                         fec::PunctureRate::R1_2, 0, 0));
  EXPECT_EQ(even[0], 0);
  EXPECT_EQ(bits_of(even, 1, 16), "0011010111101110");
  EXPECT_EQ(bits_of(even, 17, 6), "011111");
  const TpsBits odd = tps_encode(params(DvbTGuard::G1_32, dvb_t::ConstellationOrder::Qpsk,
                                        fec::PunctureRate::R1_2, 1, 0));
  EXPECT_EQ(bits_of(odd, 1, 16), "1100101000010001");
  EXPECT_EQ(odd[24], 1);
  const TpsBits w = tps_encode(params(DvbTGuard::G1_8, dvb_t::ConstellationOrder::Qam64,
                                      fec::PunctureRate::R5_6, 5, 0xA7));
  EXPECT_EQ(bits_of(w, 23, 2), "01");
  EXPECT_EQ(bits_of(w, 25, 2), "10");
  EXPECT_EQ(bits_of(w, 27, 3), "000");
  EXPECT_EQ(bits_of(w, 30, 6), "011011");
  EXPECT_EQ(bits_of(w, 36, 4), "1000");
  EXPECT_EQ(bits_of(w, 40, 8), "10100111");
  EXPECT_EQ(bits_of(w, 48, 6), "000000");
  std::mt19937 rng(7);
  for (int trial = 0; trial < 50; ++trial) {
    const auto p = params(static_cast<DvbTGuard>(rng() % 4),
                          static_cast<dvb_t::ConstellationOrder>(1 + rng() % 3),
                          static_cast<fec::PunctureRate>(rng() % 5),
                          static_cast<std::uint8_t>(rng()), static_cast<std::uint8_t>(rng()));
    const TpsBits s = tps_encode(p);
    const auto parity = parity_by_division(s);
    for (std::size_t i = 0; i < 14; ++i) ASSERT_EQ(s[54 + i], parity[i]) << trial << " " << i;
    const auto word = tps_decode(s);
    ASSERT_TRUE(word.has_value());
    EXPECT_EQ(*word, (TpsWord{static_cast<std::uint8_t>(p.guard), p.constellation,
                              static_cast<std::uint8_t>(p.code_rate),
                              static_cast<std::uint8_t>(p.frame_number & 3), p.cell_id}));
  }
}

TEST(DvbTTps, DecoderCorrectsTwoErrorsAndRefusesBadFields) {
  const TpsBits sent = tps_encode({dvb_t::DvbTGuard::G1_4, dvb_t::ConstellationOrder::Qam16,
                                   fec::PunctureRate::R3_4, 2, 0x5C});
  const auto expected = tps_decode(sent);
  ASSERT_TRUE(expected.has_value());
  TpsBits s0 = sent;
  s0[0] ^= 1;
  EXPECT_EQ(tps_decode(s0), expected);
  for (std::size_t a = 1; a < 68; ++a) {
    TpsBits one = sent;
    one[a] ^= 1;
    ASSERT_EQ(tps_decode(one), expected) << a;
    for (std::size_t b = a + 1; b < 68; ++b) {
      TpsBits two = one;
      two[b] ^= 1;
      ASSERT_EQ(tps_decode(two), expected) << a << " " << b;
    }
  }
  std::mt19937 rng(11);
  for (int trial = 0; trial < 3000; ++trial) {
    TpsBits three = sent;
    std::size_t p[3];
    do {
      for (auto& x : p) x = 1 + rng() % 67;
    } while (p[0] == p[1] || p[1] == p[2] || p[0] == p[2]);
    for (auto x : p) three[x] ^= 1;
    const auto got = tps_correct(three);
    ASSERT_FALSE(got.has_value() && std::equal(got->begin() + 1, got->end(), sent.begin() + 1))
        << trial;
  }
  // Valid codewords that name constellation 11 or code rate 5..7.
  auto with_fields = [&](std::size_t first, std::string bits) {
    TpsBits s = sent;
    for (std::size_t i = 0; i < bits.size(); ++i) s[first + i] = bits[i] - '0';
    const auto parity = parity_by_division(s);
    for (std::size_t i = 0; i < 14; ++i) s[54 + i] = static_cast<std::uint8_t>(parity[i]);
    return s;
  };
  EXPECT_FALSE(tps_decode(with_fields(25, "11")).has_value());
  for (const char* r : {"101", "110", "111"}) EXPECT_FALSE(tps_decode(with_fields(30, r)).has_value());
  EXPECT_TRUE(tps_decode(with_fields(30, "100")).has_value());
}

TEST(DvbTTps, KeyingAndDifferentialReceptionRoundTrip) {
  const TpsBits word = tps_encode({dvb_t::DvbTGuard::G1_16, dvb_t::ConstellationOrder::Qpsk,
                                   fec::PunctureRate::R7_8, 3, 0x42});
  const auto refs = tps_reference_signs();
  const std::array<float, 17> expected_refs = {1, -1, -1, 1, 1, 1, -1, -1, 1, 1, 1, -1, 1, 1, -1, 1, -1};
  EXPECT_EQ(refs, expected_refs);
  TpsKeyer keyer(word);
  TpsReceiver rx;
  std::vector<cf32> spectrum(2048);
  // A common phase rotation and gain on every carrier cancels in the products.
  const cf32 channel = std::polar(0.3f, 1.1f);
  for (std::size_t sym = 0; sym < 136; ++sym) {
    keyer.key(sym, spectrum);
    if (sym % 68 == 0) {
      for (std::size_t i = 0; i < 17; ++i) ASSERT_EQ(spectrum[dvb_t::kTpsBins[i]].real(), refs[i]);
    }
    std::vector<cf32> received(2048);
    for (std::size_t i = 0; i < 17; ++i) received[dvb_t::kTpsBins[i]] = spectrum[dvb_t::kTpsBins[i]] * channel;
    // The first block is spoiled by three wrong decisions, the second is clean.
    if (sym == 10 || sym == 20 || sym == 30) {
      for (std::size_t i = 0; i < 17; ++i) received[dvb_t::kTpsBins[i]] *= -1.0f;
    }
    rx.push(received);
    if (sym == 67) {
      EXPECT_FALSE(rx.word().has_value());
    }
  }
  ASSERT_TRUE(rx.word().has_value());
  EXPECT_EQ(*rx.word(), (TpsWord{1, dvb_t::ConstellationOrder::Qpsk, 4, 3, 0x42}));
  const std::array<cf32, 17> zero{};
  EXPECT_EQ(tps_differential_bit(zero, zero), 0);
}

namespace vatel::waveform::dvb_t_tps {
namespace {

TEST(DvbTTps, ReceiverAcceptsOnlyBlocksWithTheSynchronisationWord) {
  // Silence decides every bit 0: the all-zero word is a codeword, but not a
  // TPS block.
  TpsReceiver silent;
  const std::vector<cf32> zeros(2048);
  for (std::size_t sym = 0; sym < 136; ++sym) silent.push(zeros);
  EXPECT_FALSE(silent.word().has_value());
  EXPECT_TRUE(tps_correct(TpsBits{}).has_value());
  EXPECT_FALSE(tps_has_sync_word(TpsBits{}));
  // Even and odd frames carry the word and its complement; two errors in the
  // word are corrected before the test.
  for (std::uint8_t f : {0, 1}) {
    TpsBits word = tps_encode({dvb_t::DvbTGuard::G1_4, dvb_t::ConstellationOrder::Qam16,
                               fec::PunctureRate::R2_3, f, 9});
    EXPECT_TRUE(tps_has_sync_word(word));
    word[3] ^= 1;
    word[12] ^= 1;
    EXPECT_FALSE(tps_has_sync_word(word));
    EXPECT_TRUE(tps_has_sync_word(*tps_correct(word)));
  }
}

}  // namespace
}  // namespace vatel::waveform::dvb_t_tps
