#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <random>
#include <variant>
#include <string>
#include <vector>

#include "fec/bits.hpp"
#include "fec/chain.hpp"
#include "fec/scrambler.hpp"
#include "test_helpers.hpp"

namespace vatel::fec {
namespace {

using Bytes = std::vector<std::uint8_t>;
constexpr std::uint64_t kMax = std::numeric_limits<std::uint64_t>::max();

// One set of stage choices of a section.
struct Stages {
  CrcKind crc = CrcKind::None;
  OuterFec outer{};
  InnerFec inner{};
  InterleaverKind outer_il{};
  InterleaverKind inner_il{};
  ScramblerKind scrambler{};
  ScramblerPosition position = ScramblerPosition::BeforeOuter;

  std::string name() const {
    return "crc " + std::to_string(static_cast<int>(crc)) + " outer " +
           std::to_string(static_cast<int>(outer.tag)) + "(" + std::to_string(outer.a) + "," +
           std::to_string(outer.b) + ") inner " + std::to_string(static_cast<int>(inner.kind)) +
           "/" + std::to_string(static_cast<int>(inner.code)) + "/" + std::to_string(inner.k7) +
           "/" + std::to_string(static_cast<int>(inner.rate)) + " il " +
           std::to_string(static_cast<int>(outer_il.tag)) + "," +
           std::to_string(static_cast<int>(inner_il.tag)) + " scrambler " +
           std::to_string(static_cast<int>(scrambler.kind)) + "@" +
           std::to_string(static_cast<int>(position));
  }
};

BlockPlan plan_of(const Stages& s, std::uint64_t len, CodecCache& cache) {
  return block_plan(len, s.crc, s.outer, s.inner, s.outer_il, s.inner_il, cache);
}

EncodedStages encode(const Stages& s, const Bytes& payload, CodecCache& cache,
                     std::uint32_t seed = 0x1234) {
  return encode_chain_stages(payload, s.crc, s.outer, s.inner, s.outer_il, s.inner_il,
                             s.scrambler, s.position, seed, cache);
}

ChainResult decode(const Stages& s, std::span<const float> soft, const BlockPlan& plan,
                   CodecCache& cache, std::uint32_t seed = 0x1234,
                   LdpcDecodeRule rule = LdpcDecodeRule::sum_product()) {
  return decode_chain(soft, plan, s.crc, s.outer, s.inner, s.outer_il, s.inner_il, s.scrambler,
                      s.position, seed, cache, rule);
}

ChainOutcome outcome(ChainResult r) {
  if (!std::holds_alternative<ChainOutcome>(r)) throw std::runtime_error("MalformedHeader");
  return std::get<ChainOutcome>(std::move(r));
}

// BPSK through white Gaussian noise of deviation sigma per value.
std::vector<float> awgn(const std::vector<std::uint8_t>& bits, float sigma, std::uint32_t seed) {
  std::mt19937 rng(seed);
  std::normal_distribution<float> noise(0.0f, sigma);
  std::vector<float> soft = test::to_soft(bits);
  for (float& v : soft) v += noise(rng);
  return soft;
}

// Every outer code, inner code and interleaver kind against each other; the
// CRC and scrambler choices cycle through the combinations so that each
// meets every code.
std::vector<Stages> all_stage_combinations() {
  const CrcKind crcs[] = {CrcKind::None, CrcKind::Crc16, CrcKind::Crc32};
  const OuterFec outers[] = {OuterFec::none(), OuterFec::bch(8), OuterFec::reed_solomon(204, 16),
                             OuterFec::reed_solomon(40, 10)};
  const InnerFec inners[] = {
      InnerFec::none(),
      InnerFec::ldpc(LdpcCodeId::N512R12),
      InnerFec::ldpc(LdpcCodeId::N576R23),
      InnerFec::ldpc(LdpcCodeId::N512R34),
      InnerFec::convolutional(false, PunctureRate::R1_2),
      InnerFec::convolutional(false, PunctureRate::R2_3),
      InnerFec::convolutional(true, PunctureRate::R3_4),
      InnerFec::convolutional(true, PunctureRate::R5_6),
      InnerFec::convolutional(true, PunctureRate::R7_8),
  };
  const InterleaverKind outer_ils[] = {InterleaverKind::none(), InterleaverKind::block(7, 11),
                                       InterleaverKind::convolutional(3, 2)};
  const InterleaverKind inner_ils[] = {InterleaverKind::none(), InterleaverKind::block(16, 9),
                                       InterleaverKind::convolutional(4, 3)};
  struct Scr {
    ScramblerKind kind;
    ScramblerPosition position;
  };
  const Scr scramblers[] = {
      {ScramblerKind::none(), ScramblerPosition::BeforeOuter},
      {ScramblerKind::lfsr(0x48, 7, LfsrSeed::fixed(0x5B)), ScramblerPosition::BeforeOuter},
      {ScramblerKind::lfsr(0x6000, 15, LfsrSeed::per_frame_random()),
       ScramblerPosition::AfterInner},
      {ScramblerKind::dvb_t_energy_dispersal(), ScramblerPosition::BeforeOuter},
      {ScramblerKind::dvb_t_energy_dispersal(), ScramblerPosition::AfterInner},
  };
  std::vector<Stages> out;
  std::size_t i = 0;
  for (const auto& outer : outers)
    for (const auto& inner : inners)
      for (const auto& oil : outer_ils)
        for (const auto& iil : inner_ils) {
          const Scr& scr = scramblers[i % std::size(scramblers)];
          out.push_back({crcs[i % std::size(crcs)], outer, inner, oil, iil, scr.kind,
                         scr.position});
          ++i;
        }
  return out;
}

TEST(BlockPlan, AnchorsOfEachStage) {
  CodecCache cache;
  const auto none = InterleaverKind::none();
  struct Case {
    const char* what;
    std::uint64_t len;
    CrcKind crc;
    OuterFec outer;
    InnerFec inner;
    InterleaverKind outer_il;
    BlockPlan expected;
  };
  const Case cases[] = {
      {"empty payload, CRC-16", 0, CrcKind::Crc16, OuterFec::none(), InnerFec::none(), none,
       {0, 2, 16, 16, 16, 16}},
      {"RS(204,188) over 104 bytes", 100, CrcKind::Crc32, OuterFec::reed_solomon(204, 16),
       InnerFec::none(), none, {100, 104, 1632, 1632, 1632, 1632}},
      {"BCH t = 8 over 176 bits", 20, CrcKind::Crc16, OuterFec::bch(8), InnerFec::none(), none,
       {20, 22, 368, 368, 368, 368}},
      {"256 bits into n512r12", 32, CrcKind::None, OuterFec::none(),
       InnerFec::ldpc(LdpcCodeId::N512R12), none, {32, 32, 256, 256, 512, 512}},
      {"257 bits into n512r12", 1, CrcKind::None, OuterFec::none(),
       InnerFec::ldpc(LdpcCodeId::N512R12), InterleaverKind::block(1, 257),
       {1, 1, 8, 257, 1024, 1024}},
      {"K = 7 rate 3/4 over 100 bits", 1, CrcKind::None, OuterFec::none(),
       InnerFec::convolutional(true, PunctureRate::R3_4), InterleaverKind::block(1, 100),
       {1, 1, 8, 100, 142, 142}},
      {"K = 5 rate 1/2 over 8 bits", 1, CrcKind::None, OuterFec::none(),
       InnerFec::convolutional(false, PunctureRate::R1_2), none, {1, 1, 8, 8, 24, 24}},
      {"convolutional interleaver flush of an empty input", 0, CrcKind::None, OuterFec::none(),
       InnerFec::none(), InterleaverKind::convolutional(12, 17),
       {0, 0, 0, 17952, 17952, 17952}},
      {"convolutional interleaver pads to I bytes", 2, CrcKind::None, OuterFec::none(),
       InnerFec::none(), InterleaverKind::convolutional(12, 17),
       {2, 2, 16, 8 * (12 + 2244), 8 * (12 + 2244), 8 * (12 + 2244)}},
  };
  for (const Case& c : cases) {
    const BlockPlan plan = block_plan(c.len, c.crc, c.outer, c.inner, c.outer_il, none, cache);
    EXPECT_EQ(plan, c.expected) << c.what;
  }
}

TEST(EncodeChain, EmptyPayloadCarriesTheCrcOfNothing) {
  CodecCache cache;
  const Stages s{CrcKind::Crc16};
  const auto out = encode(s, {}, cache);
  EXPECT_EQ(out.coded_bits, Bytes(16, 1));
  EXPECT_EQ(out.outer_stage_bits, Bytes(16, 1));
  // CRC-32 of "123456789" follows the bytes, most significant byte first.
  const Bytes digits{'1', '2', '3', '4', '5', '6', '7', '8', '9'};
  const auto crc32 = encode(Stages{CrcKind::Crc32}, digits, cache);
  const Bytes expected{'1', '2', '3', '4', '5', '6', '7', '8', '9', 0xCB, 0xF4, 0x39, 0x26};
  EXPECT_EQ(bits::bits_to_bytes(crc32.coded_bits), expected);
}

TEST(EncodeChain, ReedSolomonFillsItsLastCodewordWithZeros) {
  CodecCache cache;
  const Stages s{CrcKind::Crc32, OuterFec::reed_solomon(204, 16)};
  const Bytes payload = test::random_bytes(100, 3);
  const auto out = encode(s, payload, cache);
  const Bytes word = bits::bits_to_bytes(out.coded_bits);
  ASSERT_EQ(word.size(), 204u);
  EXPECT_EQ(Bytes(word.begin(), word.begin() + 100), payload);
  EXPECT_EQ(Bytes(word.begin() + 104, word.begin() + 188), Bytes(84, 0));
  Bytes message(word.begin(), word.begin() + 188);
  EXPECT_EQ(cache.rs(204, 16)->encode_block(message), word);
}

TEST(EncodeChain, LengthsFollowThePlanForEveryStageCombination) {
  CodecCache cache;
  for (const Stages& s : all_stage_combinations())
    for (const std::size_t len : {0u, 1u, 37u}) {
      const Bytes payload = test::random_bytes(len, static_cast<std::uint32_t>(len));
      const BlockPlan plan = plan_of(s, len, cache);
      const auto out = encode(s, payload, cache);
      ASSERT_EQ(out.outer_stage_bits.size(), plan.outer_interleaved_bits) << s.name() << " len " << len;
      ASSERT_EQ(out.coded_bits.size(), plan.coded_bits) << s.name() << " len " << len;
      for (std::uint8_t b : out.coded_bits) ASSERT_LE(b, 1u);
    }
  // One code of each kind, built once however often it was planned and used.
  EXPECT_EQ(cache.ldpc_entries(), 3u);
  EXPECT_EQ(cache.bch_entries(), 1u);
  EXPECT_EQ(cache.rs_entries(), 2u);
}

TEST(EncodeChain, BitScramblerActsOnlyAfterTheInnerCodeAndOnlyAsAnLfsr) {
  CodecCache cache;
  const Bytes payload = test::random_bytes(30, 9);
  Stages plain{CrcKind::Crc16, OuterFec::none(), InnerFec::convolutional(true, PunctureRate::R2_3)};
  const auto reference = encode(plain, payload, cache);

  Stages dvb = plain;
  dvb.scrambler = ScramblerKind::dvb_t_energy_dispersal();
  dvb.position = ScramblerPosition::AfterInner;
  EXPECT_EQ(encode(dvb, payload, cache).coded_bits, reference.coded_bits);

  Stages lfsr = plain;
  lfsr.scrambler = ScramblerKind::lfsr(0x9, 4, LfsrSeed::per_frame_random());
  lfsr.position = ScramblerPosition::AfterInner;
  const auto scrambled = encode(lfsr, payload, cache, 0x11);
  EXPECT_EQ(scrambled.outer_stage_bits, reference.outer_stage_bits);
  Bytes expected = reference.coded_bits;
  scrambler::scramble_bits(PnScrambler::from_kind(lfsr.scrambler, 0x11), expected);
  EXPECT_EQ(scrambled.coded_bits, expected);
  EXPECT_NE(scrambled.coded_bits, reference.coded_bits);
  // The per-frame seed is used: another seed gives another stream.
  EXPECT_NE(encode(lfsr, payload, cache, 0x12).coded_bits, scrambled.coded_bits);
}

TEST(EncodeChain, UnusableParametersStopTheCallWithTheirStage) {
  CodecCache cache;
  const Bytes payload(10, 0x55);
  Stages zero_block{CrcKind::None, OuterFec::none(), InnerFec::none(),
                    InterleaverKind::block(0, 4)};
  EXPECT_PANIC_TEXT(encode(zero_block, payload, cache), "interleaver dimensions must be nonzero");
  Stages zero_conv{CrcKind::None, OuterFec::none(), InnerFec::none(), InterleaverKind::none(),
                   InterleaverKind::convolutional(12, 0)};
  EXPECT_PANIC_TEXT(encode(zero_conv, payload, cache),
                    "convolutional interleaver dimensions must be nonzero");

  // The LFSR is checked before any code is built, so the Reed-Solomon
  // section is not spoiled by the invalid (300, 16).
  Stages bad{CrcKind::Crc32, OuterFec::reed_solomon(300, 16)};
  bad.scrambler = ScramblerKind::lfsr(0x3, 33, LfsrSeed::fixed(1));
  bad.position = ScramblerPosition::AfterInner;
  EXPECT_PANIC_TEXT(encode(bad, payload, cache), "LFSR width must be in 2..=32");
  bad.scrambler = ScramblerKind::lfsr(0x10, 4, LfsrSeed::fixed(1));
  EXPECT_PANIC_TEXT(encode(bad, payload, cache), "LFSR taps must fit in `width` bits");
  EXPECT_EQ(cache.rs(204, 16)->n(), 204u);
  bad.scrambler = ScramblerKind::none();
  EXPECT_PANIC_TEXT(encode(bad, payload, cache), "valid RS config: BadLength(300, 16)");
  EXPECT_PANIC_HAS(plan_of(Stages{CrcKind::None, OuterFec::bch(0)}, 4, cache),
                   "valid BCH t: DesignTooLarge(0)");
  // Dimensions whose sizes wrap stop the coding as they stop the plan.
  Stages wrapping{CrcKind::None, OuterFec::none(), InnerFec::none(),
                  InterleaverKind::block(1ull << 32, 1ull << 32)};
  EXPECT_TOO_LARGE(encode(wrapping, payload, cache), "block interleaver size rows * cols overflows");
  wrapping.outer_il = InterleaverKind::convolutional(1ull << 22, 1ull << 22);
  EXPECT_TOO_LARGE(encode(wrapping, payload, cache),
                   "convolutional interleaver delay I * (I - 1) * M overflows");
}

TEST(BlockPlan, ZeroInterleaverDimensionsOnlySizeThePlan) {
  CodecCache cache;
  const auto plan = block_plan(3, CrcKind::None, OuterFec::none(), InnerFec::none(),
                               InterleaverKind::block(0, 9), InterleaverKind::convolutional(0, 5),
                               cache);
  EXPECT_EQ(plan, (BlockPlan{3, 3, 24, 24, 24, 24}));
  const auto no_depth = block_plan(3, CrcKind::None, OuterFec::none(), InnerFec::none(),
                                   InterleaverKind::convolutional(4, 0), InterleaverKind::none(),
                                   cache);
  EXPECT_EQ(no_depth.outer_interleaved_bits, 32u);
}

TEST(BlockPlan, CountsThatWouldWrapStopTheCall) {
  CodecCache cache;
  const auto none = InterleaverKind::none();
  const auto plan = [&](std::uint64_t len, CrcKind crc, OuterFec outer, InnerFec inner,
                        InterleaverKind oil, InterleaverKind iil) {
    return block_plan(len, crc, outer, inner, oil, iil, cache);
  };
  EXPECT_TOO_LARGE(plan(kMax, CrcKind::Crc32, OuterFec::none(), InnerFec::none(), none, none),
                   "payload with CRC overflows");
  EXPECT_TOO_LARGE(plan(kMax / 4, CrcKind::None, OuterFec::none(), InnerFec::none(), none, none),
                   "payload bits overflows");
  EXPECT_TOO_LARGE(plan(kMax / 16, CrcKind::None, OuterFec::reed_solomon(255, 200),
                        InnerFec::none(), none, none),
                   "Reed-Solomon output");
  EXPECT_TOO_LARGE(plan(kMax / 16, CrcKind::None, OuterFec::bch(19), InnerFec::none(), none, none),
                   "BCH output overflows");
  // rows * cols = 2^64 would wrap to 0 and pass the data unchanged.
  EXPECT_TOO_LARGE(plan(1, CrcKind::None, OuterFec::none(), InnerFec::none(),
                        InterleaverKind::block(1ull << 32, 1ull << 32), none),
                   "block interleaver size rows * cols overflows");
  EXPECT_TOO_LARGE(plan(1, CrcKind::None, OuterFec::none(), InnerFec::none(),
                        InterleaverKind::block(1, kMax), InterleaverKind::block(1, kMax - 1)),
                   "block interleaver output overflows");
  EXPECT_TOO_LARGE(plan(1, CrcKind::None, OuterFec::none(), InnerFec::none(), none,
                        InterleaverKind::convolutional(1ull << 22, 1ull << 22)),
                   "convolutional interleaver delay I * (I - 1) * M overflows");
  EXPECT_TOO_LARGE(plan(1, CrcKind::None, OuterFec::none(), InnerFec::none(), none,
                        InterleaverKind::convolutional(2, kMax / 16)),
                   "convolutional interleaver output");
  // An outer-stage count near 2^64 meets the inner code's size arithmetic.
  const auto huge = InterleaverKind::block(1, kMax - 3);
  EXPECT_TOO_LARGE(plan(1, CrcKind::None, OuterFec::none(), InnerFec::ldpc(LdpcCodeId::N512R12),
                        huge, none),
                   "LDPC output overflows");
  EXPECT_TOO_LARGE(plan(1, CrcKind::None, OuterFec::none(),
                        InnerFec::convolutional(true, PunctureRate::R1_2), huge, none),
                   "convolutional input overflows");
  EXPECT_TOO_LARGE(plan(1, CrcKind::None, OuterFec::none(),
                        InnerFec::convolutional(false, PunctureRate::R1_2),
                        InterleaverKind::block(1, kMax / 2), none),
                   "punctured length overflows");
}

TEST(DecodeChain, CleanValuesReturnThePayloadForEveryStageCombination) {
  CodecCache cache;
  for (const Stages& s : all_stage_combinations())
    for (const std::size_t len : {0u, 1u, 37u}) {
      const Bytes payload = test::random_bytes(len, static_cast<std::uint32_t>(len + 5));
      const BlockPlan plan = plan_of(s, len, cache);
      auto soft = test::to_soft(encode(s, payload, cache).coded_bits);
      // Values beyond the section's coded bits belong to someone else.
      soft.insert(soft.end(), 100, -3.0f);
      const auto r = decode(s, soft, plan, cache);
      ASSERT_TRUE(std::holds_alternative<ChainOutcome>(r)) << s.name() << " len " << len;
      const ChainOutcome& o = std::get<ChainOutcome>(r);
      EXPECT_EQ(o.payload, payload) << s.name() << " len " << len;
      EXPECT_TRUE(o.inner_ok && o.outer_ok && o.crc_ok && o.is_valid()) << s.name();
      EXPECT_EQ(o.has_crc, s.crc != CrcKind::None);
      EXPECT_EQ(o.has_outer, s.outer.tag != OuterFec::Tag::None);
      EXPECT_EQ(o.rs_corrected.has_value(), s.outer.tag == OuterFec::Tag::ReedSolomon);
      if (o.rs_corrected) EXPECT_EQ(*o.rs_corrected, 0u);
    }
}

TEST(DecodeChain, ShortNoisyOrEmptyInputNeverStopsTheCall) {
  CodecCache cache;
  std::mt19937 rng(7);
  std::normal_distribution<float> noise(0.0f, 2.0f);
  for (const Stages& s : all_stage_combinations()) {
    const Bytes payload = test::random_bytes(23, 1);
    const BlockPlan plan = plan_of(s, payload.size(), cache);
    const auto clean = test::to_soft(encode(s, payload, cache).coded_bits);
    std::vector<float> junk_values(plan.coded_bits);
    for (float& v : junk_values) v = noise(rng);
    const std::vector<float>& junk = junk_values;
    for (const std::size_t keep : {std::size_t{0}, std::size_t{13}, clean.size() / 2,
                                   clean.size() - 1}) {
      for (const std::vector<float>* input : {&clean, &junk}) {
        const auto r = decode(s, std::span(*input).first(keep), plan, cache);
        if (const auto* o = std::get_if<ChainOutcome>(&r))
          EXPECT_EQ(o->payload.size(), payload.size()) << s.name() << " keep " << keep;
      }
    }
    const auto r = decode(s, junk, plan, cache);
    ASSERT_TRUE(std::holds_alternative<ChainOutcome>(r)) << s.name();
  }
}

TEST(DecodeChain, EachInnerCodeDecodesThroughNoiseAtAWorkingSnr) {
  CodecCache cache;
  struct Case {
    InnerFec inner;
    float sigma;
  };
  // Deviations a step inside the point where each code starts to fail (the
  // soft values are unscaled, which costs the sum-product rule about 2 dB).
  const Case cases[] = {
      {InnerFec::ldpc(LdpcCodeId::N512R12), 0.45f},
      {InnerFec::ldpc(LdpcCodeId::N576R23), 0.33f},
      {InnerFec::ldpc(LdpcCodeId::N512R34), 0.33f},
      {InnerFec::convolutional(false, PunctureRate::R1_2), 0.60f},
      {InnerFec::convolutional(true, PunctureRate::R1_2), 0.65f},
      {InnerFec::convolutional(true, PunctureRate::R2_3), 0.50f},
      {InnerFec::convolutional(true, PunctureRate::R3_4), 0.40f},
      {InnerFec::convolutional(true, PunctureRate::R7_8), 0.33f},
  };
  const Bytes payload = test::random_bytes(200, 21);
  for (const Case& c : cases)
    for (const OuterFec outer : {OuterFec::bch(8), OuterFec::reed_solomon(204, 16)}) {
      const Stages s{CrcKind::Crc32, outer, c.inner, InterleaverKind::block(8, 23),
                     InterleaverKind::block(16, 32),
                     ScramblerKind::lfsr(0x6000, 15, LfsrSeed::fixed(0x2A)),
                     ScramblerPosition::AfterInner};
      const BlockPlan plan = plan_of(s, payload.size(), cache);
      const auto coded = encode(s, payload, cache).coded_bits;
      for (std::uint32_t trial = 0; trial < 3; ++trial) {
        const auto soft = awgn(coded, c.sigma, 100 + trial);
        const ChainOutcome o = outcome(decode(s, soft, plan, cache));
        EXPECT_TRUE(o.is_valid()) << s.name() << " trial " << trial;
        EXPECT_EQ(o.payload, payload) << s.name() << " trial " << trial;
      }
    }
}

TEST(DecodeChain, LdpcRulesAllDecodeTheNoisySection) {
  CodecCache cache;
  const Stages s{CrcKind::Crc16, OuterFec::none(), InnerFec::ldpc(LdpcCodeId::N512R12)};
  const Bytes payload = test::random_bytes(94, 4);
  const BlockPlan plan = plan_of(s, payload.size(), cache);
  const auto soft = awgn(encode(s, payload, cache).coded_bits, 0.3f, 3);
  for (const auto rule : {LdpcDecodeRule::sum_product(), LdpcDecodeRule::min_sum(),
                          LdpcDecodeRule::scaled_min_sum()}) {
    const ChainOutcome o = outcome(decode(s, soft, plan, cache, 0, rule));
    EXPECT_TRUE(o.crc_ok && o.inner_ok) << static_cast<int>(rule.tag);
    EXPECT_EQ(o.payload, payload);
    EXPECT_EQ(o.inner_bits.size(), 3u * 256u);
  }
}

// Flips whole bytes of the outer code's output (no inner code, so coded bit
// i is outer bit i).
std::vector<float> with_byte_errors(const Bytes& coded_bits, std::span<const std::size_t> at) {
  auto soft = test::to_soft(coded_bits);
  for (std::size_t byte : at)
    for (std::size_t k = 0; k < 8; ++k) soft[8 * byte + k] = -soft[8 * byte + k];
  return soft;
}

TEST(DecodeChain, ReedSolomonCorrectsAndCountsUpToItsCapability) {
  CodecCache cache;
  const Bytes payload = test::random_bytes(300, 8);
  for (const CrcKind crc : {CrcKind::Crc32, CrcKind::None}) {
    const Stages s{crc, OuterFec::reed_solomon(204, 16)};
    const BlockPlan plan = plan_of(s, payload.size(), cache);
    ASSERT_EQ(plan.outer_bits, 2u * 204u * 8u);
    const auto coded = encode(s, payload, cache).coded_bits;

    // Eight byte errors in the first codeword and five in the second (one
    // in its parity), all corrected and counted.
    const std::size_t some[] = {0, 17, 40, 99, 150, 187, 190, 203, 204, 250, 300, 391, 400};
    const ChainOutcome fixed = outcome(decode(s, with_byte_errors(coded, some), plan, cache));
    EXPECT_TRUE(fixed.outer_ok && fixed.crc_ok && fixed.is_valid());
    EXPECT_EQ(fixed.payload, payload);
    ASSERT_TRUE(fixed.rs_corrected.has_value());
    EXPECT_EQ(*fixed.rs_corrected, 13u);

    // Thirty errors in the second codeword: its received bytes pass on, the
    // first codeword's corrections still count.
    std::vector<std::size_t> many{3};
    for (std::size_t i = 0; i < 30; ++i) many.push_back(210 + 6 * i);
    const ChainOutcome broken = outcome(decode(s, with_byte_errors(coded, many), plan, cache));
    EXPECT_FALSE(broken.outer_ok);
    EXPECT_FALSE(broken.is_valid());
    EXPECT_EQ(*broken.rs_corrected, 1u);
    EXPECT_EQ(Bytes(broken.payload.begin(), broken.payload.begin() + 188),
              Bytes(payload.begin(), payload.begin() + 188));
    EXPECT_NE(broken.payload, payload);
    // Without a CRC the failed outer code alone makes the section invalid.
    EXPECT_EQ(broken.crc_ok, crc == CrcKind::None);
  }
}

TEST(DecodeChain, BchCorrectsUpToItsCapabilityPerBlock) {
  CodecCache cache;
  const Bytes payload = test::random_bytes(28, 12);
  const Stages s{CrcKind::None, OuterFec::bch(8)};
  const BlockPlan plan = plan_of(s, payload.size(), cache);
  ASSERT_EQ(plan.outer_bits, 2u * 184u);
  const auto coded = encode(s, payload, cache).coded_bits;
  auto soft = test::to_soft(coded);
  // Eight bit errors in each block, message and parity positions alike.
  for (std::size_t i = 0; i < 8; ++i) {
    soft[i * 23] = -soft[i * 23];
    soft[184 + i * 22 + 5] = -soft[184 + i * 22 + 5];
  }
  const ChainOutcome fixed = outcome(decode(s, soft, plan, cache));
  EXPECT_TRUE(fixed.outer_ok && fixed.is_valid());
  EXPECT_EQ(fixed.payload, payload);
  EXPECT_FALSE(fixed.rs_corrected.has_value());

  for (std::size_t i = 0; i < 40; ++i) soft[184 + 3 * i] = -soft[184 + 3 * i];
  const ChainOutcome broken = outcome(decode(s, soft, plan, cache));
  EXPECT_FALSE(broken.outer_ok);
  EXPECT_TRUE(broken.crc_ok);
  EXPECT_FALSE(broken.is_valid());
  EXPECT_EQ(Bytes(broken.payload.begin(), broken.payload.begin() + 15),
            Bytes(payload.begin(), payload.begin() + 15));
}

TEST(DecodeChain, EmptyInputGivesTheOutcomeOfEachInnerCode) {
  CodecCache cache;
  const std::span<const float> nothing;
  // Uncoded and LDPC sections have nothing to decode.
  for (const InnerFec inner : {InnerFec::none(), InnerFec::ldpc(LdpcCodeId::N512R34)}) {
    const Stages s{CrcKind::Crc16, OuterFec::none(), inner};
    const auto r = decode(s, nothing, plan_of(s, 5, cache), cache);
    ASSERT_TRUE(std::holds_alternative<RxError>(r));
    EXPECT_EQ(std::get<RxError>(r), RxError::MalformedHeader);
  }
  // The Viterbi decoder turns the depunctured zeros into a whole block of
  // zero bits, which the CRC then refuses.
  const Stages conv{CrcKind::Crc16, OuterFec::none(),
                    InnerFec::convolutional(true, PunctureRate::R3_4)};
  const ChainOutcome zeros = outcome(decode(conv, nothing, plan_of(conv, 5, cache), cache));
  EXPECT_EQ(zeros.payload, Bytes(5, 0));
  EXPECT_TRUE(zeros.inner_ok);
  EXPECT_FALSE(zeros.crc_ok);
  EXPECT_FALSE(zeros.is_valid());
  // Without a CRC there is nothing to refuse it with.
  const Stages bare{CrcKind::None, OuterFec::none(), conv.inner};
  EXPECT_TRUE(outcome(decode(bare, nothing, plan_of(bare, 5, cache), cache)).is_valid());
  // An empty section without a CRC is an empty, valid payload.
  const Stages empty{CrcKind::None, OuterFec::reed_solomon(204, 16),
                     InnerFec::ldpc(LdpcCodeId::N512R12)};
  const ChainOutcome o = outcome(decode(empty, nothing, plan_of(empty, 0, cache), cache));
  EXPECT_TRUE(o.payload.empty());
  EXPECT_TRUE(o.is_valid());
}

TEST(DecodeChain, ShortInputCutsBlocksAndReportsThem) {
  CodecCache cache;
  // A Reed-Solomon stage given a bit count short of whole bytes: a short
  // section, not a violated invariant.
  const Stages rs{CrcKind::Crc32, OuterFec::reed_solomon(204, 16)};
  const Bytes payload = test::random_bytes(100, 2);
  const BlockPlan rs_plan = plan_of(rs, payload.size(), cache);
  const auto rs_soft = test::to_soft(encode(rs, payload, cache).coded_bits);
  for (const std::size_t keep : {std::size_t{1001}, std::size_t{1631}, std::size_t{7}}) {
    const auto r = decode(rs, std::span(rs_soft).first(keep), rs_plan, cache);
    ASSERT_TRUE(std::holds_alternative<RxError>(r)) << keep;
    EXPECT_EQ(std::get<RxError>(r), RxError::MalformedHeader);
  }

  // A final LDPC block that holds only interleaver fill: dropped, flagged,
  // the payload still whole.
  const Stages ldpc{CrcKind::None, OuterFec::none(), InnerFec::ldpc(LdpcCodeId::N512R12),
                    InterleaverKind::block(1, 300)};
  const Bytes full = test::random_bytes(32, 6);
  const BlockPlan ldpc_plan = plan_of(ldpc, full.size(), cache);
  ASSERT_EQ(ldpc_plan.inner_bits, 1024u);
  const auto ldpc_soft = test::to_soft(encode(ldpc, full, cache).coded_bits);
  const ChainOutcome cut = outcome(decode(ldpc, std::span(ldpc_soft).first(700), ldpc_plan, cache));
  EXPECT_FALSE(cut.inner_ok);
  EXPECT_FALSE(cut.is_valid());
  EXPECT_EQ(cut.payload, full);
  EXPECT_EQ(cut.inner_bits.size(), 256u);
}

TEST(DecodeChain, PlanCountsThatWouldWrapStopTheCall) {
  CodecCache cache;
  const Stages conv{CrcKind::None, OuterFec::none(),
                    InnerFec::convolutional(true, PunctureRate::R1_2)};
  const BlockPlan wrapped{1, 1, 8, kMax - 2, kMax, kMax};
  const std::vector<float> soft(64, 1.0f);
  EXPECT_TOO_LARGE(decode(conv, soft, wrapped, cache), "convolutional input overflows");
  const BlockPlan doubled{1, 1, 8, kMax / 2, kMax, kMax};
  EXPECT_TOO_LARGE(decode(conv, soft, doubled, cache), "depunctured length overflows");
  // Counts far beyond the values given only shorten the stages.
  const Stages plain{CrcKind::Crc32};
  const BlockPlan vast{kMax / 16, kMax / 16 + 4, kMax, kMax, kMax, kMax};
  const auto r = decode(plain, soft, vast, cache);
  ASSERT_TRUE(std::holds_alternative<RxError>(r));
  EXPECT_EQ(std::get<RxError>(r), RxError::MalformedHeader);
}

TEST(DecodeChain, ScramblerIsCheckedBeforeDecoding) {
  CodecCache cache;
  Stages s{CrcKind::Crc16, OuterFec::reed_solomon(300, 16)};
  s.scrambler = ScramblerKind::lfsr(0x3, 1, LfsrSeed::fixed(1));
  const BlockPlan plan{4, 6, 48, 48, 48, 48};
  const std::vector<float> soft(48, 1.0f);
  EXPECT_PANIC_TEXT(decode(s, soft, plan, cache), "LFSR width must be in 2..=32");
  EXPECT_EQ(cache.rs(204, 16)->k(), 188u);
  s.scrambler = ScramblerKind::none();
  s.inner_il = InterleaverKind::block(3, 0);
  EXPECT_PANIC_TEXT(decode(s, soft, plan, cache), "interleaver dimensions must be nonzero");
}

}  // namespace
}  // namespace vatel::fec
