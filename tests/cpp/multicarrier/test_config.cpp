#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "multicarrier/config.hpp"

using namespace vatel;
using namespace vatel::multicarrier;

namespace {

OfdmConfig base() {
  const std::int32_t pilots[] = {-21, -7, 7, 21};
  const cf32 values[] = {1, 1, 1, -1};
  return OfdmConfig::create(64, 16, {}, pilots, values, 1e6f, 0.0f, 1.0f,
                            ConstellationOrder::Qpsk, 4)
      .value();
}

}  // namespace

TEST(OfdmConfig, InitialFields) {
  const OfdmConfig c = base();
  EXPECT_EQ(c.plan.roll_off, 0u);
  EXPECT_FALSE(c.dvb_t_scattered_pilots);
  EXPECT_EQ(c.outer_fec, fec::OuterFec::none());
  EXPECT_EQ(c.inner_fec, fec::InnerFec::none());
  EXPECT_EQ(c.header_format, fec::HeaderFormat::VatelSdr);
  EXPECT_EQ(c.payload_crc, fec::CrcKind::Crc32);
  EXPECT_EQ(c.header_crc, fec::CrcKind::Crc16);
  EXPECT_EQ(c.scrambler, fec::ScramblerKind::none());
  EXPECT_EQ(c.scrambler_position, fec::ScramblerPosition::BeforeOuter);
  EXPECT_EQ(c.ldpc_decode_rule.tag, fec::LdpcDecodeRule::Tag::SumProduct);
  EXPECT_EQ(c.rx_window_backoff, 0u);
  EXPECT_FALSE(c.tx_lowpass.has_value());
  ASSERT_EQ(c.plan.pilot_carriers.size(), 4u);
  EXPECT_EQ(c.plan.pilot_carriers[3].value, cf32(-1, 0));
}

TEST(OfdmConfig, BuildersStoreTheirKinds) {
  const OfdmConfig c = base();
  const auto k7 = c.with_inner_fec("dvb_t", "3/4").value().inner_fec;
  EXPECT_EQ(k7.kind, fec::InnerFec::Kind::Convolutional);
  EXPECT_TRUE(k7.k7);
  EXPECT_EQ(static_cast<int>(k7.rate), 2);
  const auto k5 = c.with_inner_fec("conv", "1/2").value().inner_fec;
  EXPECT_FALSE(k5.k7);
  EXPECT_EQ(static_cast<int>(k5.rate), 0);
  EXPECT_EQ(c.with_inner_fec("ldpc", "n512r34").value().inner_fec,
            fec::InnerFec::ldpc(fec::LdpcCodeId::N512R34));
  const auto none = c.with_outer_fec("none", 7, 9).value().outer_fec;
  EXPECT_EQ(none.a, 7u);  // stored unchanged
  EXPECT_EQ(none.b, 9u);
  const auto lfsr = c.with_scrambler(0x48, 7, 5, false, "after_inner").value();
  EXPECT_EQ(lfsr.scrambler, fec::ScramblerKind::lfsr(0x48, 7, fec::LfsrSeed::fixed(5)));
  EXPECT_EQ(lfsr.scrambler_position, fec::ScramblerPosition::AfterInner);
  const auto dvb = lfsr.with_dvb_t_scrambler();
  EXPECT_EQ(dvb.scrambler.kind, fec::ScramblerKind::Kind::DvbTEnergyDispersal);
  EXPECT_EQ(dvb.scrambler_position, fec::ScramblerPosition::BeforeOuter);
  EXPECT_EQ(c.with_conv_interleaver("outer", 12, 17).value().outer_interleaver,
            fec::InterleaverKind::convolutional(12, 17));
  EXPECT_EQ(c.with_interleaver("inner", 4, 8).value().inner_interleaver,
            fec::InterleaverKind::block(4, 8));
  const auto rule = c.with_ldpc_decode_rule("scaled-min-sum", 0.5f).value().ldpc_decode_rule;
  EXPECT_EQ(rule.tag, fec::LdpcDecodeRule::Tag::ScaledMinSum);
  EXPECT_EQ(rule.scale, 0.5f);
}

TEST(OfdmConfig, SymbolConfigKeepsTheSignalAndResetsTheChain) {
  OfdmConfig c = base().with_outer_fec("rs", 204, 16).value();
  c = c.with_inner_fec("ldpc", "n576r23").value().with_interleaver("outer", 4, 8).value();
  c = c.with_scrambler(0x48, 7, 5, true, "after_inner").value().with_header_crc("crc32").value();
  c = c.with_payload_crc("none").value().with_header_format("none").value();
  c = c.with_ldpc_decode_rule("min-sum", 0.5f).value().with_symbol_window(4);
  c = c.with_rx_window_backoff(3).with_tx_lowpass(31, 60.0f);
  c.rf_hz = 1500.0f;
  c.gain = 0.5f;
  c.dvb_t_scattered_pilots = true;

  const OfdmConfig s = symbol_config(c, ConstellationOrder::Qam64);
  OfdmConfig expected = base();
  expected.plan = c.plan;  // the symbol window travels with the plan
  expected.rf_hz = 1500.0f;
  expected.gain = 0.5f;
  expected.rx_window_backoff = 3;
  expected.constellation = ConstellationOrder::Qam64;
  EXPECT_EQ(s, expected);
  EXPECT_EQ(s.plan.roll_off, 4u);
  EXPECT_FALSE(s.tx_lowpass.has_value());
}

TEST(OfdmConfig, TxLowpassCutoff) {
  const OfdmConfig c = base();
  const float u = 27.0f / 64.0f;
  struct Case { std::size_t taps; float stopband; };
  for (Case k : {Case{31, 60.0f}, Case{201, 60.0f}, Case{2, 10.0f}, Case{1001, 90.0f}}) {
    const TxLowpass lp = *c.with_tx_lowpass(k.taps, k.stopband).tx_lowpass;
    const float n = static_cast<float>(k.taps < 4 ? 3 : (k.taps | 1));
    const float w = ((std::max(k.stopband, 21.0f) - 8.0f) / (n * 14.36f)) * 0.5f;
    const float expect = (u + w <= 0.5f - w) ? u + w : (u + 0.5f) * 0.5f;
    EXPECT_EQ(lp.cutoff, expect) << k.taps;
    EXPECT_EQ(lp.num_taps, k.taps);
    EXPECT_EQ(lp.stopband_db, k.stopband);
  }
  // 31 taps are too few for the band edge: the cutoff goes half way to Nyquist.
  EXPECT_EQ(c.with_tx_lowpass(31, 60.0f).tx_lowpass->cutoff, (u + 0.5f) * 0.5f);
}

TEST(OfdmConfig, ValidateFrameRefusesZeroInterleaverDimensions) {
  // The builders never store these; a configuration made otherwise can.
  for (auto kind : {fec::InterleaverKind::block(0, 4), fec::InterleaverKind::convolutional(12, 0)}) {
    OfdmConfig outer = base(), inner = base();
    outer.outer_interleaver = kind;
    inner.inner_interleaver = kind;
    for (const OfdmConfig& c : {outer, inner}) {
      const auto r = c.validate_frame();
      ASSERT_FALSE(r.ok());
      EXPECT_EQ(r.error().message, "block interleaver dimensions must be nonzero");
    }
  }
}

TEST(OfdmConfig, ZeroFftSizeCountsAsOneInTheLowpassRules) {
  const std::int32_t data[] = {0};
  const OfdmConfig c = OfdmConfig::create(0, 0, data, {}, {}, 1.0f, 0.0f, 1.0f,
                                          ConstellationOrder::Bpsk, std::nullopt)
                           .value();
  EXPECT_EQ(c.occupied_half_carriers(), 0u);
  EXPECT_EQ(c.tx_lowpass_suggested_taps(60.0f), 9u);  // ceil(52 / 7.18) = 8, made odd
  EXPECT_TRUE(c.with_tx_lowpass(31, 60.0f).tx_lowpass.has_value());
}

TEST(OfdmConfig, QuotedEscapes) {
  EXPECT_EQ(quoted(""), "\"\"");
  EXPECT_EQ(quoted("a\"b\\c"), "\"a\\\"b\\\\c\"");
  EXPECT_EQ(quoted(std::string_view("\n\t\r\0\x01", 5)), "\"\\n\\t\\r\\0\\u{1}\"");
  EXPECT_EQ(quoted("caf\xC3\xA9"), "\"caf\xC3\xA9\"");
}
