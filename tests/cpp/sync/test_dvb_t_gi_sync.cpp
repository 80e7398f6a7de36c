#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <random>
#include <vector>

#include "dsp/rotator.hpp"
#include "multicarrier/fft.hpp"
#include "sync/dvb_t_gi_sync.hpp"

namespace vatel::sync::dvb_t_gi_sync {
namespace {

// The 2K continual-pilot carriers of EN 300 744, as bins (k - 852) mod 2048.
std::vector<std::size_t> continual_bins() {
  const int carriers[] = {0,    48,   54,   87,   141,  156,  192,  201,  255,  279,  282,  333,
                          432,  450,  483,  525,  531,  618,  636,  714,  759,  765,  780,  804,
                          873,  888,  918,  939,  942,  969,  984,  1050, 1101, 1107, 1110, 1137,
                          1140, 1146, 1206, 1269, 1323, 1377, 1491, 1683, 1704};
  std::vector<std::size_t> bins;
  for (int k : carriers) bins.push_back(static_cast<std::size_t>((k - 852 + 2048) % 2048));
  return bins;
}

// `n` random 2K symbols with cyclic prefixes: QPSK on the 1705 active
// carriers, boosted continual pilots, and a tone offset of `carriers`
// carrier spacings applied over the whole signal.
std::vector<cf32> ofdm_symbols(std::size_t n, std::size_t cp, double carriers = 0.0,
                               unsigned seed = 1) {
  std::mt19937 rng(seed);
  multicarrier::IfftBlock ifft(2048);
  multicarrier::AlignedSamples bins(2048), time(2048);
  const auto pilots = continual_bins();
  std::vector<cf32> out;
  for (std::size_t s = 0; s < n; ++s) {
    std::fill(bins.begin(), bins.end(), cf32{});
    for (int k = 0; k <= 1704; ++k) {
      const float re = (rng() & 1) ? 0.70710677f : -0.70710677f;
      const float im = (rng() & 1) ? 0.70710677f : -0.70710677f;
      bins[static_cast<std::size_t>((k - 852 + 2048) % 2048)] = {re, im};
    }
    for (std::size_t b : pilots) bins[b] = {(rng() & 1) ? 1.3333334f : -1.3333334f, 0.0f};
    ifft.process(bins, time);
    out.insert(out.end(), time.end() - static_cast<std::ptrdiff_t>(cp), time.end());
    out.insert(out.end(), time.begin(), time.end());
  }
  if (carriers != 0.0)
    for (std::size_t i = 0; i < out.size(); ++i)
      out[i] *= std::polar(1.0, 2.0 * M_PI * carriers * static_cast<double>(i) / 2048.0);
  return out;
}

std::vector<cf32> delayed(const std::vector<cf32>& x, std::size_t d) {
  std::vector<cf32> out(d, cf32{});
  out.insert(out.end(), x.begin(), x.end());
  return out;
}

// The acquisition written out plainly, one candidate at a time.
GiSyncResult reference_gi_sync(const std::vector<cf32>& r, std::size_t cp) {
  const std::size_t period = 2048 + cp, len = r.size();
  std::vector<std::complex<float>> c(period);
  std::vector<float> half(period), metric(period);
  auto sums = [&](std::size_t x, std::size_t symbols, std::complex<float>& cx, float& ex) {
    cx = {};
    ex = 0.0f;
    for (std::size_t s = 0; s < symbols; ++s) {
      if (x + s * period + cp + 2048 > len) break;
      for (std::size_t i = 0; i < cp; ++i) {
        const std::size_t a = x + s * period + i;
        cx += r[a] * std::conj(r[a + 2048]);
        ex += std::norm(r[a]) + std::norm(r[a + 2048]);
      }
    }
  };
  std::size_t h = 0;
  for (std::size_t j = 0; j < period; ++j) {
    float e;
    sums(j, 4, c[j], e);
    half[j] = e / 2.0f;
    metric[j] = std::hypot(c[j].real(), c[j].imag()) - 0.95f * half[j];
    if (metric[j] >= metric[h]) h = j;
  }
  auto q = [](std::complex<float> cx, float hx) {
    return hx > 0.0f ? std::fmin(std::hypot(cx.real(), cx.imag()) / hx, 1.0f) : 0.0f;
  };
  std::size_t x = h;
  if (h % period != 0 && period - h % period <= cp - cp / 2) {
    std::complex<float> ca, ch;
    float ea, eh;
    sums(0, 1, ca, ea);
    sums(h, 1, ch, eh);
    if (q(ca, ea / 2.0f) >= 0.5f * q(ch, eh / 2.0f)) x = 0;
  }
  return {x, std::atan2(c[x].imag(), c[x].real()) * -1201173.0f / 12867.964f, q(c[x], half[x])};
}

TEST(DvbTGiSync, BitExactAgainstAPlainReference) {
  std::mt19937 rng(3);
  std::normal_distribution<float> g(0.0f, 0.01f);
  for (std::size_t cp : {64u, 256u}) {
    for (std::size_t lead : {std::size_t{0}, std::size_t{900}, 2048 + cp - 7}) {
      auto sig = delayed(ofdm_symbols(4, cp, 0.31, static_cast<unsigned>(lead)), lead);
      for (cf32& v : sig) v += cf32{g(rng), g(rng)};
      const auto got = dvb_t_gi_sync(sig, cp, 2048 + cp);
      const auto want = reference_gi_sync(sig, cp);
      ASSERT_TRUE(got);
      EXPECT_EQ(got->offset, want.offset);
      EXPECT_EQ(got->cfo_hz, want.cfo_hz);
      EXPECT_EQ(got->quality, want.quality);
    }
  }
}

TEST(DvbTGiSync, FindsTheFirstSymbolAfterSilence) {
  for (std::size_t cp : {64u, 128u, 256u, 512u}) {
    const std::size_t period = 2048 + cp;
    const auto sig = ofdm_symbols(5, cp);
    for (std::size_t d : {std::size_t{0}, std::size_t{1}, std::size_t{37}, period / 2,
                          period - (cp + 1) / 2 - 1}) {
      const auto r = dvb_t_gi_sync(delayed(sig, d), cp, period);
      ASSERT_TRUE(r) << cp << " " << d;
      EXPECT_EQ(r->offset, d) << cp;
      EXPECT_GT(r->quality, 0.99f);
    }
  }
}

TEST(DvbTGiSync, LengthConditions) {
  const std::size_t cp = 64, period = 2048 + cp;
  const auto sig = ofdm_symbols(3, cp);
  const std::span<const cf32> all(sig);
  EXPECT_TRUE(dvb_t_gi_sync(all.first(cp + period + 2047), cp, period));
  EXPECT_FALSE(dvb_t_gi_sync(all.first(cp + period + 2046), cp, period));
  EXPECT_FALSE(dvb_t_gi_sync(all, 0, period));
  EXPECT_FALSE(dvb_t_gi_sync(all, cp, 0));
  EXPECT_FALSE(dvb_t_gi_sync(all, std::size_t(-1), period));  // no wrapped length test
  EXPECT_FALSE(dvb_t_gi_sync({}, cp, period));
}

TEST(DvbTGiSync, ZerosLockAtTheStartWithNoQuality) {
  const std::vector<cf32> zeros(3 * 2112, cf32{});
  const auto r = dvb_t_gi_sync(zeros, 64, 2112);
  ASSERT_TRUE(r);
  EXPECT_EQ(r->offset, 0u);
  EXPECT_EQ(r->cfo_hz, 0.0f);
  EXPECT_EQ(r->quality, 0.0f);
}

TEST(DvbTGiSync, BoundaryRulePrefersThePeriodStartJustBeforeAPeak) {
  // The buffer starts a few samples after a symbol start of a continuous
  // signal: the best candidate is the next start, P - few, and the period
  // boundary at 0 still correlates, so 0 wins within the last half guard.
  const std::size_t cp = 128, period = 2048 + cp;
  const auto sig = ofdm_symbols(7, cp);
  for (std::size_t late : {std::size_t{3}, std::size_t{20}}) {
    const std::vector<cf32> buf(sig.begin() + static_cast<std::ptrdiff_t>(late), sig.end());
    EXPECT_EQ(dvb_t_gi_sync(buf, cp, period)->offset, 0u) << late;
  }
  // Beyond the half guard the true next start is kept.
  const std::vector<cf32> buf(sig.begin() + 100, sig.end());
  EXPECT_EQ(dvb_t_gi_sync(buf, cp, period)->offset, period - 100);
}

TEST(DvbTGiSync, FractionalOffsetInReferenceHertz) {
  const std::size_t cp = 256;
  const auto sig = ofdm_symbols(5, cp, 0.1);
  const auto r = dvb_t_gi_sync(delayed(sig, 300), cp, 2048 + cp);
  ASSERT_TRUE(r);
  EXPECT_EQ(r->offset, 300u);
  EXPECT_NEAR(r->cfo_hz, 58.65f, 0.05f);
  const auto neg = dvb_t_gi_sync(ofdm_symbols(5, cp, -0.23), cp, 2048 + cp);
  EXPECT_NEAR(neg->cfo_hz, -0.23f * kCarrierSpacingHz, 0.1f);
}

TEST(DvbTGiSync, NoisyFrameStillLocks) {
  const std::size_t cp = 64, period = 2048 + cp;
  auto sig = delayed(ofdm_symbols(5, cp), 1234);
  std::mt19937 rng(9);
  std::normal_distribution<float> g(0.0f, 0.02f);  // about 4 dB SNR per sample
  for (cf32& v : sig) v += cf32{g(rng), g(rng)};
  const auto r = dvb_t_gi_sync(sig, cp, period);
  ASSERT_TRUE(r);
  EXPECT_NEAR(static_cast<double>(r->offset), 1234.0, 2.0);
}

TEST(DvbTIntegerCfo, FindsWholeCarrierShiftsWithinRange) {
  const auto bins = continual_bins();
  IntegerCfoSearch search(bins);
  const std::size_t cp = 64, period = 2048 + cp;
  for (int t : {0, 3, -7, 32, -32}) {
    const auto sig = delayed(ofdm_symbols(9, cp, t, 5), 77);
    const auto g = dvb_t_gi_sync(sig, cp, period);
    ASSERT_TRUE(g);
    EXPECT_EQ(search.find(sig, cp, g->offset), t);
  }
  const auto far = ofdm_symbols(9, cp, 33, 5);
  const std::int32_t found = search.find(far, cp, dvb_t_gi_sync(far, cp, period)->offset);
  EXPECT_NE(found, 33);
  EXPECT_LE(found, kMaxShift);
  // Too short for even one window: no power, the first of the tied shifts.
  EXPECT_EQ(search.find(std::vector<cf32>(100), cp, 0), -kMaxShift);
}

TEST(DvbTIntegerCfo, DerotationMatchesTheRotatorAndUndoesTheShift) {
  const std::size_t cp = 64;
  const auto sig = ofdm_symbols(2, cp, 3.0);
  std::vector<cf32> out(sig.size());
  derotate_carriers(sig, 3, out);
  dsp::Rotator rot((3.0f * -1201173.0f) * 0.00048828125f, 1201173.0f);
  for (std::size_t n = 0; n < sig.size(); ++n) ASSERT_EQ(out[n], dsp::mix(sig[n], rot.next()));
  // The undone shift leaves the pilots where the unshifted signal has them.
  IntegerCfoSearch search(continual_bins());
  EXPECT_EQ(search.find(out, cp, 0), 0);
}

}  // namespace
}  // namespace vatel::sync::dvb_t_gi_sync
