#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <limits>
#include <random>
#include <vector>

#include "core/cpu.hpp"
#include "modulate/ofdm.hpp"
#include "multicarrier/config.hpp"
#include "sync/ofdm_sync.hpp"

using namespace vatel;
using namespace vatel::sync::ofdm_sync;

namespace {

constexpr float kFs = 1e6f;

multicarrier::OfdmConfig config() {
  const std::int32_t idx[] = {-21, -7, 7, 21};
  const cf32 val[] = {1, 1, 1, -1};
  return multicarrier::OfdmConfig::create(64, 16, {}, idx, val, kFs, 0.0f, 1.0f,
                                          multicarrier::ConstellationOrder::Qpsk, 4)
      .value();
}

OfdmPreambleParams params(bool training = true) {
  OfdmPreambleParams p;
  p.num_repeats = 4;
  p.repeat_len = 16;
  if (training) p.with_training_symbol.emplace(64, 16);
  return p;
}

// A burst as a receiver meets it: noise lead-in, preamble, data symbols and
// a tail, through a channel of taps at sample delays, turned by a carrier
// offset (in bins of the 64-point FFT) and with noise at `snr_db` relative
// to the burst's mean power.
struct Burst {
  std::vector<cf32> iq;
  std::size_t start = 0;
};

Burst make_burst(std::size_t lead, float offset_bins, float snr_db,
                 const std::vector<std::pair<std::size_t, cf32>>& taps, unsigned seed) {
  std::mt19937 gen(seed);
  const auto cfg = config();
  const auto pre = generate_ofdm_preamble(params(), cfg);
  modulate::OfdmMod mod(cfg);
  std::vector<std::uint8_t> bits(4 * mod.bits_per_symbol());
  for (auto& b : bits) b = gen() & 1u;
  const auto data = mod.modulate(bits);
  std::vector<cf32> clean(lead + pre.size() + data.size() + 200);
  std::copy(pre.begin(), pre.end(), clean.begin() + lead);
  std::copy(data.begin(), data.end(), clean.begin() + lead + pre.size());
  std::vector<cf32> iq(clean.size());
  for (std::size_t i = 0; i < iq.size(); ++i)
    for (const auto& [delay, g] : taps)
      if (i >= delay) iq[i] += g * clean[i - delay];
  double power = 0;
  for (std::size_t i = lead; i < lead + pre.size() + data.size(); ++i) power += std::norm(iq[i]);
  power /= double(pre.size() + data.size());
  const float sigma = float(std::sqrt(power / std::pow(10.0, snr_db / 10.0) / 2.0));
  std::normal_distribution<float> noise(0.0f, sigma);
  for (std::size_t i = 0; i < iq.size(); ++i) {
    const double ph = 2.0 * M_PI * offset_bins * double(i) / 64.0 + 0.4;
    iq[i] = iq[i] * cf32(float(std::cos(ph)), float(std::sin(ph))) + cf32(noise(gen), noise(gen));
  }
  return {iq, lead};
}

float total_offset_bins(const OfdmSyncResult& r) {
  return r.cfo_hz / (kFs / 64.0f) + float(r.integer_cfo_bins);
}

}  // namespace

TEST(OfdmSync, UnusableInputsGiveNoResult) {
  const auto pre = generate_ofdm_preamble(params(), config());
  std::vector<cf32> iq(pre.begin(), pre.end());
  iq.resize(400, cf32{0.01f, 0.0f});
  const std::size_t big = std::numeric_limits<std::size_t>::max();
  struct Case { const char* what; float fs; std::size_t repeats, len, start, end; std::optional<std::pair<std::size_t, std::size_t>> training; std::size_t n; };
  const Case cases[] = {
      {"fs 0", 0.0f, 4, 16, 0, big, {}, 400},
      {"fs NaN", NAN, 4, 16, 0, big, {}, 400},
      {"repeat_len 0", kFs, 4, 0, 0, big, {}, 400},
      {"one repeat", kFs, 1, 16, 0, big, {}, 400},
      {"buffer shorter than the span", kFs, 4, 16, 0, big, std::pair{64ul, 16ul}, 127},
      {"start at end", kFs, 4, 16, 50, 50, {}, 400},
      {"start past end", kFs, 4, 16, 60, 50, {}, 400},
      {"repeats x len wraps", kFs, std::size_t{1} << 62, 8, 0, big, {}, 400},
      {"training sizes wrap", kFs, 4, 16, 0, big, std::pair{big, 2ul}, 400},
      {"span wraps", kFs, 4, 16, 0, big, std::pair{big - 70, 2ul}, 400},
  };
  for (const Case& c : cases) {
    OfdmPreambleParams p;
    p.num_repeats = c.repeats;
    p.repeat_len = c.len;
    p.with_training_symbol = c.training;
    EXPECT_TRUE(ofdm_sync(std::span(iq).first(c.n), c.fs, p, c.start, c.end).empty()) << c.what;
  }
  const std::vector<cf32> zeros(1000);
  EXPECT_TRUE(ofdm_sync(zeros, kFs, params(), 0, 1000).empty());
}

TEST(OfdmSync, APreambleFillingTheWholeBufferIsFoundAtZero) {
  const auto pre = generate_ofdm_preamble(params(), config());
  const std::vector<cf32> iq(pre.begin(), pre.end());
  const auto r = ofdm_sync(iq, kFs, params(), 0, iq.size());
  ASSERT_EQ(r.size(), 1u);
  EXPECT_EQ(r[0].start_sample, 0u);
  EXPECT_NEAR(r[0].score, 1.0f, 1e-5f);
  EXPECT_NEAR(r[0].cfo_hz, 0.0f, 1.0f);
  EXPECT_EQ(r[0].integer_cfo_bins, 0);
}

TEST(OfdmSync, EqualKeysKeepPositionOrderAndOnlyFiveGetAnIntegerOffset) {
  // A constant signal: every position scores 1 with the same energy.
  const std::vector<cf32> iq(300, cf32{0.5f, -0.25f});
  const auto r = ofdm_sync(iq, kFs, params(), 0, 300);
  ASSERT_EQ(r.size(), 300u - 144u + 1u);
  for (std::size_t i = 0; i < r.size(); ++i) {
    EXPECT_EQ(r[i].start_sample, i);
    EXPECT_EQ(r[i].score, 1.0f);
    if (i >= 5) EXPECT_EQ(r[i].integer_cfo_bins, 0);
  }
  for (const auto& x : ofdm_sync(iq, kFs, params(false), 0, 300)) EXPECT_EQ(x.integer_cfo_bins, 0);
}

TEST(OfdmSync, KernelBuildsAgreeWithTheSumsWrittenOut) {
  std::mt19937 gen(3);
  std::normal_distribution<float> d;
  const std::size_t repeats = 3, len = 13, count = 37;
  std::vector<float> re(count + repeats * len), im(re.size());
  for (std::size_t i = 0; i < re.size(); ++i) {
    re[i] = d(gen);
    im[i] = d(gen);
  }
  std::vector<float> a(3 * count), b(3 * count);
  repeat_correlation_kernel_portable(re.data(), im.data(), count, repeats, len, a.data(),
                                     a.data() + count, a.data() + 2 * count);
  if (core::cpu_has_fma()) {
    repeat_correlation_kernel_fma(re.data(), im.data(), count, repeats, len, b.data(),
                                  b.data() + count, b.data() + 2 * count);
    EXPECT_EQ(a, b);
  }
  for (std::size_t pos = 0; pos < count; ++pos) {
    float pr = 0, pi = 0, e = 0;
    for (std::size_t j = 0; j + 1 < repeats; ++j) {
      float sr = 0, si = 0, se = 0;
      for (std::size_t i = 0; i < len; ++i) {
        const std::size_t x = pos + j * len + i, y = x + len;
        sr = sr + (re[x] * re[y] + im[x] * im[y]);
        si = si + (im[y] * re[x] - im[x] * re[y]);
        se = se + (im[y] * im[y] + re[y] * re[y]);
      }
      pr = pr + sr;
      pi = pi + si;
      e = e + se;
    }
    EXPECT_EQ(a[pos], pr) << pos;
    EXPECT_EQ(a[count + pos], pi) << pos;
    EXPECT_EQ(a[2 * count + pos], e) << pos;
  }
}

TEST(OfdmSync, FindsBurstsOffGridThroughMultipathAndNoise) {
  // Offsets in bins of the 64-point FFT: fractional ones inside the
  // repetitions' +-2-bin range, and integer ones of several carriers either way.
  const std::vector<std::pair<std::size_t, cf32>> two_path = {{0, {1.0f, 0.0f}},
                                                               {3, {0.35f, -0.3f}}};
  const float offsets[] = {0.0f, 0.37f, -1.6f, 3.3f, -5.45f, 7.9f, -9.2f};
  unsigned seed = 10;
  for (const float off : offsets) {
    const Burst b = make_burst(237 + seed, off, 20.0f, two_path, seed);
    ++seed;
    const auto r = ofdm_sync(b.iq, kFs, params(), 0, b.iq.size());
    ASSERT_FALSE(r.empty());
    const std::int64_t err = std::int64_t(r[0].start_sample) - std::int64_t(b.start);
    EXPECT_LE(std::abs(err), 8) << off;
    EXPECT_GT(r[0].score, 0.8f) << off;
    EXPECT_NEAR(total_offset_bins(r[0]), off, 0.05f) << "offset " << off << " start error " << err;
  }
}

TEST(OfdmSync, IntegerSearchToleratesAStartInsideThePrefix) {
  // The training window cut up to the whole prefix early, through a
  // three-path channel: the neighbour products keep the shift.
  const auto pre = generate_ofdm_preamble(params(), config());
  const std::vector<cf32> training(pre.begin() + 64, pre.end());
  const cf32 taps[] = {{0.8f, 0.1f}, {0.0f, 0.0f}, {-0.4f, 0.3f}, {0.0f, 0.0f}, {0.2f, 0.0f}};
  IntegerCfoSearch search(64, 16);
  for (int shift : {-9, -3, 0, 2, 5, 11}) {
    for (std::size_t early : {0ul, 3ul, 7ul, 12ul}) {
      // Pad in front so that an early cut reads the channel's tail of the
      // previous (silent) samples.
      std::vector<cf32> rx(16 + 80 + 5);
      for (std::size_t i = 0; i < 80; ++i) {
        const double ph = 2.0 * M_PI * shift * double(i) / 64.0;
        const cf32 turned = training[i] * cf32(float(std::cos(ph)), float(std::sin(ph)));
        for (std::size_t t = 0; t < 5; ++t) rx[16 + i + t] += taps[t] * turned;
      }
      const std::span<const cf32> window = std::span(rx).subspan(16 - early, 80);
      EXPECT_EQ(search.estimate(window, 0.0f, kFs), shift) << "shift " << shift << " early " << early;
    }
  }
  // Half the FFT either way is one circular shift: the negative one is reported.
  std::vector<cf32> rx(80);
  for (std::size_t i = 0; i < 80; ++i) rx[i] = training[i] * float(i % 2 ? -1 : 1);
  EXPECT_EQ(search.estimate(rx, 0.0f, kFs), -32);
}

TEST(OfdmSync, NonFiniteSamplesGiveAListWithoutCrashing) {
  Burst b = make_burst(300, 0.5f, 25.0f, {{0, {1, 0}}}, 99);
  b.iq[10] = cf32(NAN, 0.0f);
  const auto r = ofdm_sync(b.iq, kFs, params(), 0, b.iq.size());
  ASSERT_FALSE(r.empty());
  EXPECT_NEAR(double(r[0].start_sample), double(b.start), 8.0);
  // The positions whose sums met the NaN come last, in position order.
  const std::size_t first_bad = r.size() - 11;
  for (std::size_t i = 0; i < r.size(); ++i)
    EXPECT_EQ(r[i].start_sample <= 10, i >= first_bad) << i;
  for (std::size_t i = first_bad; i < r.size(); ++i) EXPECT_EQ(r[i].start_sample, i - first_bad);

  // An infinite sample makes the largest energy infinite: every key is then
  // 0 or NaN, and the list is still whole.
  b.iq[20] = cf32(std::numeric_limits<float>::infinity(), 0.0f);
  EXPECT_EQ(ofdm_sync(b.iq, kFs, params(), 0, b.iq.size()).size(), r.size());
  const std::vector<cf32> all_nan(500, cf32(NAN, NAN));
  EXPECT_TRUE(ofdm_sync(all_nan, kFs, params(), 0, 500).empty());  // no finite energy
}
