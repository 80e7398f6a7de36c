#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <random>

#include "fec/conv.hpp"
#include "test_helpers.hpp"

namespace vatel::fec {
namespace {

using Bytes = std::vector<std::uint8_t>;
using conv::conv_encode;
using conv::depuncture;
using conv::puncture;
using conv::punctured_length;
using conv::viterbi_decode;

constexpr PunctureRate kRates[] = {PunctureRate::R1_2, PunctureRate::R2_3, PunctureRate::R3_4,
                                   PunctureRate::R5_6, PunctureRate::R7_8};

TEST(Conv, ImpulseResponses) {
  EXPECT_EQ(conv_encode(Bytes{1}, true), (Bytes{1, 1, 1, 0, 1, 1, 1, 1, 0, 0, 0, 1, 1, 1}));
  EXPECT_EQ(conv_encode(Bytes{1}, false), (Bytes{1, 1, 0, 0, 1, 0, 0, 1, 1, 1}));
  EXPECT_EQ(conv_encode(Bytes{}, true), Bytes(12, 0));
}

// The shift-register form of the encoder and puncturer, step by step, for
// random inputs (the library's kernels work without carried state).
TEST(Conv, EncoderAndPuncturerMatchTheShiftRegisterForm) {
  std::mt19937 rng(3);
  for (bool k7 : {false, true}) {
    const conv::ConvCode& code = conv::code_of(k7);
    for (std::size_t len : {0u, 1u, 5u, 97u, 1000u}) {
      Bytes bits(len);
      for (auto& b : bits) b = static_cast<std::uint8_t>(rng() & 0x3);  // upper bit ignored
      Bytes expected;
      unsigned s = 0;
      for (std::size_t i = 0; i < len + code.memory; ++i) {
        const unsigned u = i < len ? (bits[i] & 1u) : 0u;
        const unsigned reg = (u << code.memory) | s;
        expected.push_back(static_cast<std::uint8_t>(__builtin_parity(reg & code.first_mask)));
        expected.push_back(static_cast<std::uint8_t>(__builtin_parity(reg & code.second_mask)));
        s = (s >> 1) | (u << (code.memory - 1));
      }
      const Bytes coded = conv_encode(bits, k7);
      ASSERT_EQ(coded, expected) << k7 << " " << len;
      for (PunctureRate rate : kRates) {
        const conv::PuncturePattern& p = conv::puncture_pattern(rate);
        Bytes kept;
        for (std::size_t i = 0; i < coded.size() / 2; ++i) {
          if (p.first[i % p.period]) kept.push_back(coded[2 * i]);
          if (p.second[i % p.period]) kept.push_back(coded[2 * i + 1]);
        }
        ASSERT_EQ(puncture(coded, rate), kept);
      }
    }
  }
}

TEST(Conv, BranchTable) {
  const auto t = conv::branch_table(conv::kK7);
  ASSERT_EQ(t.size(), 128u);
  // From state 0: input 0 stays with output 00, input 1 goes to 32 with 11.
  EXPECT_EQ(t[0].next, 0);
  EXPECT_EQ(t[0].output, 0);
  EXPECT_EQ(t[1].next, 32);
  EXPECT_EQ(t[1].output, 3);
  // State 63, input 1: register 1111111 gives parities of 0x79 (5 taps) and
  // 0x5B (5 taps).
  EXPECT_EQ(t[127].next, 63);
  EXPECT_EQ(t[127].output, 3);
  EXPECT_EQ(conv::branch_table(conv::kK5).size(), 32u);
}

TEST(Puncture, KeepsTheRowsInOrder) {
  // Coded bits numbered so that X_i = 2i and Y_i = 2i + 1 (mod 256).
  Bytes coded(28);
  for (std::size_t i = 0; i < coded.size(); ++i) coded[i] = static_cast<std::uint8_t>(i);
  EXPECT_EQ(puncture(coded, PunctureRate::R2_3), (Bytes{0, 1, 2, 4, 5, 6, 8, 9, 10, 12, 13, 14,
                                                        16, 17, 18, 20, 21, 22, 24, 25, 26}));
  EXPECT_EQ(Bytes(puncture(coded, PunctureRate::R3_4)).size(), punctured_length(14, PunctureRate::R3_4));
  EXPECT_EQ(Bytes(puncture(coded, PunctureRate::R3_4)).front(), 0);
  const auto r34 = puncture(coded, PunctureRate::R3_4);
  EXPECT_EQ(Bytes(r34.begin(), r34.begin() + 4), (Bytes{0, 1, 2, 5}));  // X1 Y1 X2 Y3
  const auto r56 = puncture(coded, PunctureRate::R5_6);
  EXPECT_EQ(Bytes(r56.begin(), r56.begin() + 6), (Bytes{0, 1, 2, 5, 6, 9}));
  const auto r78 = puncture(coded, PunctureRate::R7_8);
  EXPECT_EQ(Bytes(r78.begin(), r78.begin() + 8), (Bytes{0, 1, 2, 4, 6, 9, 10, 13}));
  EXPECT_EQ(puncture(coded, PunctureRate::R1_2), coded);
}

TEST(Puncture, Lengths) {
  EXPECT_EQ(punctured_length(13, PunctureRate::R2_3), 20u);
  EXPECT_EQ(punctured_length(106, PunctureRate::R3_4), 142u);
  EXPECT_EQ(punctured_length(106, PunctureRate::R1_2), 212u);
  for (auto rate : kRates)
    for (std::size_t pairs = 0; pairs < 40; ++pairs)
      EXPECT_EQ(puncture(Bytes(2 * pairs, 1), rate).size(), punctured_length(pairs, rate));
}

TEST(Puncture, DepunctureRestoresPositionsAndZeroFills) {
  for (auto rate : kRates) {
    const std::size_t pairs = 23;
    std::vector<float> full(2 * pairs);
    for (std::size_t i = 0; i < full.size(); ++i) full[i] = static_cast<float>(i + 1);
    Bytes idx(2 * pairs);
    for (std::size_t i = 0; i < idx.size(); ++i) idx[i] = static_cast<std::uint8_t>(i);
    const auto kept = puncture(idx, rate);
    std::vector<float> sent;
    for (auto i : kept) sent.push_back(full[i]);
    const auto back = depuncture(sent, rate, pairs);
    std::size_t zeros = 0;
    for (std::size_t i = 0; i < back.size(); ++i) {
      if (back[i] == 0.0f) ++zeros;
      else EXPECT_EQ(back[i], full[i]);
    }
    EXPECT_EQ(zeros, 2 * pairs - kept.size());
    // Missing tail values stay 0.0.
    const auto short_back = depuncture(std::span(sent).first(5), rate, pairs);
    std::size_t nonzero = 0;
    for (float v : short_back) nonzero += v != 0.0f;
    EXPECT_EQ(nonzero, 5u);
  }
}

TEST(Viterbi, NoiselessEveryRateBothCodes) {
  for (bool k7 : {false, true}) {
    const std::size_t mem = k7 ? 6 : 4;
    for (auto rate : kRates) {
      const auto msg = test::random_bits(301, 7);
      const auto sent = puncture(conv_encode(msg, k7), rate);
      const auto soft = depuncture(test::to_soft(sent), rate, msg.size() + mem);
      EXPECT_EQ(viterbi_decode(soft, k7, msg.size()), msg) << k7 << " rate " << int(rate);
    }
  }
}

TEST(Viterbi, RecoversInputThroughNoiseAtEveryRate) {
  std::mt19937 rng(2024);
  std::normal_distribution<float> noise(0.0f, 1.0f);
  // Noise standard deviation per code and rate for BPSK at unit amplitude,
  // with a margin below the level where the first decoding errors appear;
  // the raw channel still makes dozens of hard errors at each.
  const float sigma[2][5] = {{0.55f, 0.42f, 0.40f, 0.37f, 0.35f},
                             {0.65f, 0.50f, 0.45f, 0.42f, 0.40f}};
  for (bool k7 : {false, true}) {
    const std::size_t mem = k7 ? 6 : 4;
    for (std::size_t r = 0; r < 5; ++r) {
      const float s = sigma[k7][r];
      const auto msg = test::random_bits(8000, static_cast<std::uint32_t>(r));
      const auto sent = puncture(conv_encode(msg, k7), kRates[r]);
      auto rx = test::to_soft(sent);
      std::size_t raw_errors = 0;
      for (std::size_t i = 0; i < rx.size(); ++i) {
        rx[i] += s * noise(rng);
        raw_errors += (rx[i] <= 0.0f) != (sent[i] == 1);
      }
      EXPECT_GT(raw_errors, 0u);
      const auto decoded = viterbi_decode(depuncture(rx, kRates[r], msg.size() + mem), k7, msg.size());
      std::size_t errors = 0;
      for (std::size_t i = 0; i < msg.size(); ++i) errors += decoded[i] != msg[i];
      EXPECT_EQ(errors, 0u) << "K" << (k7 ? 7 : 5) << " rate " << r << " raw " << raw_errors;
    }
  }
}

TEST(Viterbi, AllZeroSoftValuesDecodeToZeros) {
  for (bool k7 : {false, true}) {
    const std::size_t mem = k7 ? 6 : 4;
    EXPECT_EQ(viterbi_decode(std::vector<float>(2 * (50 + mem), 0.0f), k7, 50), Bytes(50, 0));
    // Fewer received values than the punctured length: the rest stays 0.0.
    const auto msg = test::random_bits(64, 3);
    const auto sent = test::to_soft(puncture(conv_encode(msg, k7), PunctureRate::R3_4));
    const auto soft = depuncture(std::span(sent).first(sent.size() - 10), PunctureRate::R3_4,
                                 msg.size() + mem);
    EXPECT_EQ(viterbi_decode(soft, k7, msg.size()).size(), msg.size());
  }
}

TEST(Viterbi, VectorBuildMatchesPortableBitForBit) {
  if (!conv::viterbi_avx2_available()) GTEST_SKIP() << "no AVX2";
  std::mt19937 rng(99);
  const float inf = std::numeric_limits<float>::infinity();
  const float nan = std::numeric_limits<float>::quiet_NaN();
  for (bool k7 : {false, true}) {
    const std::size_t mem = k7 ? 6 : 4;
    for (int trial = 0; trial < 60; ++trial) {
      const std::size_t len = 1 + rng() % 300;
      std::vector<float> soft(2 * (len + mem));
      for (auto& v : soft) {
        switch (trial % 4) {
          case 0: v = std::normal_distribution<float>(0.3f, 1.0f)(rng); break;
          case 1: v = static_cast<float>(static_cast<int>(rng() % 3) - 1); break;  // many ties
          case 2: v = (rng() % 2 ? 1.0f : -1.0f) * 1e37f * static_cast<float>(rng() % 5); break;
          default: {
            const float special[] = {0.0f, -0.0f, inf, -inf, nan, 1.0f, -2.0f, 3e38f};
            v = special[rng() % 8];
          }
        }
      }
      ASSERT_EQ(conv::viterbi_decode_avx2(soft, k7, len), conv::viterbi_decode_portable(soft, k7, len))
          << "trial " << trial << " k7 " << k7;
    }
  }
}

TEST(Viterbi, WrongSoftLengthPanics) {
  EXPECT_PANIC_TEXT(viterbi_decode(std::vector<float>(10), true, 5),
                    "Viterbi needs 2 * (message bits + memory) soft values");
}

}  // namespace
}  // namespace vatel::fec
