#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <limits>
#include <random>
#include <span>
#include <string>
#include <vector>

#include "demodulate/psk31_sync.hpp"

namespace vatel::demodulate::psk31_sync {
namespace {

// A BPSK31 station in doubles: each symbol moves from the old level to the
// new along 0.5 - 0.5 cos(pi s / (sps - 1)), a bit 0 reversing it, on a
// carrier of carrier_hz starting at phase `phase`.
std::vector<cf32> station(const std::vector<int>& bits, double fs, double carrier_hz, double phase,
                          double amplitude = 1.0) {
  const std::size_t sps = static_cast<std::size_t>(std::lround(fs / 31.25));
  std::vector<cf32> out;
  double level = 1.0;
  for (int b : bits) {
    const double next = b ? level : -level;
    for (std::size_t s = 0; s < sps; ++s) {
      const double w = 0.5 - 0.5 * std::cos(M_PI * double(s) / double(sps - 1));
      const double t = double(out.size()) / fs;
      const std::complex<double> v =
          amplitude * (level + w * (next - level)) * std::polar(1.0, 2.0 * M_PI * carrier_hz * t + phase);
      out.emplace_back(static_cast<float>(v.real()), static_cast<float>(v.imag()));
    }
    level = next;
  }
  return out;
}

std::vector<int> pattern(const char* kind, std::size_t n, std::mt19937& gen) {
  std::vector<int> bits(n, 1);  // steady carrier
  if (std::string(kind) == "idle") std::fill(bits.begin(), bits.end(), 0);
  if (std::string(kind) == "data")
    for (int& b : bits) b = static_cast<int>(gen() & 1u);
  return bits;
}

TEST(Psk31Sync, RefineCarrierFindsTheStationAnywhereInTheBin) {
  std::mt19937 gen(7);
  for (const double fs : {8000.0, 11025.0, 48000.0})
    for (const char* kind : {"steady", "idle", "data"})
      for (const double offset : {0.0, 3.9, 7.8125, -11.3, 15.0, -15.5}) {
        const auto iq = station(pattern(kind, 40, gen), fs, 1000.0 + offset, 0.7);
        const float got = refine_carrier(iq, static_cast<float>(fs), 1000.0f);
        EXPECT_NEAR(got, 1000.0 + offset, 0.01) << fs << " Hz " << kind << " at " << offset;
      }
}

TEST(Psk31Sync, RefineCarrierFindsAStationFromTheBinBesideIt) {
  // Idle reversals put a station's power 15.625 Hz either side of its
  // carrier, so its runs can lie in the bins beside its own: measured from
  // there it is still found at its own carrier, not at the bin's edge.
  std::mt19937 gen(10);
  for (const char* kind : {"idle", "data", "steady"})
    for (const double offset : {0.0, 6.0, -9.5, 14.0})
      for (const float centre : {1031.25f, 968.75f}) {
        const auto iq = station(pattern(kind, 40, gen), 8000.0, 1000.0 + offset, 2.1);
        EXPECT_NEAR(refine_carrier(iq, 8000.0f, centre), 1000.0 + offset, 0.01)
            << kind << " at " << offset << " from " << centre;
      }
}

TEST(Psk31Sync, RefineCarrierStaysNearTheBinAndReadsItsSymbolsOnly) {
  std::mt19937 gen(8);
  // A station two bins away or more leaves the estimate within a bin and a
  // half; beside a station of its own bin, an equally strong one two bins off
  // does not move it.
  for (const double carrier : {1070.0, 1100.0, 925.0}) {
    const float got = refine_carrier(station(pattern("data", 40, gen), 8000.0, carrier, 0.2), 8000.0f, 1000.0f);
    EXPECT_GE(got, 953.125f) << carrier;
    EXPECT_LE(got, 1046.875f) << carrier;
  }
  for (const char* kind : {"idle", "data"}) {
    auto iq = station(pattern(kind, 40, gen), 8000.0, 1003.0, 0.4);
    const auto other = station(pattern("data", 40, gen), 8000.0, 1065.5, 1.3);
    for (std::size_t i = 0; i < iq.size(); ++i) iq[i] += other[i];
    EXPECT_NEAR(refine_carrier(iq, 8000.0f, 1000.0f), 1003.0, 0.05) << kind;
  }
  // Only the first kRefineSymbols symbols count: what follows them is not read.
  auto iq = station(pattern("data", kRefineSymbols, gen), 8000.0, 1004.0, 0.0);
  const auto later = station(pattern("data", 200, gen), 8000.0, 1010.0, 0.0, 10.0);
  iq.insert(iq.end(), later.begin(), later.end());
  EXPECT_NEAR(refine_carrier(iq, 8000.0f, 1000.0f), 1004.0, 0.01);
  // Levels far above and below unit amplitude give the same answer.
  for (const double amplitude : {1e-12, 1e12})
    EXPECT_NEAR(refine_carrier(station(pattern("data", 40, gen), 8000.0, 993.0, 1.0, amplitude), 8000.0f, 1000.0f),
                993.0, 0.01);
}

TEST(Psk31Sync, RefineCarrierKeepsTheCentreWithoutAMeasure) {
  std::mt19937 gen(9);
  const auto iq = station(pattern("data", 40, gen), 8000.0, 1006.0, 0.0);
  // Fewer than two symbols, silence, a sample that is not a number, a level
  // whose sums overflow, a sample rate with no eighth of a symbol.
  EXPECT_EQ(refine_carrier(std::span(iq).first(511), 8000.0f, 1000.0f), 1000.0f);
  EXPECT_NE(refine_carrier(std::span(iq).first(512), 8000.0f, 1000.0f), 1000.0f);
  EXPECT_EQ(refine_carrier(std::vector<cf32>(8192), 8000.0f, 1000.0f), 1000.0f);
  auto broken = iq;
  broken[3000] = {std::numeric_limits<float>::quiet_NaN(), 0.0f};
  EXPECT_EQ(refine_carrier(broken, 8000.0f, 1000.0f), 1000.0f);
  const auto loud = station(pattern("data", 40, gen), 8000.0, 1006.0, 0.0, 1e30);
  EXPECT_EQ(refine_carrier(loud, 8000.0f, 1000.0f), 1000.0f);
  EXPECT_EQ(refine_carrier(iq, 200.0f, 100.0f), 100.0f);
  EXPECT_EQ(refine_carrier({}, 8000.0f, 1000.0f), 1000.0f);
}

TEST(Psk31Sync, Median) {
  EXPECT_EQ(median_f32({3.0f}), 3.0f);
  EXPECT_EQ(median_f32({5.0f, 1.0f, 3.0f}), 3.0f);
  EXPECT_EQ(median_f32({4.0f, 1.0f, 3.0f, 2.0f}), 2.5f);
  EXPECT_EQ(median_f32({}), 0.0f);
  // NaNs sort last and leave the finite middle alone.
  EXPECT_EQ(median_f32({NAN, 1.0f, 2.0f, 3.0f, 4.0f}), 3.0f);
}

TEST(Psk31Sync, RecordCandidateBoundsItsSoftBits) {
  const std::vector<cf32> iq(100 * 256, cf32{1.0f, 0.0f});
  std::vector<Psk31SyncResult> out;
  record_candidate(out, 40, 10, iq, 1024, 500.0f, 1.5f, 8000.0f);
  ASSERT_EQ(out.size(), 1u);
  EXPECT_EQ(out[0].soft_bits.size(), 60u);
  // A constant is no station near the bin at 812.5 Hz: the carrier stays
  // within the bins measured.
  EXPECT_LE(std::fabs(out[0].carrier_hz - 812.5f), 46.875f);
  record_candidate(out, 40, 10, iq, 5, 500.0f, 1.5f, 8000.0f);
  EXPECT_EQ(out[1].soft_bits.size(), 5u);
  record_candidate(out, 100, 10, iq, 5, 500.0f, 1.5f, 8000.0f);  // starts at the end
  EXPECT_EQ(out.size(), 2u);
}

}  // namespace
}  // namespace vatel::demodulate::psk31_sync
