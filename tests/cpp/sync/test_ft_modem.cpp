#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <vector>

#include "codec/ft4.hpp"
#include "codec/ft8.hpp"
#include "demodulate/ft4.hpp"
#include "demodulate/ft8.hpp"
#include "dsp/rotator.hpp"
#include "modulate/ft4.hpp"
#include "modulate/ft8.hpp"

namespace vatel {
namespace {

struct Ft8 {
  using Mod = modulate::Ft8Mod;
  using Demod = demodulate::Ft8Demod;
  static constexpr std::size_t kTones = 58, kOrder = 8, kSymbols = 79, kSps = 1920, kBurst = 151680;
  static constexpr float kSpacing = 6.25f;
  static constexpr const char* kMod = "Ft8Mod";
  static constexpr const char* kDemod = "Ft8Demod";
  static std::vector<std::uint8_t> symbols(const std::vector<std::uint8_t>& d) {
    const auto s = codec::ft8::channel_symbols(std::span<const std::uint8_t, 58>(d.data(), 58));
    return {s.begin(), s.end()};
  }
};
struct Ft4 {
  using Mod = modulate::Ft4Mod;
  using Demod = demodulate::Ft4Demod;
  static constexpr std::size_t kTones = 87, kOrder = 4, kSymbols = 105, kSps = 576, kBurst = 60480;
  static constexpr float kSpacing = 20.833334f;
  static constexpr const char* kMod = "Ft4Mod";
  static constexpr const char* kDemod = "Ft4Demod";
  static std::vector<std::uint8_t> symbols(const std::vector<std::uint8_t>& d) {
    const auto s = codec::ft4::channel_symbols(std::span<const std::uint8_t, 87>(d.data(), 87));
    return {s.begin(), s.end()};
  }
};

template <class F>
class FtModemTest : public ::testing::Test {};
using Families = ::testing::Types<Ft8, Ft4>;
TYPED_TEST_SUITE(FtModemTest, Families);

template <class F>
std::vector<std::uint8_t> random_tones(std::mt19937& rng) {
  std::vector<std::uint8_t> t(F::kTones);
  for (auto& x : t) x = static_cast<std::uint8_t>(rng() % F::kOrder);
  return t;
}

template <class F>
std::vector<cf32> modulate(const typename F::Mod& mod, const std::vector<std::uint8_t>& tones) {
  auto r = mod.modulate(tones);
  EXPECT_TRUE(r.ok());
  return std::vector<cf32>(r.value().begin(), r.value().end());
}

TYPED_TEST(FtModemTest, BurstLengthMagnitudeAndRoundTrip) {
  using F = TypeParam;
  std::mt19937 rng(31);
  for (float base : {0.0f, 1000.0f, 2437.5f}) {
    const auto tones = random_tones<F>(rng);
    const typename F::Mod mod(12000.0f, base, 0.0f, 0.5f);
    const auto iq = modulate<F>(mod, tones);
    ASSERT_EQ(iq.size(), F::kBurst);
    for (std::size_t n = 0; n < iq.size(); n += 97) EXPECT_NEAR(std::abs(iq[n]), 0.5f, 2e-5f) << n;
    const typename F::Demod demod(12000.0f, base);
    auto d = demod.demodulate(iq);
    ASSERT_TRUE(d.ok());
    EXPECT_EQ(std::vector<std::uint8_t>(d.value().begin(), d.value().end()), tones);
    // Samples past the burst are ignored.
    auto longer = iq;
    longer.resize(iq.size() + 5000, cf32(100.0f, -3.0f));
    d = demod.demodulate(longer);
    EXPECT_EQ(std::vector<std::uint8_t>(d.value().begin(), d.value().end()), tones);
  }
}

TYPED_TEST(FtModemTest, PhaseContinuousFromOneOscillator) {
  using F = TypeParam;
  std::mt19937 rng(32);
  const auto tones = random_tones<F>(rng);
  const float fs = 12000.0f, base = 1500.0f, gain = 1.0f;
  const auto iq = modulate<F>(typename F::Mod(fs, base, 0.0f, gain), tones);
  // An independent oscillator walk: the step of each symbol from its tone,
  // the phasor advanced with the fused products of the phasor oscillator and
  // rescaled after every 1024th advance, each sample taken before the rescale.
  const auto sym = F::symbols(tones);
  float re = 1.0f, im = 0.0f;
  std::size_t n = 0;
  for (std::size_t s = 0; s < F::kSymbols; ++s) {
    const float a = ((F::kSpacing * static_cast<float>(sym[s]) + base) * 6.2831855f) / fs;
    float sr, si;
    ::sincosf(a, &si, &sr);
    for (std::size_t i = 0; i < F::kSps; ++i, ++n) {
      const float nr = std::fma(re, sr, -(im * si));
      const float ni = std::fma(im, sr, re * si);
      re = nr;
      im = ni;
      ASSERT_EQ(iq[n], cf32(re, im)) << n;
      if ((n + 1) % 1024 == 0) {
        const float k = 1.0f / std::sqrt(re * re + im * im);
        re *= k;
        im *= k;
      }
    }
  }
}

TYPED_TEST(FtModemTest, RfShiftIsASecondOscillator) {
  using F = TypeParam;
  std::mt19937 rng(33);
  const auto tones = random_tones<F>(rng);
  const auto plain = modulate<F>(typename F::Mod(12000.0f, 500.0f, 0.0f, 0.8f), tones);
  const auto shifted = modulate<F>(typename F::Mod(12000.0f, 500.0f, -1234.5f, 0.8f), tones);
  dsp::Rotator rf(-1234.5f, 12000.0f);
  for (std::size_t n = 0; n < plain.size(); ++n) {
    const cf32 p = rf.next();
    const cf32 x = plain[n];
    const cf32 want(std::fma(x.real(), p.real(), -(x.imag() * p.imag())),
                    std::fma(x.imag(), p.real(), x.real() * p.imag()));
    ASSERT_EQ(shifted[n], want) << n;
  }
  // The shifted burst demodulates at the shifted base.
  const auto d = typename F::Demod(12000.0f, 500.0f - 1234.5f).demodulate(shifted);
  EXPECT_EQ(std::vector<std::uint8_t>(d.value().begin(), d.value().end()), tones);
}

TYPED_TEST(FtModemTest, ToneBeyondTheAlphabetIsSentAboveIt) {
  using F = TypeParam;
  const std::vector<std::uint8_t> tones(F::kTones, static_cast<std::uint8_t>(F::kOrder));
  const auto iq = modulate<F>(typename F::Mod(12000.0f, 1000.0f, 0.0f, 1.0f), tones);
  // Tone `order` lies one spacing above the highest tone: tone 0 of a
  // demodulator whose base is order * spacing higher.
  const float above = 1000.0f + F::kSpacing * static_cast<float>(F::kOrder);
  const auto d = typename F::Demod(12000.0f, above).demodulate(iq);
  EXPECT_EQ(std::vector<std::uint8_t>(d.value().begin(), d.value().end()), std::vector<std::uint8_t>(F::kTones, 0));
}

TYPED_TEST(FtModemTest, EqualPowersGiveToneZero) {
  using F = TypeParam;
  const std::vector<cf32> zeros(F::kBurst);
  const auto d = typename F::Demod(12000.0f, 1000.0f).demodulate(zeros);
  EXPECT_EQ(std::vector<std::uint8_t>(d.value().begin(), d.value().end()), std::vector<std::uint8_t>(F::kTones, 0));
}

TYPED_TEST(FtModemTest, ErrorTexts) {
  using F = TypeParam;
  const typename F::Mod mod(12000.0f, 1000.0f, 0.0f, 1.0f);
  for (std::size_t n : {std::size_t{0}, F::kTones - 1, F::kTones + 1}) {
    const std::vector<std::uint8_t> t(n, 0);
    const auto r = mod.modulate(t);
    ASSERT_FALSE(r.ok());
    EXPECT_EQ(r.error().message, std::string(F::kMod) + ".modulate: expected " + std::to_string(F::kTones) +
                                     " tone indices, got " + std::to_string(n));
  }
  const std::vector<cf32> iq(F::kBurst - 1);
  const auto r = typename F::Demod(12000.0f, 1000.0f).demodulate(iq);
  ASSERT_FALSE(r.ok());
  EXPECT_EQ(r.error().message, std::string(F::kDemod) + ".demodulate: input too short (" +
                                   std::to_string(F::kBurst - 1) + " < " + std::to_string(F::kBurst) + ")");
}

TEST(FtModemKernels, PortableAndFmaBuildsAgree) {
  std::mt19937 rng(34);
  std::vector<std::uint8_t> sym(79);
  for (auto& s : sym) s = static_cast<std::uint8_t>(rng() % 8);
  std::vector<cf32> a(79 * 1920), b(79 * 1920);
  modulate::fsk_burst_kernel_portable(sym.data(), 79, 1920, 6.25f, 1234.0f, 12000.0f, 0.7f, a.data());
  modulate::fsk_burst_kernel_fma(sym.data(), 79, 1920, 6.25f, 1234.0f, 12000.0f, 0.7f, b.data());
  EXPECT_EQ(a, b);
  dsp::Rotator ra(321.0f, 12000.0f), rb(321.0f, 12000.0f);
  modulate::rf_shift_kernel_portable(ra, a.data(), a.size());
  modulate::rf_shift_kernel_fma(rb, b.data(), b.size());
  EXPECT_EQ(a, b);
  float wr[8], wi[8], pa[8], pb[8];
  for (int k = 0; k < 8; ++k) {
    wr[k] = std::cos(0.1f * static_cast<float>(k));
    wi[k] = -std::sin(0.1f * static_cast<float>(k));
  }
  demodulate::tone_powers_kernel_portable(a.data() + 1000, 1920, wr, wi, pa);
  demodulate::tone_powers_kernel_fma(a.data() + 1000, 1920, wr, wi, pb);
  for (int k = 0; k < 8; ++k) EXPECT_EQ(pa[k], pb[k]);
}

}  // namespace
}  // namespace vatel
