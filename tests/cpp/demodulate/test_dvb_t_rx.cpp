#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <random>
#include <variant>
#include <vector>

#include "demodulate/dvb_t_frame.hpp"
#include "demodulate/dvb_t_stream.hpp"
#include "modulate/dvb_t_frame.hpp"

namespace vatel::demodulate::dvb_t_frame {
namespace {

using waveform::dvb_t::ConstellationOrder;

DvbTFrameParams params(DvbTGuard g = DvbTGuard::G1_32,
                       ConstellationOrder c = ConstellationOrder::Qpsk,
                       fec::PunctureRate r = fec::PunctureRate::R1_2) {
  return {g, c, r, 0, 0};
}

std::vector<std::uint8_t> payload(std::size_t n, unsigned seed = 1) {
  std::mt19937 rng(seed);
  std::vector<std::uint8_t> p(n);
  for (auto& b : p) b = static_cast<std::uint8_t>(rng());
  return p;
}

// The frame after `lead` zeros, shifted by `carriers` carrier spacings.
std::vector<cf32> received(const modulate::DvbTFrame& f, std::size_t lead, double carriers = 0.0,
                           std::size_t tail = 0) {
  std::vector<cf32> x(lead, cf32{});
  x.insert(x.end(), f.iq.begin(), f.iq.end());
  x.resize(x.size() + tail);
  for (std::size_t n = 0; n < x.size(); ++n)
    x[n] *= std::polar(1.0, 2.0 * M_PI * carriers * static_cast<double>(n) / 2048.0);
  return x;
}

TEST(DvbTFrameDemod, ReportsTimingAndOffsetFigures) {
  const auto p = payload(300);
  const auto frame = modulate::DvbTFrameMod(params()).modulate(p);
  const auto rx = received(frame, 321, 3.1, 100);
  const DvbTFrameDemod plain(params());
  const auto on = plain.with_integer_cfo_correction(true);
  const DvbTRxOutcome r = on.decode(rx, frame.n_symbols, p.size());
  ASSERT_TRUE(std::holds_alternative<DvbTRxFrame>(r));
  const DvbTRxFrame& f = std::get<DvbTRxFrame>(r);
  EXPECT_EQ(f.payload, p);
  EXPECT_EQ(f.timing_offset, 321u);
  EXPECT_TRUE(f.integer_cfo_applied);
  EXPECT_EQ(f.integer_shift, 3);
  EXPECT_NEAR(f.cfo_hz, 3.1f * 586.51025f, 2.0f);
  EXPECT_GT(f.quality, 0.9f);
  // Without the correction nothing is searched and the shift is 0.
  const DvbTRxOutcome off = plain.decode(received(frame, 321), frame.n_symbols, p.size());
  ASSERT_TRUE(std::holds_alternative<DvbTRxFrame>(off));
  EXPECT_FALSE(std::get<DvbTRxFrame>(off).integer_cfo_applied);
  EXPECT_EQ(std::get<DvbTRxFrame>(off).integer_shift, 0);
  EXPECT_EQ(display_text(DvbTRxError::TooFewSamples), "too few samples for the expected frame");
}

TEST(DvbTFrameDemod, AWorkspaceCarriesNothingFromOneFrameToTheNext) {
  // Frames of different payloads and delays through one workspace each
  // decode as they would alone; a workspace of another guard is refused.
  DvbTFrameWorkspace ws(DvbTGuard::G1_8);
  const DvbTFrameDemod d(params(DvbTGuard::G1_8, ConstellationOrder::Qam16));
  for (unsigned seed : {1u, 2u, 3u}) {
    const auto p = payload(2000, seed);
    const auto frame =
        modulate::DvbTFrameMod(params(DvbTGuard::G1_8, ConstellationOrder::Qam16)).modulate(p);
    const auto rx = received(frame, 17 * seed, 0.0, 50);
    const auto a = d.decode(rx, frame.n_symbols, p.size(), ws);
    ASSERT_TRUE(std::holds_alternative<DvbTRxFrame>(a));
    EXPECT_EQ(std::get<DvbTRxFrame>(a).payload, p);
    EXPECT_EQ(ws.last_tps_bins().size(), frame.n_symbols);
  }
  DvbTFrameWorkspace other(DvbTGuard::G1_4);
  EXPECT_THROW((void)d.decode(std::vector<cf32>(10), 68, 0, other), core::Panic);
}

}  // namespace
}  // namespace vatel::demodulate::dvb_t_frame

namespace vatel::demodulate::dvb_t_stream {
namespace {

TEST(DvbTFrameStreamDemod, NoiseForLongHoldsBoundedBufferAndFindsNothing) {
  const dvb_t_frame::DvbTFrameParams p{waveform::dvb_t::DvbTGuard::G1_32,
                                       waveform::dvb_t::ConstellationOrder::Qpsk,
                                       fec::PunctureRate::R1_2, 0, 0};
  auto s = DvbTFrameStreamDemod::create(p, 68, 100, true, 0).value();
  std::mt19937 rng(2);
  std::normal_distribution<float> g(0.0f, 0.01f);
  std::vector<cf32> chunk(65536);
  std::size_t highest = 0, attempts = 0;
  for (int i = 0; i < 40; ++i) {  // about 18 frames of noise
    for (cf32& v : chunk) v = {g(rng), g(rng)};
    for (const auto& o : s.feed(chunk)) {
      EXPECT_TRUE(std::holds_alternative<dvb_t_frame::DvbTRxError>(o));
      ++attempts;
    }
    highest = std::max(highest, s.buffered());
  }
  EXPECT_LT(highest, 2112u * 69);
  EXPECT_GE(attempts, 15u);
  EXPECT_FALSE(DvbTFrameStreamDemod::create(p, 0, 100, false, 0).ok());
}

}  // namespace
}  // namespace vatel::demodulate::dvb_t_stream
