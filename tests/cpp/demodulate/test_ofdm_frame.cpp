#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <random>
#include <string>
#include <vector>

#include "../frame_link_fixture.hpp"
#include "demodulate/ofdm_frame.hpp"
#include "demodulate/ofdm_frame_stream.hpp"
#include "dsp/constellation.hpp"
#include "multicarrier/symbol_fft.hpp"

namespace vatel::demodulate::ofdm_frame {
namespace {

using modulate::ofdm_frame::OfdmFrameMod;
using multicarrier::ConstellationOrder;
using testing::frame_config;
using testing::mcs;

constexpr std::size_t kPreamble = 144;  // 4 x 16 + training symbol

FramePacket packet(std::size_t n, std::uint8_t index, std::uint32_t seq = 77) {
  FramePacket p;
  for (std::size_t i = 0; i < n; ++i) p.payload.push_back(static_cast<std::uint8_t>(31 * i + seq));
  p.sequence_num = seq;
  p.mcs_index = index;
  p.flags = static_cast<std::uint8_t>(seq * 3);
  return p;
}

std::vector<cf32> burst(const OfdmConfig& cfg, const std::vector<Mcs>& table, const FramePacket& p,
                        std::uint32_t seed = 0) {
  const auto b = OfdmFrameMod::create(cfg, table, 4, 16, nullptr).value().modulate_frame(p, seed);
  return {b.begin(), b.end()};
}

std::string decode_error(const OfdmFrameDemod& d, std::span<const cf32> iq) {
  const auto r = d.decode(iq);
  return r.ok() ? "decoded" : r.error().message;
}

// Every entry of the default ladder and entries with Reed-Solomon and
// convolutional codes, through an LFSR scrambler and interleavers.
TEST(OfdmFrameDemod, RoundTripsEveryEntryOfAlignedBursts) {
  const OfdmConfig base = frame_config();
  std::vector<Mcs> table = testing::default_ladder();
  table.push_back(mcs(ConstellationOrder::Qpsk,
                      fec::InnerFec::convolutional(true, fec::PunctureRate::R3_4),
                      fec::OuterFec::reed_solomon(204, 16)));
  table.push_back(mcs(ConstellationOrder::Qam16,
                      fec::InnerFec::convolutional(false, fec::PunctureRate::R1_2),
                      fec::OuterFec::reed_solomon(60, 10)));
  table.push_back(mcs(ConstellationOrder::Qam256, fec::InnerFec::ldpc(fec::LdpcCodeId::N576R23)));
  const OfdmConfig configs[] = {
      base,
      base.with_scrambler(0x48, 7, 0, true, "after_inner").value()
          .with_interleaver("inner", 8, 16).value(),
      base.with_scrambler(0x48, 7, 5, false, "before_outer").value()
          .with_header_crc("crc32").value().with_payload_crc("none").value(),
  };
  for (const OfdmConfig& cfg : configs) {
    const auto demod = OfdmFrameDemod::create(cfg, table, nullptr).value();
    for (std::size_t index = 0; index < table.size(); ++index) {
      const FramePacket sent = packet(40 + 13 * index, static_cast<std::uint8_t>(index));
      auto iq = burst(cfg, table, sent, 0x12345678);
      iq.resize(iq.size() + 50, cf32{0.01f, 0.0f});  // trailing samples are ignored
      const auto got = demod.decode(std::span<const cf32>(iq).subspan(kPreamble));
      ASSERT_TRUE(got.ok()) << "entry " << index << ": " << got.error().message;
      EXPECT_EQ(got.value(), sent) << "entry " << index;
    }
  }
}

TEST(OfdmFrameDemod, ReceiveErrors) {
  const OfdmConfig cfg = frame_config();
  const auto table = testing::default_ladder();
  const auto demod = OfdmFrameDemod::create(cfg, table, nullptr).value();
  const auto iq = burst(cfg, table, packet(20, 1));
  const std::span<const cf32> body = std::span<const cf32>(iq).subspan(kPreamble);
  // Samples that end one short of the payload: incomplete, not a CRC error.
  EXPECT_EQ(decode_error(demod, body.first(body.size() - 1)), "malformed frame header");
  EXPECT_EQ(decode_error(demod, {}), "malformed frame header");
  // A receiver for frames without a header never decodes one.
  const auto headless = OfdmFrameDemod::create(cfg.with_header_format("none").value(), table, nullptr).value();
  EXPECT_EQ(decode_error(headless, body), "malformed frame header");
  // An index beyond the receiver's table.
  auto longer = table;
  longer.push_back(mcs(ConstellationOrder::Qpsk));
  const auto fifth = burst(cfg, longer, packet(20, 4));
  EXPECT_EQ(decode_error(demod, std::span<const cf32>(fifth).subspan(kPreamble)), "malformed frame header");
  // A damaged header.
  auto broken = iq;
  for (std::size_t i = kPreamble; i < kPreamble + 400; ++i) broken[i] = -broken[i] * cf32{0.0f, 1.0f};
  EXPECT_EQ(decode_error(demod, std::span<const cf32>(broken).subspan(kPreamble)), "header CRC mismatch");
  // The receiver's entry has another inner code: the same number of symbols
  // gives a CRC failure, more symbols than were sent an incomplete frame.
  auto other = table;
  other[1] = mcs(ConstellationOrder::Qpsk, fec::InnerFec::convolutional(true, fec::PunctureRate::R1_2),
                 fec::OuterFec::bch(8));
  EXPECT_EQ(decode_error(OfdmFrameDemod::create(cfg, other, nullptr).value(), body), "payload CRC mismatch");
  other[1] = mcs(ConstellationOrder::Bpsk, fec::InnerFec::ldpc(fec::LdpcCodeId::N512R12), fec::OuterFec::bch(8));
  EXPECT_EQ(decode_error(OfdmFrameDemod::create(cfg, other, nullptr).value(), body), "malformed frame header");
  // Without CRC and outer code the LDPC decoder alone judges the payload.
  const OfdmConfig bare = cfg.with_payload_crc("none").value();
  const std::vector<Mcs> ldpc_only = {mcs(ConstellationOrder::Qpsk, fec::InnerFec::ldpc(fec::LdpcCodeId::N512R12))};
  auto noisy = burst(bare, ldpc_only, packet(60, 0));
  std::mt19937 rng(5);
  std::normal_distribution<float> g(0.0f, 0.3f);
  for (std::size_t i = kPreamble + 880; i < noisy.size(); ++i) noisy[i] += cf32{g(rng), g(rng)};
  EXPECT_EQ(decode_error(OfdmFrameDemod::create(bare, ldpc_only, nullptr).value(),
                         std::span<const cf32>(noisy).subspan(kPreamble)),
            "payload CRC mismatch");
}

// Without an equaliser an early FFT window would leave a phase ramp over
// the carriers; the receiver turns it back, so every back-off decodes.
TEST(OfdmFrameDemod, DecodesWithAnyWindowBackoff) {
  const auto table = testing::default_ladder();
  for (std::size_t backoff : {1u, 3u, 8u, 16u, 40u}) {
    const OfdmConfig cfg = frame_config().with_rx_window_backoff(backoff);
    const FramePacket sent = packet(30, 2);
    const auto iq = burst(cfg, table, sent);
    const auto got = OfdmFrameDemod::create(cfg, table, nullptr).value().decode(
        std::span<const cf32>(iq).subspan(kPreamble));
    ASSERT_TRUE(got.ok()) << "back-off " << backoff << ": " << got.error().message;
    EXPECT_EQ(got.value(), sent);
  }
}

TEST(CommonPhase, ConstantRotationIsMeasuredAndRemoved) {
  const std::size_t D = 48, count = 8;
  std::mt19937 rng(3);
  std::vector<cf32> points(D * count), cells(D * count);
  const cf32 turn = std::polar(1.0f, 0.3f);
  for (std::size_t i = 0; i < points.size(); ++i) {
    points[i] = dsp::qpsk_map(rng() & 1, rng() & 1);
    cells[i] = points[i] * turn;
  }
  FrameScratch scratch;
  const auto line = track_common_phase(cells, D, count, ConstellationOrder::Qpsk, 0.0f, 0.0f, scratch.work);
  ASSERT_TRUE(line);
  for (float phi : scratch.work.phases) EXPECT_NEAR(phi, 0.3f, 1e-5f);
  EXPECT_NEAR(line->slope, 0.0f, 1e-6f);
  EXPECT_NEAR(line->intercept, 0.3f, 1e-5f);
  for (std::size_t i = 0; i < cells.size(); ++i) EXPECT_LT(std::abs(cells[i] - points[i]), 1e-5f);
}

// The training symbol's spectrum of a received burst, as the stream takes it.
std::vector<cf32> training_spectrum(const OfdmConfig& cfg, std::span<const cf32> iq) {
  multicarrier::SymbolFft fft(64, 16);
  fft.process(iq.subspan(64, 80));
  return {fft.spectrum().begin(), fft.spectrum().end()};
}

// A residual frequency offset turns the phase on through header and payload;
// the payload's tracking starts where the header's phase line leads, so a
// dense constellation survives an offset the preamble estimate leaves.
TEST(DecodeFrameBody, PhaseCarriesFromHeaderIntoPayload) {
  const OfdmConfig cfg = frame_config();
  const auto table = testing::default_ladder();
  // 2 symbols of 64-QAM (too short to track) and 30.
  for (std::size_t bytes : {10u, 400u}) {
    const FramePacket sent = packet(bytes, 3);
    auto iq = burst(cfg, table, sent);
    // 0.004 carrier spacings: 0.02 rad per symbol, 0.3 rad after the header.
    const float step = 2.0f * 3.14159265f * 0.004f / 64.0f;
    for (std::size_t i = 0; i < iq.size(); ++i) iq[i] *= std::polar(1.0f, step * static_cast<float>(i));
    const auto spectrum = training_spectrum(cfg, iq);
    FrameScratch scratch;
    fec::CodecCache cache;
    auto r = decode_frame_body(cfg, table, std::span<const cf32>(iq).subspan(kPreamble), spectrum,
                               cache, true, scratch);
    ASSERT_TRUE(std::holds_alternative<FrameBody>(r)) << bytes << " bytes";
    const FrameBody& b = std::get<FrameBody>(r);
    EXPECT_EQ(b.payload, sent.payload);
    EXPECT_EQ(b.pre_fec_ber, 0.0f) << bytes << " bytes";
    ASSERT_TRUE(b.evm_db);
    EXPECT_LT(*b.evm_db, -30.0f) << bytes << " bytes";
    EXPECT_EQ(b.samples_used, (11 + scratch.cells.size() / 48) * 80);
  }
}

}  // namespace
}  // namespace vatel::demodulate::ofdm_frame

namespace vatel::demodulate::ofdm_frame {
namespace {

// A channel for the stream tests: noise of a given power per sample, a
// frequency offset in carrier spacings, and an echo.
struct Channel {
  float noise = 0.0f;
  float offset_carriers = 0.0f;
  float echo = 0.0f;       // gain of the second path
  std::size_t delay = 0;   // its delay in samples
};

class Link {
 public:
  explicit Link(OfdmConfig cfg = frame_config(), std::vector<Mcs> table = testing::default_ladder())
      : cfg_(std::move(cfg)), table_(std::move(table)),
        mod_(OfdmFrameMod::create(cfg_, table_, 4, 16, nullptr).value()) {}

  // Appends a noise gap, then a burst through the channel.
  void send(const FramePacket& p, std::size_t gap, const Channel& ch, float amplitude = 1.0f) {
    add_noise(gap, ch);
    const auto b = mod_.modulate_frame(p, 99);
    std::vector<cf32> x(b.begin(), b.end());
    const std::size_t at = iq.size();
    iq.resize(at + x.size() + ch.delay);
    for (std::size_t i = 0; i < x.size(); ++i) {
      iq[at + i] += amplitude * x[i];
      iq[at + i + ch.delay] += amplitude * ch.echo * x[i];
    }
    const float step = 2.0f * 3.14159265f * ch.offset_carriers / 64.0f;
    for (std::size_t i = at; i < iq.size(); ++i)
      iq[i] *= std::polar(1.0f, step * static_cast<float>(i % 64000));
    if (ch.noise > 0.0f) {
      std::normal_distribution<float> g(0.0f, std::sqrt(ch.noise / 2.0f));
      for (std::size_t i = at; i < iq.size(); ++i) iq[i] += cf32{g(rng_), g(rng_)};
    }
  }
  void add_noise(std::size_t n, const Channel& ch) {
    if (ch.noise <= 0.0f) {
      iq.resize(iq.size() + n);
      return;
    }
    std::normal_distribution<float> g(0.0f, std::sqrt(ch.noise / 2.0f));
    for (std::size_t i = 0; i < n; ++i) iq.push_back({g(rng_), g(rng_)});
  }
  OfdmFrameStreamDemod stream() const {
    return OfdmFrameStreamDemod::create(cfg_, table_, 4, 16, nullptr).value();
  }
  const OfdmConfig& cfg() const { return cfg_; }

  std::vector<cf32> iq;

 private:
  OfdmConfig cfg_;
  std::vector<Mcs> table_;
  OfdmFrameMod mod_;
  std::mt19937 rng_{11};
};

std::vector<FramePacket> packets_of(const std::vector<StreamResult>& results,
                                    std::vector<std::string>* errors = nullptr) {
  std::vector<FramePacket> out;
  for (const StreamResult& r : results) {
    if (const auto* f = std::get_if<RxFrame>(&r))
      out.push_back({f->payload, f->sequence_num, f->mcs_index, f->flags});
    else if (errors)
      errors->push_back(std::string(fec::frame::rx_error_text(std::get<fec::RxError>(r))));
  }
  return out;
}

std::vector<FramePacket> feed_in_pieces(OfdmFrameStreamDemod& s, std::span<const cf32> iq,
                                        std::size_t piece, std::vector<std::string>* errors = nullptr) {
  std::vector<FramePacket> got;
  for (std::size_t at = 0; at < iq.size(); at += piece) {
    const auto p = packets_of(s.feed(iq.subspan(at, std::min(piece, iq.size() - at))), errors);
    got.insert(got.end(), p.begin(), p.end());
  }
  return got;
}

TEST(OfdmFrameStreamDemod, EveryPacketOnceInOrderWhateverThePieces) {
  Link link;
  std::vector<FramePacket> sent;
  const Channel ch{1e-5f, 0.37f, 0.3f, 3};
  for (std::uint32_t k = 0; k < 4; ++k) {
    sent.push_back(packet(20 + 50 * k, static_cast<std::uint8_t>(k), k));
    link.send(sent.back(), 300 + 37 * k, ch);
  }
  link.add_noise(500, ch);
  for (std::size_t piece : {1u, 7u, 100u, 1000u, 5000u, 1u << 20}) {
    auto s = link.stream();
    std::vector<std::string> errors;
    EXPECT_EQ(feed_in_pieces(s, link.iq, piece, &errors), sent) << "pieces of " << piece;
    EXPECT_EQ(errors, std::vector<std::string>{}) << "pieces of " << piece;
    // Fewer samples than a preamble and a symbol are not searched yet.
    EXPECT_LT(s.buffered(), 144 + 80 + std::min<std::size_t>(piece, link.iq.size()));
  }
}

TEST(OfdmFrameStreamDemod, ConsumesTheFrameAndLeavesNoiseAlone) {
  Link link;
  const FramePacket sent = packet(20, 1);
  link.send(sent, 0, {});
  link.iq.resize(link.iq.size() + 300);
  auto s = link.stream();
  auto results = s.feed(link.iq);
  ASSERT_EQ(results.size(), 1u);
  const RxFrame& f = std::get<RxFrame>(results[0]);
  EXPECT_EQ(f.timing_offset_samples, 0);
  EXPECT_EQ(f.sync_score, 1.0f);
  EXPECT_NEAR(*f.cfo_hz, 0.0f, 1.0f);
  EXPECT_EQ(packets_of(results), std::vector<FramePacket>{sent});
  // The zeros behind the frame can start no frame: no more than a preamble
  // span of them is kept.
  EXPECT_LT(s.buffered(), 144u);
  EXPECT_TRUE(s.flush().empty());
  s.clear();
  EXPECT_EQ(s.buffered(), 0u);
}

TEST(OfdmFrameStreamDemod, PartialFrameWaitsAndFlushKeepsIt) {
  Link link;
  const FramePacket sent = packet(200, 2);
  link.send(sent, 50, {});
  auto s = link.stream();
  const std::size_t cut = link.iq.size() - 1;
  EXPECT_TRUE(s.feed(std::span<const cf32>(link.iq).first(cut)).empty());
  const std::size_t held = s.buffered();
  EXPECT_TRUE(s.flush().empty());
  EXPECT_EQ(s.buffered(), held);
  EXPECT_EQ(packets_of(s.feed(std::span<const cf32>(link.iq).subspan(cut))),
            std::vector<FramePacket>{sent});
}

TEST(OfdmFrameStreamDemod, ReceiveErrorsAreReportedAndTheStreamRecovers) {
  Link link;
  const FramePacket first = packet(100, 1, 1), second = packet(60, 0, 2);
  const Channel quiet{1e-5f};
  link.send(first, 40, quiet);
  // Noise far above the signal over most of the payload.
  std::mt19937 rng(9);
  std::normal_distribution<float> g(0.0f, 0.5f);
  for (std::size_t i = link.iq.size() - 800; i < link.iq.size(); ++i) link.iq[i] += cf32{g(rng), g(rng)};
  link.send(second, 200, quiet);
  auto s = link.stream();
  std::vector<std::string> errors;
  const auto results = s.feed(link.iq);
  EXPECT_EQ(packets_of(results, &errors), std::vector<FramePacket>{second});
  EXPECT_EQ(errors, std::vector<std::string>{"payload CRC mismatch"});
  ASSERT_EQ(results.size(), 2u);
  EXPECT_TRUE(std::holds_alternative<fec::RxError>(results[0]));
}

TEST(OfdmFrameStreamDemod, IntegerAndFractionalOffsetsAndEchoes) {
  const Channel channels[] = {
      {1e-4f, 0.45f, 0.0f, 0},  {1e-4f, -0.45f, 0.0f, 0}, {1e-4f, 3.2f, 0.0f, 0},
      {1e-4f, -5.7f, 0.4f, 5},  {1e-4f, 1.0f, 0.6f, 9},   {1e-4f, 0.1f, 0.5f, 12},
  };
  for (const Channel& ch : channels) {
    Link link;
    std::vector<FramePacket> sent;
    for (std::uint32_t k = 0; k < 3; ++k) {
      sent.push_back(packet(64, static_cast<std::uint8_t>(k), k));
      link.send(sent.back(), 123 + 211 * k, ch);
    }
    link.add_noise(300, ch);
    auto s = link.stream();
    EXPECT_EQ(feed_in_pieces(s, link.iq, 1000), sent) << "offset " << ch.offset_carriers
                                                      << " echo " << ch.echo;
  }
}

// With the channel option a frame carries the training-symbol channel: the
// echo's spectrum on the used bins.
TEST(OfdmFrameStreamDemod, ChannelEstimateOfAnEcho) {
  Link link;
  const Channel ch{1e-6f, 0.0f, 0.5f, 4};
  link.send(packet(20, 1), 100, ch);
  link.add_noise(300, ch);
  auto s = link.stream();
  s.estimate_channel = true;
  const auto results = s.feed(link.iq);
  ASSERT_EQ(results.size(), 1u);
  const auto& h = std::get<RxFrame>(results[0]).channel_estimate;
  ASSERT_TRUE(h && h->size() == 64);
  for (std::int32_t c : link.cfg().plan.data_carriers) {
    const std::size_t k = link.cfg().plan.carrier_bin(c);
    const cf32 want = 1.0f + 0.5f * std::polar(1.0f, -2.0f * 3.14159265f * static_cast<float>(k) * 4.0f / 64.0f);
    // The burst's phase at the training symbol is part of the estimate.
    EXPECT_NEAR(std::abs((*h)[k]), std::abs(want), 0.02f) << "bin " << k;
  }
}

// The integer offset is estimated for the preamble that is decoded, not for
// the best ranked ones of the buffer, which belong to the stronger burst.
TEST(OfdmFrameStreamDemod, WeakBurstBeforeAStrongOneWithAnIntegerOffset) {
  Link link;
  const Channel ch{1e-6f, 2.3f, 0.0f, 0};
  const FramePacket weak = packet(30, 1, 1), strong = packet(30, 1, 2);
  link.send(weak, 100, ch, 0.05f);
  link.send(strong, 100, ch, 1.0f);
  link.add_noise(200, ch);
  auto s = link.stream();
  EXPECT_EQ(packets_of(s.feed(link.iq)), (std::vector<FramePacket>{weak, strong}));
}

TEST(OfdmFrameStreamDemod, NonFiniteSamplesNeitherCrashNorBlock) {
  Link link;
  const FramePacket sent = packet(30, 1);
  link.add_noise(3000, {1e-2f});
  for (std::size_t i = 100; i < 3000; i += 97)
    link.iq[i] = i % 2 ? cf32{NAN, 0.0f} : cf32{INFINITY, -INFINITY};
  link.send(sent, 500, {1e-4f});
  link.add_noise(300, {1e-4f});
  auto s = link.stream();
  EXPECT_EQ(feed_in_pieces(s, link.iq, 700), std::vector<FramePacket>{sent});
}

TEST(OfdmFrameStreamDemod, NoiseKeepsTheBufferShort) {
  Link link;
  link.add_noise(200000, {1.0f});
  auto s = link.stream();
  for (std::size_t at = 0; at < link.iq.size(); at += 4096) {
    const std::size_t n = std::min<std::size_t>(4096, link.iq.size() - at);
    EXPECT_TRUE(s.feed(std::span<const cf32>(link.iq).subspan(at, n)).empty());
    ASSERT_LT(s.buffered(), 144u + 80u + n);
  }
}

TEST(OfdmFrameStreamDemod, RefusesPreamblesItCannotFind) {
  const OfdmConfig cfg = frame_config();
  const auto table = testing::default_ladder();
  for (auto [repeats, len] : {std::pair<std::size_t, std::size_t>{1, 16}, {0, 16}, {4, 0}}) {
    const auto r = OfdmFrameStreamDemod::create(cfg, table, repeats, len, nullptr);
    ASSERT_FALSE(r.ok());
    EXPECT_EQ(r.error().message,
              "OfdmFrameStreamDemod: the preamble needs num_repeats >= 2 and repeat_len >= 1 (got "
              "num_repeats = " + std::to_string(repeats) + ", repeat_len = " + std::to_string(len) + ")");
  }
  EXPECT_TRUE(OfdmFrameStreamDemod::create(cfg, table, 2, 8, nullptr).ok());
}

}  // namespace
}  // namespace vatel::demodulate::ofdm_frame

namespace vatel::demodulate::ofdm_frame {
namespace {

// The echo of a burst's last symbol followed by weak noise looks like a
// preamble to the correlation alone: no receive error may come of it,
// whether the next burst follows closely or not.
TEST(OfdmFrameStreamDemod, NoFalseFrameBehindAnEcho) {
  Link link;
  const Channel ch{1e-5f, 0.2f, 0.5f, 6};
  std::vector<FramePacket> sent;
  for (std::uint32_t k = 0; k < 6; ++k) {
    sent.push_back(packet(40, static_cast<std::uint8_t>(k % 4), k));
    link.send(sent.back(), k % 2 ? 20 : 400, ch);
  }
  link.add_noise(300, ch);
  auto s = link.stream();
  std::vector<std::string> errors;
  EXPECT_EQ(packets_of(s.feed(link.iq), &errors), sent);
  EXPECT_EQ(errors, std::vector<std::string>{});
}

}  // namespace
}  // namespace vatel::demodulate::ofdm_frame
