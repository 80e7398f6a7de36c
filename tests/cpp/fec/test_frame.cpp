#include <gtest/gtest.h>

#include "fec/frame.hpp"

namespace vatel::fec {
namespace {

TEST(FrameKinds, CrcLengthsFollowTheTag) {
  EXPECT_EQ(frame::crc_bytes(CrcKind::None), 0u);
  EXPECT_EQ(frame::crc_bytes(CrcKind::Crc16), 2u);
  EXPECT_EQ(frame::crc_bytes(CrcKind::Crc32), 4u);
}

TEST(FrameKinds, EqualityIgnoresUnusedParameters) {
  EXPECT_EQ(OuterFec::none(), (OuterFec{OuterFec::Tag::None, 5, 6}));
  EXPECT_EQ(OuterFec::bch(8), (OuterFec{OuterFec::Tag::Bch, 8, 99}));
  EXPECT_NE(OuterFec::bch(8), OuterFec::bch(9));
  EXPECT_NE(OuterFec::reed_solomon(204, 16), OuterFec::reed_solomon(204, 8));
  EXPECT_NE(OuterFec::bch(204), OuterFec::reed_solomon(204, 0));

  EXPECT_EQ(InterleaverKind::none(), (InterleaverKind{InterleaverKind::Tag::None, 1, 2}));
  EXPECT_NE(InterleaverKind::block(4, 5), InterleaverKind::block(4, 6));
  EXPECT_NE(InterleaverKind::block(12, 17), InterleaverKind::convolutional(12, 17));

  EXPECT_EQ(InnerFec::ldpc(LdpcCodeId::N576R23), InnerFec::ldpc(LdpcCodeId::N576R23));
  EXPECT_NE(InnerFec::ldpc(LdpcCodeId::N576R23), InnerFec::ldpc(LdpcCodeId::N512R34));
  EXPECT_NE(InnerFec::convolutional(true, PunctureRate::R3_4),
            InnerFec::convolutional(false, PunctureRate::R3_4));
  EXPECT_NE(InnerFec::convolutional(true, PunctureRate::R3_4),
            InnerFec::convolutional(true, PunctureRate::R2_3));
  InnerFec stale_rate = InnerFec::ldpc(LdpcCodeId::N512R12);
  stale_rate.rate = PunctureRate::R7_8;
  EXPECT_EQ(stale_rate, InnerFec::ldpc(LdpcCodeId::N512R12));
}

TEST(FrameKinds, ScramblerSeedsCompareByKind) {
  const auto fixed = ScramblerKind::lfsr(0x9, 4, LfsrSeed::fixed(3));
  const auto random_a = ScramblerKind::lfsr(0x9, 4, LfsrSeed::per_frame_random());
  auto random_b = random_a;
  random_b.seed.value = 1234;  // a per-frame seed carries no value
  EXPECT_NE(fixed, random_a);
  EXPECT_EQ(random_a, random_b);
  EXPECT_NE(fixed, ScramblerKind::lfsr(0x9, 4, LfsrSeed::fixed(4)));
  EXPECT_NE(fixed, ScramblerKind::lfsr(0x9, 5, LfsrSeed::fixed(3)));
  EXPECT_EQ(ScramblerKind::dvb_t_energy_dispersal(), ScramblerKind::dvb_t_energy_dispersal());
  EXPECT_NE(ScramblerKind::none(), ScramblerKind::dvb_t_energy_dispersal());
}

TEST(FrameKinds, DecodeRuleScaleCountsOnlyWhenScaled) {
  EXPECT_EQ(LdpcDecodeRule::min_sum(), (LdpcDecodeRule{LdpcDecodeRule::Tag::MinSum, 0.3f}));
  EXPECT_EQ(LdpcDecodeRule::min_sum().factor(), 1.0f);
  EXPECT_NE(LdpcDecodeRule::scaled_min_sum(0.75f), LdpcDecodeRule::scaled_min_sum(0.5f));
  EXPECT_EQ(LdpcDecodeRule::scaled_min_sum().factor(), 0.75f);
  EXPECT_EQ(LdpcDecodeRule{}, LdpcDecodeRule::sum_product());
}

TEST(FrameKinds, NamesRoundTrip) {
  const char* rates[] = {"1/2", "2/3", "3/4", "5/6", "7/8"};
  for (unsigned i = 0; i < 5; ++i) {
    EXPECT_EQ(frame::puncture_rate_name(static_cast<PunctureRate>(i)), rates[i]);
    EXPECT_EQ(frame::puncture_rate_from_name(rates[i]), static_cast<PunctureRate>(i));
  }
  const char* codes[] = {"n512r12", "n576r23", "n512r34"};
  for (unsigned i = 0; i < 3; ++i) {
    EXPECT_EQ(frame::ldpc_code_name(static_cast<LdpcCodeId>(i)), codes[i]);
    EXPECT_EQ(frame::ldpc_code_from_name(codes[i]), static_cast<LdpcCodeId>(i));
  }
  EXPECT_FALSE(frame::puncture_rate_from_name("1/3"));
  EXPECT_FALSE(frame::ldpc_code_from_name("N512R12"));  // matched case-sensitively
  EXPECT_EQ(frame::ldpc_dimensions(LdpcCodeId::N576R23).k, 384u);
  EXPECT_EQ(frame::ldpc_dimensions(LdpcCodeId::N512R34).m, 128u);
}

TEST(FrameKinds, RxErrorTexts) {
  EXPECT_EQ(frame::rx_error_text(RxError::NoPreamble), "no preamble found");
  EXPECT_EQ(frame::rx_error_text(RxError::MalformedHeader), "malformed frame header");
  EXPECT_EQ(frame::rx_error_text(RxError::HeaderCrc), "header CRC mismatch");
  EXPECT_EQ(frame::rx_error_text(RxError::PayloadCrc), "payload CRC mismatch");
  EXPECT_EQ(frame::rx_error_text(RxError::FecUncorrectable), "FEC uncorrectable");
}

}  // namespace
}  // namespace vatel::fec
