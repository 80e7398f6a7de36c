#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
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
  EXPECT_PANIC_HAS(plan(kMax, CrcKind::Crc32, OuterFec::none(), InnerFec::none(), none, none),
                   "payload with CRC overflows");
  EXPECT_PANIC_HAS(plan(kMax / 4, CrcKind::None, OuterFec::none(), InnerFec::none(), none, none),
                   "payload bits overflows");
  EXPECT_PANIC_HAS(plan(kMax / 16, CrcKind::None, OuterFec::reed_solomon(255, 200),
                        InnerFec::none(), none, none),
                   "Reed-Solomon output");
  EXPECT_PANIC_HAS(plan(kMax / 16, CrcKind::None, OuterFec::bch(19), InnerFec::none(), none, none),
                   "BCH output overflows");
  // rows * cols = 2^64 would wrap to 0 and pass the data unchanged.
  EXPECT_PANIC_HAS(plan(1, CrcKind::None, OuterFec::none(), InnerFec::none(),
                        InterleaverKind::block(1ull << 32, 1ull << 32), none),
                   "block interleaver size rows * cols overflows");
  EXPECT_PANIC_HAS(plan(1, CrcKind::None, OuterFec::none(), InnerFec::none(),
                        InterleaverKind::block(1, kMax), InterleaverKind::block(1, kMax - 1)),
                   "block interleaver output overflows");
  EXPECT_PANIC_HAS(plan(1, CrcKind::None, OuterFec::none(), InnerFec::none(), none,
                        InterleaverKind::convolutional(1ull << 22, 1ull << 22)),
                   "convolutional interleaver delay I * (I - 1) * M overflows");
  EXPECT_PANIC_HAS(plan(1, CrcKind::None, OuterFec::none(), InnerFec::none(), none,
                        InterleaverKind::convolutional(2, kMax / 16)),
                   "convolutional interleaver output");
  // An outer-stage count near 2^64 meets the inner code's size arithmetic.
  const auto huge = InterleaverKind::block(1, kMax - 3);
  EXPECT_PANIC_HAS(plan(1, CrcKind::None, OuterFec::none(), InnerFec::ldpc(LdpcCodeId::N512R12),
                        huge, none),
                   "LDPC output overflows");
  EXPECT_PANIC_HAS(plan(1, CrcKind::None, OuterFec::none(),
                        InnerFec::convolutional(true, PunctureRate::R1_2), huge, none),
                   "convolutional input overflows");
  EXPECT_PANIC_HAS(plan(1, CrcKind::None, OuterFec::none(),
                        InnerFec::convolutional(false, PunctureRate::R1_2),
                        InterleaverKind::block(1, kMax / 2), none),
                   "punctured length overflows");
}

}  // namespace
}  // namespace vatel::fec
