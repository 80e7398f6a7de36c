#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstring>
#include <random>
#include <vector>

#include "demodulate/decider.hpp"
#include "dsp/rotator.hpp"
#include "modulate/bpsk.hpp"
#include "dsp/constellation.hpp"

using vatel::cf32;
using namespace vatel;

namespace {

bool same_bits(cf32 a, cf32 b) {
  return std::bit_cast<std::uint32_t>(a.real()) == std::bit_cast<std::uint32_t>(b.real()) &&
         std::bit_cast<std::uint32_t>(a.imag()) == std::bit_cast<std::uint32_t>(b.imag());
}

}  // namespace

TEST(Rotator, ZeroFrequencyStaysAtOne) {
  dsp::Rotator r(0.0f, 48000.0f);
  for (int i = 0; i < 3000; ++i) {
    const cf32 p = r.next();
    ASSERT_EQ(p.real(), 1.0f);
    ASSERT_EQ(p.imag(), 0.0f);
  }
}

TEST(Rotator, QuarterRateTurnsByQuarters) {
  dsp::Rotator r(1.0f, 4.0f);
  const cf32 expect[] = {{0, 1}, {-1, 0}, {0, -1}, {1, 0}};
  for (const cf32& e : expect) {
    const cf32 p = r.next();
    EXPECT_NEAR(p.real(), e.real(), 1e-6);
    EXPECT_NEAR(p.imag(), e.imag(), 1e-6);
  }
}

TEST(Rotator, RunGivesTheSamePhasorsAsNext) {
  dsp::Rotator a(1234.5f, 48000.0f), b = a;
  std::vector<cf32> from_run(5000);
  // Uneven chunks cross the renormalisation points at different offsets.
  std::size_t done = 0;
  for (std::size_t chunk : {1u, 1022u, 1u, 1u, 2047u, 1928u}) {
    a.run(chunk, [&](std::size_t i, cf32 p) { from_run[done + i] = p; });
    done += chunk;
  }
  ASSERT_EQ(done, from_run.size());
  for (std::size_t i = 0; i < from_run.size(); ++i) ASSERT_TRUE(same_bits(from_run[i], b.next())) << i;
  EXPECT_EQ(a.counter, b.counter);
}

TEST(Rotator, MagnitudeIsRestoredAtEachRenormalisation) {
  dsp::Rotator r(77.0f, 1000.0f);
  for (int i = 1; i <= 4096; ++i) {
    const cf32 p = r.next();
    if (i % 1024 == 0) EXPECT_NEAR(std::abs(std::complex<double>(p)), 1.0, 2e-7) << i;
  }
}

TEST(Rotator, FmaAndPortableKernelsAgreeBitForBit) {
  std::mt19937 gen(7);
  std::vector<std::uint8_t> bits(10000);
  for (auto& b : bits) b = static_cast<std::uint8_t>(gen());
  for (float rf : {0.0f, 1.0f, 1234.5f, -7000.25f}) {
    dsp::Rotator a(rf, 48000.0f), b(rf, 48000.0f), c(rf, 48000.0f), d(rf, 48000.0f);
    std::vector<cf32> p(bits.size()), f(bits.size()), qp(bits.size() / 2), qf(bits.size() / 2);
    modulate::bpsk_mod_kernel_portable(a, bits.data(), p.data(), bits.size(), 0.7f);
    modulate::bpsk_mod_kernel_fma(b, bits.data(), f.data(), bits.size(), 0.7f);
    modulate::qpsk_mod_kernel_portable(c, bits.data(), qp.data(), qp.size(), 1.3f);
    modulate::qpsk_mod_kernel_fma(d, bits.data(), qf.data(), qf.size(), 1.3f);
    ASSERT_EQ(std::memcmp(p.data(), f.data(), p.size() * sizeof(cf32)), 0) << rf;
    ASSERT_EQ(std::memcmp(qp.data(), qf.data(), qp.size() * sizeof(cf32)), 0) << rf;
  }
}

TEST(Qam, ScalesAndLevelAnchors) {
  const auto* q16 = dsp::qam_table(16);
  const auto* q64 = dsp::qam_table(64);
  const auto* q256 = dsp::qam_table(256);
  ASSERT_NE(q16, nullptr);
  EXPECT_EQ(q16->scale, 0.31622776f);
  EXPECT_EQ(q64->scale, 0.15430336f);
  EXPECT_EQ(q256->scale, 0.0766965f);
  EXPECT_EQ(q16->level[0], -0.94868326f);
  EXPECT_EQ(q16->level[3], 0.31622776f);
  const int l64[] = {-7, -5, -1, -3, 7, 5, 1, 3};
  for (int b = 0; b < 8; ++b) EXPECT_EQ(q64->level[b], static_cast<float>(l64[b]) * q64->scale);
  const int l256[] = {-15, -13, -9, -11, -1, -3, -7, -5, 15, 13, 9, 11, 1, 3, 7, 5};
  for (int b = 0; b < 16; ++b) EXPECT_EQ(q256->level[b], static_cast<float>(l256[b]) * q256->scale);
  EXPECT_EQ(dsp::qam_table(32), nullptr);
}

TEST(Qam, MapperAndDeciderAnchors) {
  const auto& t = *dsp::qam_table(16);
  const std::uint8_t bits[] = {1, 0, 0, 1};
  const cf32 p = dsp::qam_map(t, bits);
  EXPECT_EQ(p.real(), 0.94868326f);
  EXPECT_EQ(p.imag(), -0.31622776f);
  std::uint8_t out[8];  // room for any order the runtime dispatch could pick
  demodulate::qam_decide(t, p, out);
  EXPECT_EQ(std::vector<int>(out, out + 4), (std::vector<int>{1, 0, 0, 1}));
  // Exactly on the middle threshold: the lower position, which maps to -s.
  demodulate::qam_decide(t, cf32{0.0f, 0.0f}, out);
  EXPECT_EQ(std::vector<int>(out, out + 2), (std::vector<int>{0, 1}));
  demodulate::qam_decide(t, cf32{NAN, INFINITY}, out);
  EXPECT_EQ(std::vector<int>(out, out + 4), (std::vector<int>{0, 0, 1, 0}));
}

TEST(Qam, DeciderInvertsMapperForEveryPoint) {
  for (unsigned order : {16u, 64u, 256u}) {
    const auto& t = *dsp::qam_table(order);
    const unsigned nb = 2 * t.bits_per_axis;
    for (unsigned v = 0; v < order; ++v) {
      std::uint8_t in[8], out[8];
      for (unsigned k = 0; k < nb; ++k) in[k] = static_cast<std::uint8_t>(((v >> (nb - 1 - k)) & 1u) | 2u);
      demodulate::qam_decide(t, dsp::qam_map(t, in), out);
      for (unsigned k = 0; k < nb; ++k) ASSERT_EQ(out[k], in[k] & 1u) << order << " " << v;
    }
  }
}

TEST(Psk, MappersAndDeciders) {
  EXPECT_EQ(dsp::bpsk_map(2), cf32(1.0f, 0.0f));
  EXPECT_EQ(dsp::bpsk_map(3), cf32(-1.0f, 0.0f));
  EXPECT_EQ(dsp::qpsk_map(0, 1), cf32(0.70710677f, -0.70710677f));
  EXPECT_EQ(demodulate::bpsk_decide({-0.0f, 0.0f}), 0);
  EXPECT_EQ(demodulate::bpsk_decide({NAN, 0.0f}), 0);
  std::uint8_t two[2];
  demodulate::qpsk_decide({-1e-30f, 1.0f}, two);
  EXPECT_EQ(two[0], 1);
  EXPECT_EQ(two[1], 0);
}
