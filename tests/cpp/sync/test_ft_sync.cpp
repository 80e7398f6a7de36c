#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <limits>
#include <random>
#include <vector>

#include "codec/ft4.hpp"
#include "codec/ft8.hpp"
#include "core/panic.hpp"
#include "modulate/ft4.hpp"
#include "modulate/ft8.hpp"
#include "sync/costas.hpp"
#include "sync/ft4_sync.hpp"

namespace vatel::sync {
namespace {

codec::Payload random_payload(std::mt19937& rng) {
  codec::Payload p;
  for (auto& b : p) b = static_cast<std::uint8_t>(rng());
  p[9] &= 0xF8;
  return p;
}

struct Ft8 {
  using Codec = codec::Ft8Codec;
  using Mod = modulate::Ft8Mod;
  static constexpr std::size_t kHop = 1920, kBurst = 151680, kExtraBins = 9, kTones = 8;
  static constexpr float kSpacing = 6.25f;
  static constexpr const char* kName = "ft8_sync";
  static constexpr const char* kTooLarge = "100079 time steps x 8009 frequency bins)";
  static auto sync(std::span<const cf32> iq, float fs, float base, float max_hz, std::int32_t t_min,
                   std::int32_t t_max, std::size_t max_cand) {
    return costas::ft8_sync(iq, fs, base, max_hz, t_min, t_max, max_cand);
  }
  static const tone_sync::Mode& mode() { return costas::ft8_mode(); }
};
struct Ft4 {
  using Codec = codec::Ft4Codec;
  using Mod = modulate::Ft4Mod;
  static constexpr std::size_t kHop = 576, kBurst = 60480, kExtraBins = 5, kTones = 4;
  static constexpr float kSpacing = 20.833334f;
  static constexpr const char* kName = "ft4_sync";
  static constexpr const char* kTooLarge = "100105 time steps x 2405 frequency bins)";
  static auto sync(std::span<const cf32> iq, float fs, float base, float max_hz, std::int32_t t_min,
                   std::int32_t t_max, std::size_t max_cand) {
    return ft4_sync::ft4_sync(iq, fs, base, max_hz, t_min, t_max, max_cand);
  }
  static const tone_sync::Mode& mode() { return ft4_sync::ft4_mode(); }
};

template <class F>
class FtSyncTest : public ::testing::Test {};
using Families = ::testing::Types<Ft8, Ft4>;
TYPED_TEST_SUITE(FtSyncTest, Families);

// Adds a burst of payload p with tone 0 at freq, starting at sample `at`.
template <class F>
void add_burst(std::vector<cf32>& buf, const codec::Payload& p, float freq, std::size_t at, float gain) {
  const auto tones = F::Codec::encode_tones(p);
  const auto iq = typename F::Mod(12000.0f, freq, 0.0f, gain).modulate(tones).value();
  for (std::size_t i = 0; i < iq.size() && at + i < buf.size(); ++i) buf[at + i] += iq[i];
}

template <class F>
std::optional<codec::Payload> decode(const Ft4SyncResult& r) {
  return F::Codec::decode_llr(std::span<const float, 174>(r.llr));
}

TYPED_TEST(FtSyncTest, FindsBurstAtItsTimeAndBinAndDecodes) {
  using F = TypeParam;
  std::mt19937 rng(51);
  struct Case {
    std::int32_t t_min, t_max, at_sym;
    std::size_t bin;
  };
  for (const Case c : {Case{0, 20, 7, 33}, Case{10, 20, 15, 5}, Case{-10, 10, 5, 0}, Case{0, 0, 0, 12}}) {
    const float base = 300.0f;
    const codec::Payload p = random_payload(rng);
    std::vector<cf32> buf(F::kBurst + F::kHop * 30);
    add_burst<F>(buf, p, base + F::kSpacing * static_cast<float>(c.bin), static_cast<std::size_t>(c.at_sym) * F::kHop,
                 1.0f);
    const auto r = F::sync(buf, 12000.0f, base, base + 40.0f * F::kSpacing, c.t_min, c.t_max, 5);
    ASSERT_TRUE(r.ok());
    ASSERT_EQ(r.value().size(), 5u);
    const auto& best = r.value().front();
    EXPECT_EQ(best.time_sym, c.at_sym);
    EXPECT_EQ(best.freq_bin, c.bin);
    for (std::size_t i = 1; i < 5; ++i) EXPECT_GE(r.value()[i - 1].score, r.value()[i].score);
    float ms = 0.0f;
    for (float v : best.llr) ms += v * v;
    EXPECT_NEAR(ms / 174.0f, 24.0f, 1e-3f);
    const auto d = decode<F>(best);
    ASSERT_TRUE(d.has_value());
    EXPECT_EQ(*d, p);
  }
}

TYPED_TEST(FtSyncTest, GeometryEdges) {
  using F = TypeParam;
  const std::vector<cf32> empty;
  // max_hz <= base_hz: extra bins only, two start bins; an empty buffer
  // scores 0 everywhere and returns the positions in scan order.
  auto r = F::sync(empty, 12000.0f, 1000.0f, 900.0f, 0, 2, 100);
  ASSERT_TRUE(r.ok());
  ASSERT_EQ(r.value().size(), 6u);  // 3 start rows x 2 start bins
  for (std::size_t i = 0; i < 6; ++i) {
    EXPECT_EQ(r.value()[i].time_sym, static_cast<std::int32_t>(i / 2));
    EXPECT_EQ(r.value()[i].freq_bin, i % 2);
    EXPECT_EQ(r.value()[i].score, 0.0f);
    for (float v : r.value()[i].llr) EXPECT_EQ(v, 0.0f);
  }
  // NaN bounds count as an empty frequency span.
  r = F::sync(empty, 12000.0f, 1000.0f, std::nanf(""), 0, 0, 100);
  EXPECT_EQ(r.value().size(), 2u);
  // t_max < t_min: start row 0 only, reported at t_min.
  r = F::sync(empty, 12000.0f, 0.0f, 0.0f, 7, 3, 100);
  ASSERT_EQ(r.value().size(), 2u);
  EXPECT_EQ(r.value()[0].time_sym, 7);
  // A huge max_cand returns every position without reserving for it.
  r = F::sync(empty, 12000.0f, 0.0f, 0.0f, 0, 1, std::numeric_limits<std::size_t>::max());
  EXPECT_EQ(r.value().size(), 4u);
}

TYPED_TEST(FtSyncTest, AbsurdSpansAreRefused) {
  using F = TypeParam;
  const std::vector<cf32> iq(100);
  const std::string prefix = std::string(F::kName) + ": search span too large (";
  for (const auto& r : {F::sync(iq, 12000.0f, 0.0f, 1e30f, 0, 10, 5),
                        F::sync(iq, 12000.0f, 0.0f, std::numeric_limits<float>::infinity(), 0, 10, 5),
                        F::sync(iq, 12000.0f, 0.0f, 100.0f, std::numeric_limits<std::int32_t>::min(),
                                std::numeric_limits<std::int32_t>::max(), 5),
                        F::sync(iq, 12000.0f, 0.0f, 50000.0f, 0, 100000, 5)}) {
    ASSERT_FALSE(r.ok());
    EXPECT_EQ(r.error().message.rfind(prefix, 0), 0u) << r.error().message;
  }
  const auto r = F::sync(iq, 12000.0f, 0.0f, 50000.0f, 0, 100000, 5);
  EXPECT_EQ(r.error().message, prefix + F::kTooLarge);
}

TYPED_TEST(FtSyncTest, MaxCandZeroIsAViolatedInvariant) {
  using F = TypeParam;
  const std::vector<cf32> iq(10);
  EXPECT_THROW((void)F::sync(iq, 12000.0f, 0.0f, 100.0f, 0, 1, 0), core::Panic);
  // No position, nothing to compare: an empty list.
  const Waterfall w{{}, 79, 0};
  EXPECT_TRUE(tone_sync::find_candidates(F::mode(), w, 1, 0).empty());
}

TEST(FindCandidates, KeepsBestInScanOrderAndDropsTies) {
  // One start row, five start bins; a single raised cell at row 0 and
  // column f + 3 (the first Costas tone) gives position f that score alone.
  Waterfall w{std::vector<float>(79 * 12, 0.0f), 79, 12};
  const float raise[5] = {1.0f, 0.0f, 2.0f, 0.0f, 1.0f};
  for (std::size_t f = 0; f < 5; ++f) w.data[f + 3] = raise[f];
  auto order = [&](std::size_t max_cand) {
    std::vector<std::size_t> bins;
    for (const auto& c : costas::find_candidates(w, 1, max_cand)) bins.push_back(c.freq_bin);
    return bins;
  };
  const auto all = costas::find_candidates(w, 1, 10);
  ASSERT_EQ(all.size(), 5u);
  for (std::size_t i = 0; i < 5; ++i) EXPECT_EQ(all[i].score, raise[all[i].freq_bin]);
  EXPECT_EQ(order(10), (std::vector<std::size_t>{2, 0, 4, 1, 3}));
  // Bin 4 only equals the lowest kept score (bin 0's): it does not enter.
  EXPECT_EQ(order(2), (std::vector<std::size_t>{2, 0}));
  // With three kept, bin 4 replaces bin 1 and stands ahead of bin 0.
  EXPECT_EQ(order(3), (std::vector<std::size_t>{2, 4, 0}));
  EXPECT_EQ(order(1), (std::vector<std::size_t>{2}));
}

TEST(FindCandidates, OneRowWaterfallScoresFirstSyncCellOnly) {
  // t_max - t_min + 79 < 2: one row; only the Costas cells of row 0 count.
  const std::vector<cf32> iq;
  const auto r = costas::ft8_sync(iq, 12000.0f, 0.0f, 0.0f, 100, 22, 3);
  ASSERT_TRUE(r.ok());
  EXPECT_EQ(r.value().size(), 2u);
  Waterfall w{std::vector<float>(9, 0.0f), 1, 9};
  w.data[3] = 5.0f;  // row 0, tone 3 of start bin 0
  w.data[8] = 7.0f;  // column 8 is no sync cell of row 0 for any start bin
  const auto c = costas::find_candidates(w, 1, 2);
  ASSERT_EQ(c.size(), 2u);
  EXPECT_EQ(c[0].freq_bin, 0u);
  EXPECT_EQ(c[0].score, 5.0f);
  EXPECT_EQ(c[1].score, 0.0f);
}

TEST(SoftBits, GrayGroupsAndNormalisation) {
  // FT8: a single data row with tone 6 strongest: v = 4 (bits 1 0 0).
  Waterfall w{std::vector<float>(79 * 10, 0.0f), 79, 10};
  const std::size_t row = 7;  // data symbol 0
  for (std::size_t t = 0; t < 8; ++t) w.data[row * 10 + 1 + t] = t == 6 ? 3.0f : 1.0f;
  const Candidate c{1, 0, 0.0f};
  const auto llr = tone_sync::soft_bits(costas::ft8_mode(), w, c);
  // Bit 0: {0,1,2,3} against {4,5,6,7}: 1 - 3; bit 1: {0,1,5,6} vs {2,3,4,7}: 3 - 1;
  // bit 2: {0,3,4,5} vs {1,2,6,7}: 1 - 3.  Mean square 12/174, scaled to 24.
  const float k = std::sqrt(24.0f / (12.0f / 174.0f));
  EXPECT_FLOAT_EQ(llr[0], -2.0f * k);
  EXPECT_FLOAT_EQ(llr[1], 2.0f * k);
  EXPECT_FLOAT_EQ(llr[2], -2.0f * k);
  for (std::size_t i = 3; i < 174; ++i) EXPECT_EQ(llr[i], 0.0f);
  // Rows beyond the waterfall give 0 and all-zero bits stay unscaled.
  const Waterfall one{std::vector<float>(10, 1.0f), 1, 10};
  for (float v : tone_sync::soft_bits(costas::ft8_mode(), one, c)) EXPECT_EQ(v, 0.0f);
}

// Complex Gaussian noise of variance sigma2 (sigma2 / 2 per component).
void add_noise(std::vector<cf32>& x, float sigma2, std::uint32_t seed) {
  std::mt19937 rng(seed);
  std::normal_distribution<float> g(0.0f, std::sqrt(sigma2 / 2.0f));
  for (auto& v : x) v += cf32(g(rng), g(rng));
}

TEST(Ft8Sync, DecodesAtMinus16DbIn2500Hz) {
  // Unit-power signal; noise of variance s2 over 12 kHz has s2 * 2500 / 12000
  // in 2500 Hz, so -16 dB there is s2 = 10^1.6 * 12000 / 2500.
  const float fs = 12000.0f;
  const float sigma2 = std::pow(10.0f, 1.6f) * fs / 2500.0f;
  std::mt19937 rng(61);
  int decoded = 0;
  const int trials = 5;
  for (int t = 0; t < trials; ++t) {
    const codec::Payload p = random_payload(rng);
    std::vector<cf32> slot(180000);
    const std::size_t bin = 100 + 37 * static_cast<std::size_t>(t);
    const std::int32_t sym = 3 + t;
    add_burst<Ft8>(slot, p, 200.0f + 6.25f * static_cast<float>(bin), static_cast<std::size_t>(sym) * 1920, 1.0f);
    add_noise(slot, sigma2, 1000 + static_cast<std::uint32_t>(t));
    const auto r = costas::ft8_sync(slot, fs, 200.0f, 2700.0f, 0, 14, 20);
    ASSERT_TRUE(r.ok());
    for (const auto& c : r.value()) {
      const auto d = decode<Ft8>(c);
      if (d && *d == p && c.time_sym == sym && c.freq_bin == bin) {
        ++decoded;
        break;
      }
    }
  }
  EXPECT_EQ(decoded, trials);
}

TEST(Ft8Sync, TwentySignalsInOneSlot) {
  const float fs = 12000.0f;
  std::mt19937 rng(71);
  std::vector<cf32> slot(180000);
  std::vector<codec::Payload> sent;
  for (int s = 0; s < 20; ++s) {
    sent.push_back(random_payload(rng));
    // 60 Hz apart, staggered in time, at -10 dB in 2500 Hz.
    add_burst<Ft8>(slot, sent.back(), 200.0f + 6.25f * static_cast<float>(10 + 6 * s),
                   static_cast<std::size_t>(1 + s % 6) * 1920, 1.0f);
  }
  add_noise(slot, std::pow(10.0f, 1.0f) * fs / 2500.0f, 72);
  const auto t0 = std::chrono::steady_clock::now();
  const auto r = costas::ft8_sync(slot, fs, 200.0f, 2700.0f, 0, 14, 60);
  ASSERT_TRUE(r.ok());
  std::vector<codec::Payload> got;
  for (const auto& c : r.value())
    if (const auto d = decode<Ft8>(c)) got.push_back(*d);
  const double ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count();
  std::printf("ft8 slot: 20 signals, sync and decode of %zu candidates in %.1f ms\n", r.value().size(), ms);
  RecordProperty("slot_ms", static_cast<int>(ms));
  for (const auto& p : sent) EXPECT_NE(std::find(got.begin(), got.end(), p), got.end());
}

}  // namespace
}  // namespace vatel::sync
