#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <vector>

#include "core/cpu.hpp"
#include "core/panic.hpp"
#include "demodulate/decider.hpp"
#include "demodulate/ofdm.hpp"
#include "dsp/constellation.hpp"

using namespace vatel;
using namespace vatel::demodulate::ofdm;

namespace {

// Brute-force max-log LLRs over every point of the constellation, mapped
// from its bits by the modulator's mapper.
std::vector<float> brute_llrs(ConstellationOrder c, cf32 cell) {
  const std::size_t k = multicarrier::bits_per_point(c);
  std::vector<float> m0(k, INFINITY), m1(k, INFINITY);
  for (unsigned v = 0; v < (1u << k); ++v) {
    std::uint8_t bits[8];
    for (std::size_t b = 0; b < k; ++b) bits[b] = (v >> (k - 1 - b)) & 1u;
    cf32 p;
    if (c == ConstellationOrder::Bpsk) p = dsp::bpsk_map(bits[0]);
    else if (c == ConstellationOrder::Qpsk) p = dsp::qpsk_map(bits[0], bits[1]);
    else p = dsp::qam_map(*dsp::qam_table(1u << k), bits);
    // Per axis, as the demapper measures.
    const std::size_t half = k / 2;
    for (std::size_t b = 0; b < k; ++b) {
      const bool re_axis = c == ConstellationOrder::Bpsk || b < (half ? half : 1);
      const float d = re_axis ? cell.real() - p.real() : cell.imag() - p.imag();
      auto& m = bits[b] ? m1 : m0;
      m[b] = std::min(m[b], d * d);
    }
  }
  std::vector<float> out(k);
  for (std::size_t b = 0; b < k; ++b) out[b] = m1[b] - m0[b];
  return out;
}

}  // namespace

TEST(OfdmSoftDemod, Anchors) {
  struct Case { ConstellationOrder c; cf32 cell; std::vector<float> want; float tol; };
  const Case cases[] = {
      {ConstellationOrder::Bpsk, {0.25f, -0.5f}, {1.0f}, 0.0f},
      {ConstellationOrder::Qpsk, {0.1f, -0.2f}, {0.5656854f, -1.1313708f}, 1e-6f},
      {ConstellationOrder::Qam64, {0.3f, 0.0f}, {-0.1852f, -0.2011f, 0.0053f}, 1e-4f},
  };
  for (const Case& c : cases) {
    OfdmSoftDemod d = OfdmSoftDemod::for_cells(c.c, 1);
    std::vector<float> out(d.num_llrs);
    ASSERT_EQ(d.process(std::span(&c.cell, 1), out), d.num_llrs);
    for (std::size_t b = 0; b < c.want.size(); ++b) EXPECT_NEAR(out[b], c.want[b], c.tol) << b;
  }
  // 16-QAM on (+1, -3)/sqrt(10), bits 1 1 0 0.
  const float s = 1.0f / std::sqrt(10.0f);
  OfdmSoftDemod d = OfdmSoftDemod::for_cells(ConstellationOrder::Qam16, 1);
  const cf32 cell{s, -3 * s};
  float out[4];
  d.process(std::span(&cell, 1), out);
  EXPECT_LT(out[0], 0);
  EXPECT_LT(out[1], 0);
  EXPECT_GT(out[2], 0);
  EXPECT_GT(out[3], 0);
}

TEST(OfdmSoftDemod, MatchesBruteForceMaxLog) {
  std::mt19937 gen(7);
  std::normal_distribution<float> n(0.0f, 0.8f);
  for (ConstellationOrder c : {ConstellationOrder::Bpsk, ConstellationOrder::Qpsk,
                               ConstellationOrder::Qam16, ConstellationOrder::Qam64,
                               ConstellationOrder::Qam256}) {
    std::vector<cf32> cells(200);
    for (cf32& x : cells) x = {n(gen), n(gen)};
    OfdmSoftDemod d = OfdmSoftDemod::for_cells(c, cells.size());
    std::vector<float> out(d.num_llrs);
    ASSERT_EQ(d.process(cells, out), d.num_llrs);
    const std::size_t k = multicarrier::bits_per_point(c);
    // BPSK and QPSK use their closed forms: 4 re, and twice the distance
    // difference per axis.
    const float scale = c == ConstellationOrder::Qpsk ? 2.0f : 1.0f;
    for (std::size_t i = 0; i < cells.size(); ++i) {
      const auto want = brute_llrs(c, cells[i]);
      for (std::size_t b = 0; b < k; ++b)
        EXPECT_NEAR(out[i * k + b], scale * want[b], 2e-5f * (1 + std::fabs(want[b])))
            << int(c) << " cell " << i << " bit " << b;
    }
    if (c == ConstellationOrder::Qam256) {
      const auto axis = qam_axis_soft_llr(cells[0].real());
      for (std::size_t b = 0; b < 4; ++b) EXPECT_EQ(axis[b], out[b]);
    }
  }
}

TEST(OfdmSoftDemod, ShortSlicesNanAndInconsistentFields) {
  OfdmSoftDemod d = OfdmSoftDemod::for_cells(ConstellationOrder::Qam256, 1);
  ASSERT_EQ(d.num_llrs, 8u);
  const cf32 cell{0.1f, 0.1f};
  std::vector<float> out(7, 42.0f);
  EXPECT_EQ(d.process(std::span(&cell, 1), out), 0u);
  EXPECT_EQ(out[0], 42.0f);
  std::vector<float> eight(8);
  EXPECT_EQ(d.process({}, eight), 0u);
  EXPECT_EQ((OfdmSoftDemod{0, 0, ConstellationOrder::Qpsk}.process({}, {})), 0u);

  const cf32 nan_cell{NAN, 0.5f};
  out.resize(8);
  d.process(std::span(&nan_cell, 1), out);
  for (std::size_t b = 0; b < 4; ++b) EXPECT_TRUE(std::isnan(out[b]));
  EXPECT_FALSE(std::isnan(out[4]));

  OfdmSoftDemod bad{1, 3, ConstellationOrder::Qpsk};
  std::vector<float> room(3);
  EXPECT_THROW(bad.process(std::span(&cell, 1), room), core::Panic);
  EXPECT_THROW((OfdmSoftDemod{0, 2, ConstellationOrder::Qpsk}.process({}, room)), core::Panic);
}

TEST(EvmDb, AbsentCasesAndTheOnePercentRule) {
  std::vector<cf32> cells(10, cf32{0.70710677f, 0.70710677f});
  std::vector<std::uint8_t> bits(21, 0);
  EXPECT_FALSE(evm_db(ConstellationOrder::Qpsk, cells, std::span(bits).first(19), 1));
  EXPECT_TRUE(evm_db(ConstellationOrder::Qpsk, cells, std::span(bits).first(20), 1));
  EXPECT_TRUE(evm_db(ConstellationOrder::Qpsk, cells, bits, 1));
  EXPECT_FALSE(evm_db(ConstellationOrder::Qpsk, cells, bits, 0));
  EXPECT_FALSE(evm_db(ConstellationOrder::Qpsk, {}, bits, 1));
  EXPECT_EQ(*evm_db(ConstellationOrder::Qpsk, cells, bits, 1), -INFINITY);

  // Cells off their references by 1 % of the reference power: -20 dB.
  for (ConstellationOrder c : {ConstellationOrder::Bpsk, ConstellationOrder::Qam16,
                               ConstellationOrder::Qam256}) {
    const std::size_t k = multicarrier::bits_per_point(c);
    std::mt19937 gen(11);
    std::vector<std::uint8_t> b(64 * k);
    for (auto& x : b) x = gen() & 1;
    std::vector<cf32> cell(64);
    for (std::size_t i = 0; i < 64; ++i) {
      cf32 r = c == ConstellationOrder::Bpsk ? dsp::bpsk_map(b[i])
                                             : dsp::qam_map(*dsp::qam_table(1u << k), &b[i * k]);
      // An error at right angles with |e|^2 = 0.01 |r|^2.
      cell[i] = r + cf32(-r.imag(), r.real()) * 0.1f;
    }
    EXPECT_NEAR(*evm_db(c, cell, b, 1), -20.0f, 1e-4f) << int(c);
  }
  const std::vector<cf32> nan_cells(1, cf32{NAN, 0});
  const auto r = evm_db(ConstellationOrder::Bpsk, nan_cells, std::vector<std::uint8_t>{0}, 1);
  ASSERT_TRUE(r);
  EXPECT_TRUE(std::isnan(*r));
}

TEST(DecideCells, InvertTheMappers) {
  std::mt19937 gen(5);
  for (ConstellationOrder c : {ConstellationOrder::Bpsk, ConstellationOrder::Qpsk,
                               ConstellationOrder::Qam16, ConstellationOrder::Qam64,
                               ConstellationOrder::Qam256}) {
    const std::size_t k = multicarrier::bits_per_point(c);
    std::vector<std::uint8_t> bits(50 * k), back(50 * k);
    for (auto& x : bits) x = gen() & 1;
    std::vector<cf32> cells(50);
    for (std::size_t i = 0; i < 50; ++i)
      cells[i] = c == ConstellationOrder::Bpsk   ? dsp::bpsk_map(bits[i])
                 : c == ConstellationOrder::Qpsk ? dsp::qpsk_map(bits[2 * i], bits[2 * i + 1])
                                                 : dsp::qam_map(*dsp::qam_table(1u << k), &bits[i * k]);
    decide_cells(c, cells, back.data());
    EXPECT_EQ(back, bits) << int(c);
  }
}

TEST(DecideCells, KernelBuildsGiveTheSameBits) {
  if (!core::cpu_has_fma()) GTEST_SKIP() << "no AVX2/FMA on this CPU";
  std::mt19937 gen(6);
  std::normal_distribution<float> n(0.0f, 0.7f);
  std::vector<cf32> cells(301);
  for (cf32& x : cells) x = {n(gen), n(gen)};
  cells[5] = {NAN, 0.1f};
  cells[6] = {0.0f, -0.0f};
  cells[7] = {INFINITY, -INFINITY};
  const auto* t = dsp::qam_table(64);
  cells[8] = {t->threshold[2], t->threshold[5]};  // on a threshold: the lower position
  for (ConstellationOrder c : {ConstellationOrder::Bpsk, ConstellationOrder::Qpsk,
                               ConstellationOrder::Qam16, ConstellationOrder::Qam64,
                               ConstellationOrder::Qam256}) {
    const std::size_t k = multicarrier::bits_per_point(c);
    std::vector<std::uint8_t> a(cells.size() * k), b(a.size()), one(a.size());
    decide_cells_kernel_portable(c, cells.data(), cells.size(), a.data());
    decide_cells_kernel_fma(c, cells.data(), cells.size(), b.data());
    EXPECT_EQ(a, b) << int(c);
    if (k >= 4) {  // the point-by-point decider
      for (std::size_t i = 0; i < cells.size(); ++i)
        demodulate::qam_decide(*dsp::qam_table(1u << k), cells[i], one.data() + i * k);
      EXPECT_EQ(a, one) << int(c);
    }
  }
}

TEST(DecideCells, VectorQamDeciderMatchesThePortableOneAtEveryLengthAndEdge) {
  if (!core::cpu_has_fma()) GTEST_SKIP() << "no AVX2/FMA on this CPU";
  // Every threshold of each table, its neighbours one ulp away, the signed
  // zeros, infinities and NaN, at every length over a few groups of eight
  // values (so each tail length occurs); the byte after the output stays
  // untouched.
  for (ConstellationOrder c :
       {ConstellationOrder::Qam16, ConstellationOrder::Qam64, ConstellationOrder::Qam256}) {
    const std::size_t k = multicarrier::bits_per_point(c);
    const auto* t = dsp::qam_table(1u << k);
    std::vector<float> v = {0.0f, -0.0f, INFINITY, -INFINITY, NAN, -NAN, 3.0f, -3.0f};
    for (unsigned i = 0; i + 1 < t->levels; ++i) {
      const float thr = t->threshold[i];
      v.insert(v.end(), {thr, std::nextafter(thr, -INFINITY), std::nextafter(thr, INFINITY),
                         t->level[i], -thr});
    }
    std::mt19937 gen(11);
    std::shuffle(v.begin(), v.end(), gen);
    std::vector<cf32> cells;
    for (std::size_t i = 0; i + 1 < v.size(); i += 2) cells.push_back({v[i], v[i + 1]});
    for (std::size_t n = 0; n <= std::min<std::size_t>(cells.size(), 21); ++n) {
      const std::size_t start = cells.size() - n;  // the later cells, each length its own mix
      std::vector<std::uint8_t> a(n * k + 1, 0xa5), b(n * k + 1, 0xa5);
      decide_cells_kernel_portable(c, cells.data() + start, n, a.data());
      decide_cells_kernel_fma(c, cells.data() + start, n, b.data());
      EXPECT_EQ(a, b) << int(c) << " n " << n;
      EXPECT_EQ(b.back(), 0xa5) << int(c) << " n " << n;
    }
  }
}
