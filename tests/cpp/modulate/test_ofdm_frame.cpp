#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "../frame_link_fixture.hpp"
#include "fec/bits.hpp"
#include "fec/crc.hpp"
#include "multicarrier/fft.hpp"
#include "multicarrier/grid.hpp"
#include "multicarrier/symbol_window.hpp"

namespace vatel::modulate::ofdm_frame {
namespace {

using multicarrier::ConstellationOrder;
using testing::frame_config;
using testing::mcs;

OfdmFrameMod make(const OfdmConfig& cfg, std::vector<Mcs> table) {
  return OfdmFrameMod::create(cfg, std::move(table), 4, 16, nullptr).value();
}

FramePacket packet(std::size_t n, std::uint8_t index = 0) {
  FramePacket p;
  for (std::size_t i = 0; i < n; ++i) p.payload.push_back(static_cast<std::uint8_t>(7 * i + 1));
  p.sequence_num = 0x01020304;
  p.mcs_index = index;
  p.flags = 0xa5;
  return p;
}

TEST(OfdmFrameMod, BurstLengthsFollowTheSections) {
  const OfdmConfig cfg = frame_config();
  const auto uncoded = std::vector<Mcs>{mcs(ConstellationOrder::Qpsk)};
  struct Case {
    const char* what;
    OfdmConfig cfg;
    std::vector<Mcs> table;
    FramePacket frame;
    std::size_t samples;
  };
  const Case cases[] = {
      // 144 preamble, 11 header symbols (512 bits on 48 carriers), 2 payload
      // symbols (24 bytes with CRC-32 on 96 bits per symbol).
      {"uncoded QPSK", cfg, uncoded, packet(20), 144 + 880 + 160},
      {"no header", cfg.with_header_format("none").value(), uncoded, packet(20), 144 + 160},
      // 24 bytes, two BCH blocks of 184 bits, two LDPC codewords, 11 symbols.
      {"default ladder entry 1", cfg, testing::default_ladder(), packet(20, 1), 144 + 880 + 880},
      {"empty payload without CRC", cfg.with_payload_crc("none").value(), uncoded, packet(0),
       144 + 880},
  };
  for (const Case& c : cases)
    EXPECT_EQ(make(c.cfg, c.table).modulate_frame(c.frame, 0).size(), c.samples) << c.what;
}

// The BPSK decisions on the data carriers of consecutive symbols.
std::vector<std::uint8_t> bpsk_bits(const OfdmConfig& cfg, const cf32* symbols, std::size_t count) {
  const auto grid = multicarrier::CarrierGrid::from_plan(cfg.plan);
  multicarrier::FftBlock fft(64);
  std::vector<cf32> spectrum(64);
  std::vector<std::uint8_t> bits;
  for (std::size_t s = 0; s < count; ++s) {
    fft.process({symbols + s * 80 + 16, 64}, spectrum);
    for (std::size_t b : grid.data_bins) bits.push_back(spectrum[b].real() < 0 ? 1 : 0);
  }
  return bits;
}

TEST(OfdmFrameMod, HeaderCarriesTheFieldsBigEndianWithTheirCrc) {
  const OfdmConfig cfg = frame_config();
  const auto burst = make(cfg, {mcs(ConstellationOrder::Qpsk)}).modulate_frame(packet(20), 258);
  const auto bits = bpsk_bits(cfg, burst.data() + 144, 11);
  // The LDPC code is systematic: the header bytes and their CRC lead the
  // codeword, and the message block is filled up with zeros.
  const std::vector<std::uint8_t> header = {0, 0, 0, 0, 20, 1, 2, 3, 4, 0xa5, 0, 0, 1, 2};
  std::vector<std::uint8_t> message = header;
  const std::uint16_t crc = fec::crc16(header);
  message.push_back(static_cast<std::uint8_t>(crc >> 8));
  message.push_back(static_cast<std::uint8_t>(crc));
  std::vector<std::uint8_t> expected = fec::bits::bytes_to_bits(message);
  expected.resize(256, 0);
  EXPECT_EQ(std::vector<std::uint8_t>(bits.begin(), bits.begin() + 256), expected);
}

TEST(OfdmFrameMod, SectionsAreThePreambleAndFreshSymbolModulators) {
  const OfdmConfig cfg = frame_config();
  const auto table = testing::default_ladder();
  fec::CodecCache cache;
  const auto burst = make(cfg, table).modulate_frame(packet(40, 2), 9);
  const auto pre = waveform::ofdm_preamble::generate_ofdm_preamble(waveform::ofdm_frame::frame_preamble(cfg, 4, 16), cfg);
  ASSERT_EQ(pre.size(), 144u);
  EXPECT_TRUE(std::equal(pre.begin(), pre.end(), burst.begin()));
  const auto coded = fec::encode_chain_stages(packet(40).payload, cfg.payload_crc, table[2].outer_fec,
                                              table[2].inner_fec, {}, {}, {}, {}, 9, cache);
  OfdmMod mod(multicarrier::symbol_config(cfg, ConstellationOrder::Qam16));
  const auto payload = mod.modulate(coded.coded_bits);
  ASSERT_EQ(burst.size(), 144 + 880 + payload.size());
  EXPECT_TRUE(std::equal(payload.begin(), payload.end(), burst.begin() + 144 + 880));
}

TEST(OfdmFrameMod, TaperCoversEverySymbolFromTheTrainingSymbolOn) {
  const OfdmConfig plain = frame_config();
  // A roll-off beyond half a symbol is cut to half a symbol.
  for (std::size_t roll_off : {8u, 100u}) {
    const OfdmConfig cfg = plain.with_symbol_window(roll_off);
    const std::size_t L = std::min<std::size_t>(roll_off, 40);
    const auto flat = make(plain, {mcs(ConstellationOrder::Qpsk)}).modulate_frame(packet(20), 0);
    const auto tapered = make(cfg, {mcs(ConstellationOrder::Qpsk)}).modulate_frame(packet(20), 0);
    ASSERT_EQ(flat.size(), tapered.size());
    const std::vector<float> ramp = multicarrier::SymbolWindow(80, L).ramp();
    for (std::size_t i = 0; i < 64; ++i) ASSERT_EQ(tapered[i], flat[i]) << "segment sample " << i;
    for (std::size_t start = 64; start < flat.size(); start += 80)
      for (std::size_t j = 0; j < 80; ++j) {
        // Half a symbol at most, so the rising and falling edges never meet.
        const float w = j < L ? ramp[j] : 79 - j < L ? ramp[79 - j] : 1.0f;
        const cf32 x = flat[start + j];
        const cf32 want = w == 1.0f ? x : cf32{x.real() * w, x.imag() * w};
        ASSERT_EQ(tapered[start + j], want) << "roll-off " << roll_off << " at " << start + j;
      }
  }
}

TEST(OfdmFrameMod, LowpassRunsOverTheWholeBurst) {
  const OfdmConfig plain = frame_config();
  const OfdmConfig cfg = plain.with_tx_lowpass(31, 60.0f);
  auto flat = make(plain, {mcs(ConstellationOrder::Qpsk)}).modulate_frame(packet(20), 0);
  const auto filtered = make(cfg, {mcs(ConstellationOrder::Qpsk)}).modulate_frame(packet(20), 0);
  cfg.tx_lowpass->apply(flat.span());
  ASSERT_EQ(flat.size(), filtered.size());
  EXPECT_TRUE(std::equal(flat.begin(), flat.end(), filtered.begin()));
}

TEST(OfdmFrameMod, RefusalsComeInTheirOrder) {
  const OfdmConfig cfg = frame_config();
  OfdmConfig rf = cfg;
  rf.rf_hz = 1000.0f;
  // The empty table is reported first, even with a carrier frequency.
  auto empty = OfdmFrameMod::create(rf, {}, 4, 16, nullptr);
  ASSERT_FALSE(empty.ok());
  EXPECT_EQ(empty.error().message, "McsTable must have at least one entry");
  try {
    (void)OfdmFrameMod::create(rf, {mcs(ConstellationOrder::Qpsk)}, 4, 16, nullptr);
    FAIL() << "no panic";
  } catch (const core::Panic& p) {
    EXPECT_EQ(p.message(),
              "OFDM frame assembly is baseband-only: got rf_hz = 1000 Hz. Modulate at rf_hz = 0.0 "
              "and upconvert the whole burst with one continuous Rotator.");
  }
  OfdmConfig negative_zero = cfg;
  negative_zero.rf_hz = -0.0f;
  EXPECT_TRUE(OfdmFrameMod::create(negative_zero, {mcs(ConstellationOrder::Qpsk)}, 4, 16, nullptr).ok());
  const auto m = make(cfg, testing::default_ladder());
  try {
    (void)m.modulate_frame(packet(4, 4), 0);
    FAIL() << "no panic";
  } catch (const core::Panic& p) {
    EXPECT_EQ(p.message(), "mcs_index must be in the MCS table");
  }
}

}  // namespace
}  // namespace vatel::modulate::ofdm_frame
