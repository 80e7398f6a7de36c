#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <complex>
#include <cstring>
#include <numbers>
#include <random>
#include <vector>

#include "core/panic.hpp"
#include "multicarrier/cyclic_prefix.hpp"
#include "multicarrier/fft.hpp"
#include "multicarrier/symbol_fft.hpp"
#include "multicarrier/symbol_window.hpp"

using namespace vatel;
using namespace vatel::multicarrier;

namespace {

std::vector<cf32> random_samples(std::size_t n, unsigned seed) {
  std::mt19937 gen(seed);
  std::normal_distribution<float> d;
  std::vector<cf32> v(n);
  for (auto& x : v) x = {d(gen), d(gen)};
  return v;
}

// The DFT in double precision, sign -1 (forward) or +1 (inverse, unscaled).
std::vector<std::complex<double>> dft(const std::vector<cf32>& x, int sign) {
  const std::size_t n = x.size();
  std::vector<std::complex<double>> X(n);
  for (std::size_t k = 0; k < n; ++k) {
    std::complex<double> acc = 0;
    for (std::size_t t = 0; t < n; ++t) {
      const double a = sign * 2.0 * std::numbers::pi * double((k * t) % n) / double(n);
      acc += std::complex<double>(x[t]) * std::polar(1.0, a);
    }
    X[k] = acc;
  }
  return X;
}

}  // namespace

TEST(FftBlock, ImpulseAndConstantAreUnnormalised) {
  FftBlock fft(8);
  std::vector<cf32> x(8), y(8);
  x[0] = 1;
  ASSERT_EQ(fft.process(x, y), 8u);
  for (const cf32& v : y) EXPECT_EQ(v, cf32(1, 0));
  std::fill(x.begin(), x.end(), cf32(1, 0));
  fft.process(x, y);
  EXPECT_NEAR(y[0].real(), 8.0f, 1e-6);
  for (std::size_t k = 1; k < 8; ++k) EXPECT_NEAR(std::abs(y[k]), 0.0f, 1e-6);
}

TEST(IfftBlock, SingleBinRotatesByFortyFiveDegrees) {
  IfftBlock ifft(8);
  EXPECT_EQ(ifft.scale(), 0.125f);
  std::vector<cf32> X(8), x(8);
  X[1] = 8;
  ASSERT_EQ(ifft.process(X, x), 8u);
  for (std::size_t t = 0; t < 8; ++t) {
    const double a = std::numbers::pi / 4 * double(t);
    EXPECT_NEAR(x[t].real(), std::cos(a), 1e-6);
    EXPECT_NEAR(x[t].imag(), std::sin(a), 1e-6);
  }
}

class AnyLength : public ::testing::TestWithParam<std::size_t> {};

TEST_P(AnyLength, MatchesTheDftBothWaysAndRoundTrips) {
  const std::size_t n = GetParam();
  const std::vector<cf32> x = random_samples(n, unsigned(n));
  FftBlock fft(n);
  IfftBlock ifft(n);
  std::vector<cf32> X(n), back(n), xi(n);
  fft.process(x, X);
  ifft.process(x, xi);
  const auto Xr = dft(x, -1), xr = dft(x, +1);
  const double tol = 1e-5 * std::sqrt(double(n)) * 4;
  for (std::size_t k = 0; k < n; ++k) {
    EXPECT_NEAR(X[k].real(), Xr[k].real(), tol);
    EXPECT_NEAR(X[k].imag(), Xr[k].imag(), tol);
    EXPECT_NEAR(xi[k].real(), xr[k].real() / double(n), tol / double(n));
    EXPECT_NEAR(xi[k].imag(), xr[k].imag() / double(n), tol / double(n));
  }
  ifft.process(X, back);
  for (std::size_t t = 0; t < n; ++t) EXPECT_NEAR(std::abs(back[t] - x[t]), 0.0f, 1e-5);
}

INSTANTIATE_TEST_SUITE_P(Lengths, AnyLength, ::testing::Values(1, 2, 8, 61, 64, 97, 2048));

TEST(FftBlock, ShortSlicesWriteNothing) {
  FftBlock fft(8);
  IfftBlock ifft(8);
  std::vector<cf32> in(7, cf32(1, 1)), out(8, cf32(3, 3)), in8(8, cf32(1, 1)), out7(7, cf32(3, 3));
  EXPECT_EQ(fft.process(in, out), 0u);
  EXPECT_EQ(ifft.process(in, out), 0u);
  EXPECT_EQ(out, std::vector<cf32>(8, cf32(3, 3)));
  EXPECT_EQ(fft.process(in8, out7), 0u);
  EXPECT_EQ(ifft.process(in8, out7), 0u);
  EXPECT_EQ(out7, std::vector<cf32>(7, cf32(3, 3)));
  // Longer slices: only the first n values are read and written.
  std::vector<cf32> in9(9, cf32(0, 0)), out9(9, cf32(3, 3));
  in9[0] = 1;
  in9[8] = 100;
  EXPECT_EQ(fft.process(in9, out9), 8u);
  EXPECT_EQ(out9[7], cf32(1, 0));
  EXPECT_EQ(out9[8], cf32(3, 3));
}

TEST(FftBlock, MisalignedOutputGivesTheSameBits) {
  const std::size_t n = 64;
  const auto x = random_samples(n, 5);
  FftBlock fft(n);
  AlignedSamples aligned(n);
  std::vector<cf32> shifted(n + 1);
  fft.process(x, aligned);
  fft.process(x, std::span<cf32>(shifted).subspan(1));
  for (std::size_t k = 0; k < n; ++k) EXPECT_EQ(aligned[k], shifted[k + 1]);
  // In place through overlapping slices.
  AlignedSamples inplace(x.begin(), x.end());
  fft.process(inplace, inplace);
  for (std::size_t k = 0; k < n; ++k) EXPECT_EQ(aligned[k], inplace[k]);
}

TEST(FftBlock, AlignedInputIsReadInPlaceWithTheSameBitsAndLeftUnchanged) {
  // An aligned input apart from the output is transformed without the copy
  // into the plan's buffer: the same bits as from a misaligned copy, the
  // input untouched, and outputs overlapping the input still correct.
  for (const std::size_t n : {16u, 64u, 256u}) {
    const auto x = random_samples(n, 9);
    FftBlock fft(n);
    std::vector<cf32> shifted(n + 1);
    std::copy(x.begin(), x.end(), shifted.begin() + 1);
    AlignedSamples ref(n), out(n);
    fft.process(std::span<const cf32>(shifted).subspan(1), ref);
    AlignedSamples in(x.begin(), x.end());
    fft.process(in, out);
    EXPECT_EQ(0, std::memcmp(ref.data(), out.data(), n * sizeof(cf32))) << n;
    EXPECT_EQ(0, std::memcmp(in.data(), x.data(), n * sizeof(cf32))) << n;
    // The output starting half a transform into the (aligned) input.
    AlignedSamples both(2 * n);
    std::copy(x.begin(), x.end(), both.begin());
    fft.process(std::span<const cf32>(both).first(n), std::span<cf32>(both).subspan(n / 2));
    EXPECT_EQ(0, std::memcmp(ref.data(), both.data() + n / 2, n * sizeof(cf32))) << n;
  }
}

TEST(FftBlock, CopiesAndMovesKeepWorking) {
  const auto x = random_samples(16, 9);
  FftBlock a(16);
  FftBlock b = a;
  FftBlock c = std::move(a);
  std::vector<cf32> yb(16), yc(16), ya(16, cf32(7, 7));
  b.process(x, yb);
  c.process(x, yc);
  EXPECT_EQ(yb, yc);
  // A moved-from block is empty rather than dangling.
  EXPECT_EQ(a.process(x, ya), 0u);
  EXPECT_EQ(ya, std::vector<cf32>(16, cf32(7, 7)));
}

TEST(FftBlock, ZeroLengthDoesNothing) {
  FftBlock fft(0);
  IfftBlock ifft(0);
  std::vector<cf32> v(4, cf32(2, 2));
  EXPECT_EQ(fft.process(v, v), 0u);
  EXPECT_EQ(ifft.process(v, v), 0u);
}

TEST(CyclicPrefix, AddCopiesTheTailInFront) {
  std::vector<cf32> t(8);
  for (int i = 0; i < 8; ++i) t[i] = float(i);
  std::vector<cf32> out(11);
  cyclic_prefix::add_cyclic_prefix(t, 8, 3, out);
  EXPECT_EQ(out, (std::vector<cf32>{5, 6, 7, 0, 1, 2, 3, 4, 5, 6, 7}));
  std::vector<cf32> short_out(10, cf32(9, 9));
  cyclic_prefix::add_cyclic_prefix(t, 8, 3, short_out);
  EXPECT_EQ(short_out, std::vector<cf32>(10, cf32(9, 9)));
  std::vector<cf32> big(17);
  EXPECT_THROW(cyclic_prefix::add_cyclic_prefix(t, 8, 9, big), core::Panic);
}

TEST(CyclicPrefix, RemoveSkipsThePrefixAndIgnoresShortSymbols) {
  std::vector<cf32> sym(11);
  for (int i = 0; i < 11; ++i) sym[i] = float(i);
  std::vector<cf32> out(8, cf32(-1, 0));
  cyclic_prefix::remove_cyclic_prefix(std::span<const cf32>(sym).first(10), 8, 3, out);
  EXPECT_EQ(out, std::vector<cf32>(8, cf32(-1, 0)));
  cyclic_prefix::remove_cyclic_prefix(sym, 8, 3, out);
  EXPECT_EQ(out, (std::vector<cf32>{3, 4, 5, 6, 7, 8, 9, 10}));
  // A prefix beyond the symbol's length reads nothing (and does not wrap).
  cyclic_prefix::remove_cyclic_prefix(sym, 8, std::size_t(-2), out);
  EXPECT_EQ(out[0], cf32(3, 0));
}

TEST(SymbolFft, BackoffMovesTheWindowIntoThePrefix) {
  const std::size_t n = 64, cp = 16;
  const auto sym = random_samples(n + cp, 3);
  SymbolFft sf(n, cp);
  sf.set_backoff(3);
  sf.process(sym);
  std::vector<cf32> window(sym.begin() + 13, sym.begin() + 13 + n), ref(n);
  FftBlock(n).process(window, ref);
  ASSERT_EQ(sf.spectrum().size(), n);
  for (std::size_t k = 0; k < n; ++k) EXPECT_EQ(sf.spectrum()[k], ref[k]);
  // 77 samples are enough with back-off 3; 76 are not.
  sf.process(std::span<const cf32>(sym).first(77));
  EXPECT_THROW(sf.process(std::span<const cf32>(sym).first(76)), core::Panic);
  EXPECT_THROW(sf.set_backoff(17), core::Panic);
}

TEST(SymbolWindow, RampValuesAndSymmetry) {
  SymbolWindow w(10, 4);
  const float expect[] = {0.0380602f, 0.3086583f, 0.6913417f, 0.9619398f};
  for (int j = 0; j < 4; ++j) EXPECT_NEAR(w.ramp()[j], expect[j], 1e-7);
  for (int j = 0; j < 4; ++j) EXPECT_NEAR(w.ramp()[j] + w.ramp()[3 - j], 1.0f, 1e-7);
  std::vector<cf32> in(10, cf32(2, -2)), out(10);
  ASSERT_EQ(w.process(in, out), 10u);
  for (int j = 0; j < 4; ++j) {
    EXPECT_EQ(out[j], cf32(2 * w.ramp()[j], -2 * w.ramp()[j]));
    EXPECT_EQ(out[9 - j], out[j]);
  }
  EXPECT_EQ(out[4], cf32(2, -2));
  EXPECT_EQ(out[5], cf32(2, -2));
  std::vector<cf32> short_in(9);
  EXPECT_EQ(w.process(short_in, out), 0u);
}

TEST(SymbolWindow, ZeroRollOffCopiesAndOverlapScalesTwice) {
  const auto x = random_samples(6, 1);
  std::vector<cf32> out(6);
  SymbolWindow(6, 0).process(x, out);
  EXPECT_EQ(out, x);
  SymbolWindow w(6, 4);  // the middle two samples lie under both ramps
  std::vector<cf32> ones(6, cf32(1, 0));
  w.process(ones, out);
  EXPECT_EQ(out[2].real(), w.ramp()[2] * w.ramp()[3]);
  EXPECT_THROW(SymbolWindow(6, 7), core::Panic);
}
