#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cmath>
#include <complex>
#include <cstring>
#include <optional>
#include <random>
#include <vector>

#include "core/cpu.hpp"
#include "core/panic.hpp"
#include "multicarrier/equalizer.hpp"
#include "multicarrier/grid.hpp"
#include "multicarrier/unit_sequence.hpp"

using namespace vatel;
using namespace vatel::multicarrier;

namespace {

OfdmConfig config(bool pilots = true) {
  const std::int32_t idx[] = {-21, -7, 7, 21};
  const cf32 val[] = {1, 1, 1, -1};
  std::span<const std::int32_t> i = pilots ? std::span<const std::int32_t>(idx) : std::span<const std::int32_t>();
  std::span<const cf32> v = pilots ? std::span<const cf32>(val) : std::span<const cf32>();
  return OfdmConfig::create(64, 16, {}, i, v, 1e6f, 0.0f, 1.0f, ConstellationOrder::Qpsk, 4).value();
}

std::vector<std::size_t> range(std::size_t a, std::size_t b) {
  std::vector<std::size_t> r;
  for (std::size_t k = a; k <= b; ++k) r.push_back(k);
  return r;
}

std::vector<cf32> random_spectrum(unsigned seed, std::size_t n = 64) {
  std::mt19937 gen(seed);
  std::normal_distribution<float> d;
  std::vector<cf32> y(n);
  for (cf32& v : y) v = {d(gen), d(gen)};
  return y;
}

void expect_close(std::span<const cf32> a, std::span<const cf32> b, float tol, const char* what) {
  ASSERT_EQ(a.size(), b.size());
  for (std::size_t k = 0; k < a.size(); ++k) EXPECT_LE(std::abs(a[k] - b[k]), tol) << what << " bin " << k;
}

}  // namespace

TEST(PilotLayout, InterpolatesInBinOrderAcrossTheEmptyBand) {
  // Pilots at carriers +-7, +-21 of a 64-point plan, data bins in FFT order.
  const std::vector<PilotBin> pilots = {{7, 1}, {21, 1}, {43, 1}, {57, 1}};
  std::vector<std::size_t> targets;
  for (auto [a, b] : {std::pair{1, 6}, {8, 20}, {22, 27}, {37, 42}, {44, 56}, {58, 63}})
    for (std::size_t k : range(a, b)) targets.push_back(k);
  const PilotLayout layout = PilotLayout::build(pilots, targets);
  ASSERT_EQ(layout.entries.size(), targets.size());

  struct Want { std::size_t target, lower, upper; float t; };
  const Want wants[] = {
      {1, 7, 7, 0.0f},   {6, 7, 7, 0.0f},     // above DC: copy the lowest pilot
      {14, 7, 21, 0.5f}, {24, 21, 43, 3.0f / 22.0f}, {42, 21, 43, 21.0f / 22.0f},
      {50, 43, 57, 0.5f},
      {58, 57, 57, 0.0f}, {63, 57, 57, 0.0f},  // below DC: copy the highest
  };
  for (const Want& w : wants) {
    const auto it = std::find_if(layout.entries.begin(), layout.entries.end(),
                                 [&](const InterpEntry& e) { return e.target == w.target; });
    ASSERT_NE(it, layout.entries.end()) << w.target;
    EXPECT_EQ(*it, (InterpEntry{w.target, w.lower, w.upper, w.t})) << w.target;
  }
  for (std::size_t i = 1; i < layout.entries.size(); ++i)
    EXPECT_LT(layout.entries[i - 1].target, layout.entries[i].target);
}

TEST(PilotLayout, CarrierOrderInterpolatesThroughDc) {
  // The same 64-point plan: pilots at carriers -21, -7, 7, 21.
  const std::vector<PilotBin> pilots = {{7, 1}, {21, 1}, {43, 1}, {57, 1}};
  std::vector<std::size_t> targets;
  for (auto [a, b] : {std::pair{0, 6}, {8, 20}, {22, 27}, {37, 42}, {44, 56}, {58, 63}})
    for (std::size_t k : range(a, b)) targets.push_back(k);
  const PilotLayout layout = PilotLayout::build_in_carrier_order(pilots, targets, 64);
  ASSERT_EQ(layout.entries.size(), targets.size());
  EXPECT_EQ(layout.pilots[0].bin, 43u);  // carrier -21 first
  struct Want { std::size_t target, lower, upper; float t; };
  const Want wants[] = {
      {0, 57, 7, 0.5f},  {1, 57, 7, 8.0f / 14.0f}, {63, 57, 7, 6.0f / 14.0f},  // across DC
      {14, 7, 21, 0.5f}, {50, 43, 57, 0.5f},
      {24, 21, 21, 0.0f}, {42, 43, 43, 0.0f},  // the outer edges copy
  };
  for (const Want& w : wants) {
    const auto it = std::find_if(layout.entries.begin(), layout.entries.end(),
                                 [&](const InterpEntry& e) { return e.target == w.target; });
    ASSERT_NE(it, layout.entries.end()) << w.target;
    EXPECT_EQ(*it, (InterpEntry{w.target, w.lower, w.upper, w.t})) << w.target;
  }
  // A phase ramp over the carriers (what a window back-off makes) is
  // reproduced exactly at pilots and closely between them.
  OfdmEqualizer eq(config(), EqualizerMode::PilotInterp);
  eq.layouts.push_back({0, layout});
  eq.symbol_index = 0;
  std::vector<cf32> y(64, cf32{}), out(64);
  auto ramp = [](std::size_t bin) {
    const double c = bin < 32 ? double(bin) : double(bin) - 64.0;
    return std::polar(1.0f, static_cast<float>(0.05 * c));
  };
  for (std::size_t k : targets) y[k] = ramp(k);
  for (const PilotBin& p : pilots) y[p.bin] = ramp(p.bin);
  eq.process(y, out);
  for (std::size_t k : {0ul, 1ul, 63ul, 14ul}) EXPECT_LT(std::abs(out[k] - cf32{1, 0}), 0.07f) << k;
  // In bin order the bins next to DC copy one pilot and keep the ramp's phase.
  eq.layouts[0].second = PilotLayout::build(pilots, targets);
  eq.process(y, out);
  EXPECT_GT(std::abs(out[1] - cf32{1, 0}), 0.25f);
}

TEST(PilotLayout, EdgeCasesOfThePilotList) {
  const std::vector<std::size_t> targets = {30, 2, 14, 21, 40};
  {  // one pilot: every target copies it
    const PilotLayout l = PilotLayout::build(std::vector<PilotBin>{{10, 1}}, targets);
    ASSERT_EQ(l.entries.size(), 5u);
    for (const InterpEntry& e : l.entries) EXPECT_EQ((std::pair{e.lower, e.upper}), (std::pair{10ul, 10ul}));
    EXPECT_EQ(l.entries.front().target, 2u);  // targets sorted
  }
  {  // no pilots: no entries
    EXPECT_TRUE(PilotLayout::build({}, targets).entries.empty());
  }
  {  // out of order, two on one bin: sorted stably; a target on that bin copies the later one
    const std::vector<PilotBin> p = {{21, {1, 0}}, {7, {2, 0}}, {21, {3, 0}}};
    const PilotLayout l = PilotLayout::build(p, targets);
    ASSERT_EQ(l.pilots.size(), 3u);
    EXPECT_EQ(l.pilots[0].bin, 7u);
    EXPECT_EQ(l.pilots[1].value, cf32(1, 0));
    EXPECT_EQ(l.pilots[2].value, cf32(3, 0));
    const InterpEntry want[] = {{2, 7, 7, 0}, {14, 7, 21, 0.5f}, {21, 21, 21, 0}, {30, 21, 21, 0},
                                {40, 21, 21, 0}};
    for (std::size_t i = 0; i < 5; ++i) EXPECT_EQ(l.entries[i], want[i]) << i;
  }
}

TEST(OfdmEqualizer, ConstructionAndShortSlices) {
  const OfdmConfig cfg = config();
  OfdmEqualizer eq(cfg, EqualizerMode::PilotInterp);
  const CarrierGrid grid = CarrierGrid::from_plan(cfg.plan);
  const PilotLayout want = PilotLayout::build(grid.pilots, grid.data_bins);
  EXPECT_EQ(eq.default_layout.entries, want.entries);
  EXPECT_EQ(eq.n_fft, 64u);
  EXPECT_FALSE(eq.symbol_index);
  EXPECT_TRUE(eq.layouts.empty());
  for (std::size_t k = 0; k < 64; ++k) EXPECT_EQ(eq.channel[k], cf32(1, 0));

  std::vector<cf32> y = random_spectrum(1), out(64, cf32{9, 9});
  EXPECT_EQ(eq.process(std::span(y).first(63), out), 0u);
  EXPECT_EQ(eq.process(y, std::span(out).first(63)), 0u);
  EXPECT_EQ(out[0], cf32(9, 9));
}

TEST(OfdmEqualizer, TrainingWeightsInvertTheTrainingRatio) {
  const OfdmConfig cfg = config();
  OfdmEqualizer eq(cfg, EqualizerMode::TrainingSymbol);
  const std::vector<cf32> x = pseudo_random_unit_sequence(64, kTrainingSeed);
  std::vector<cf32> y = random_spectrum(2), out(64);

  // Before any estimate the spectrum passes unchanged.
  ASSERT_EQ(eq.process(y, out), 64u);
  for (std::size_t k = 0; k < 64; ++k) EXPECT_EQ(out[k], y[k]);

  std::vector<cf32> twice(64);
  for (std::size_t k = 0; k < 64; ++k) twice[k] = x[k] * 2.0f;
  eq.estimate_from_training_symbol(std::span(twice).first(63));  // short: ignored
  EXPECT_EQ(eq.weights[5], cf32(1, 0));
  eq.estimate_from_training_symbol(twice);
  for (std::size_t k = 0; k < 64; ++k) EXPECT_EQ(eq.weights[k], cf32(0.5f, 0)) << k;
  eq.process(twice, out);
  expect_close(out, x, 1e-6f, "2X");

  // The 1e-3 magnitude floor: below it the weight is 0.
  std::vector<cf32> faint(64);
  for (std::size_t k = 0; k < 64; ++k) faint[k] = x[k] * (k == 3 ? 0.0009f : k == 4 ? 0.0011f : 1.0f);
  eq.estimate_from_training_symbol(faint);
  EXPECT_EQ(eq.weights[3], cf32(0, 0));
  EXPECT_NEAR(std::abs(eq.weights[4]), 1.0f / 0.0011f, 0.5f);

  // Pilot mode keeps no training estimate.
  OfdmEqualizer pilot(cfg, EqualizerMode::PilotInterp);
  pilot.estimate_from_training_symbol(twice);
  EXPECT_EQ(pilot.weights[5], cf32(1, 0));
}

TEST(OfdmEqualizer, PilotModeRemovesAFlatGain) {
  const OfdmConfig cfg = config();
  OfdmEqualizer eq(cfg, EqualizerMode::PilotInterp);
  const CarrierGrid grid = CarrierGrid::from_plan(cfg.plan);
  const cf32 g{0.6f, -1.3f};
  std::vector<cf32> sent = random_spectrum(3), y(64), out(64);
  for (const PilotBin& p : grid.pilots) sent[p.bin] = p.value;
  for (std::size_t k = 0; k < 64; ++k) y[k] = sent[k] * g;
  ASSERT_EQ(eq.process(y, out), 64u);
  for (std::size_t k = 0; k < 64; ++k) {
    if (grid.roles[k] == CarrierRole::Inactive)
      EXPECT_EQ(out[k], y[k]) << k;  // H of an unwritten bin stays 1
    else
      EXPECT_LE(std::abs(out[k] - sent[k]), 1e-5f) << k;
  }
}

TEST(OfdmEqualizer, PilotModeInterpolatesALinearChannel) {
  // A channel linear in the bin index between pilots is recovered exactly
  // on the bins that lie between two pilots.
  const OfdmConfig cfg = config();
  OfdmEqualizer eq(cfg, EqualizerMode::PilotInterp);
  const CarrierGrid grid = CarrierGrid::from_plan(cfg.plan);
  std::vector<cf32> h(64), y(64), out(64);
  for (std::size_t k = 0; k < 64; ++k) h[k] = {1.0f + 0.01f * float(k), -0.02f * float(k)};
  std::vector<cf32> sent = random_spectrum(4);
  for (const PilotBin& p : grid.pilots) sent[p.bin] = p.value;
  for (std::size_t k = 0; k < 64; ++k) y[k] = sent[k] * h[k];
  eq.process(y, out);
  for (std::size_t k : {8ul, 14ul, 20ul, 22ul, 27ul, 37ul, 40ul, 44ul, 56ul})
    EXPECT_LE(std::abs(out[k] - sent[k]), 2e-5f) << k;
  // Bins 1..6 take H[7] unchanged.
  EXPECT_EQ(eq.channel[3], eq.channel[7]);
}

TEST(OfdmEqualizer, NoPilotsOrAMissingLayoutKeepTheEarlierEstimate) {
  std::vector<cf32> y = random_spectrum(5), out(64);
  {
    OfdmEqualizer eq(config(false), EqualizerMode::PilotInterp);
    eq.process(y, out);
    for (std::size_t k = 0; k < 64; ++k) EXPECT_EQ(out[k], y[k]);
  }
  const OfdmConfig cfg = config();
  OfdmEqualizer eq(cfg, EqualizerMode::PilotInterp);
  const CarrierGrid grid = CarrierGrid::from_plan(cfg.plan);
  std::vector<cf32> y2(64);
  for (std::size_t k = 0; k < 64; ++k) y2[k] = y[k] * 2.0f;
  for (const PilotBin& p : grid.pilots) y2[p.bin] = p.value * 2.0f;
  eq.process(y2, out);  // H = 2 at pilots and targets
  const std::vector<cf32> h = eq.channel;

  // A layout per symbol: key 4 measures on bin 7 only.
  eq.layouts.push_back({4, PilotLayout::build(std::vector<PilotBin>{{7, 1}}, grid.data_bins)});
  eq.symbol_index = 9;  // no such key: nothing is re-estimated
  std::vector<cf32> y3(64, cf32{3, 0});
  eq.process(y3, out);
  EXPECT_EQ(eq.channel, h);
  EXPECT_LE(std::abs(out[10] - cf32(1.5f, 0)), 1e-6f);
  eq.symbol_index = 4;
  eq.process(y3, out);
  for (std::size_t k : grid.data_bins) EXPECT_EQ(eq.channel[k], cf32(3, 0)) << k;
  EXPECT_EQ(eq.channel[grid.pilots[0].bin], h[grid.pilots[0].bin]);  // bin 57 not in that layout

  // A layout whose bins leave the spectrum stops the call.
  eq.layouts[0].second.pilots.push_back({64, 1});
  EXPECT_THROW(eq.process(y3, out), core::Panic);
}

TEST(OfdmEqualizer, KernelBuildsGiveTheSameBits) {
  if (!core::cpu_has_fma()) GTEST_SKIP() << "no AVX2/FMA on this CPU";
  // Ordinary values, values near and below the floor, zeros, NaN and inf.
  std::vector<cf32> y = random_spectrum(8, 203), h = random_spectrum(9, 203), a(203), b(203);
  h[3] = {0.0009f, 0.0f};
  h[4] = {0.0f, 0.0f};
  h[5] = {NAN, 1.0f};
  h[6] = {INFINITY, 0.0f};
  y[7] = {NAN, 0.0f};
  h[8] = {0.000707f, 0.000708f};
  const auto f = [](std::vector<cf32>& v) { return reinterpret_cast<float*>(v.data()); };
  apply_weights_kernel_portable(f(y), f(h), f(a), 203);
  apply_weights_kernel_avx2(f(y), f(h), f(b), 203);
  EXPECT_EQ(0, std::memcmp(a.data(), b.data(), 203 * sizeof(cf32)));
  apply_channel_kernel_portable(f(y), f(h), f(a), 203);
  apply_channel_kernel_avx2(f(y), f(h), f(b), 203);
  EXPECT_EQ(0, std::memcmp(a.data(), b.data(), 203 * sizeof(cf32)));
  EXPECT_EQ(a[3], cf32(0, 0));
  EXPECT_EQ(a[4], cf32(0, 0));
  EXPECT_EQ(a[5], cf32(0, 0));
}


namespace {

// Same bits, or NaN on both sides (an infinite channel gives NaN, whose
// payload is not part of the result).
void expect_same_bits(std::span<const cf32> a, std::span<const cf32> b, const char* what) {
  ASSERT_EQ(a.size(), b.size());
  const auto* x = reinterpret_cast<const float*>(a.data());
  const auto* y = reinterpret_cast<const float*>(b.data());
  for (std::size_t k = 0; k < 2 * a.size(); ++k) {
    if (std::isnan(x[k]) && std::isnan(y[k])) continue;
    EXPECT_EQ(std::bit_cast<std::uint32_t>(x[k]), std::bit_cast<std::uint32_t>(y[k]))
        << what << " bin " << k / 2 << (k % 2 ? " im" : " re");
  }
}

// A layout over n bins, in bin or in carrier order, from unsorted pilots
// (repeated bins among them) and a random subset of targets, which may sit
// on pilots, repeat, or lie below the first pilot, above the last, or
// between two.
PilotLayout random_layout(std::mt19937& gen, std::size_t n, bool carrier_order = false) {
  std::uniform_int_distribution<std::size_t> bin(0, n - 1);
  std::vector<PilotBin> pilots(std::uniform_int_distribution<std::size_t>(0, 12)(gen));
  for (PilotBin& p : pilots) p = {bin(gen), {1.0f, 0.0f}};
  if (pilots.size() > 2 && gen() % 2) pilots[1].bin = pilots[0].bin;
  std::vector<std::size_t> targets;
  const unsigned keep = 1 + gen() % 8;  // of 8 bins
  for (std::size_t k = 0; k < n; ++k)
    if (gen() % 8 < keep) targets.push_back(k);
  for (std::size_t i = 0; i < 3 && !targets.empty(); ++i) targets.push_back(targets[gen() % targets.size()]);
  std::shuffle(targets.begin(), targets.end(), gen);
  return carrier_order ? PilotLayout::build_in_carrier_order(pilots, targets, n)
                       : PilotLayout::build(pilots, targets);
}

}  // namespace

TEST(PilotLayout, RunsInterpolateAsTheEntriesDo) {
  std::mt19937 gen(11);
  std::size_t merged = 0;
  for (int trial = 0; trial < 400; ++trial) {
    const std::size_t n = 1 + gen() % 300;
    const PilotLayout layout = random_layout(gen, n, trial % 2 == 1);
    ASSERT_TRUE(layout.runs_cover_entries());
    merged += layout.entries.size() - layout.runs.size();
    std::vector<cf32> a = random_spectrum(gen(), n);
    if (trial % 10 == 0 && n > 2) a[gen() % n] = {INFINITY, 1.0f};
    std::vector<cf32> b = a;
    interpolate_channel(layout, a.data(), n);
    interpolate_channel_by_entry(layout, 0, b.data(), n);
    expect_same_bits(a, b, "runs against entries");
  }
  EXPECT_GT(merged, 10000u);  // the runs did group entries

  // Entries reaching past the estimate: both stop at the same entry, having
  // applied the same ones before it.
  const std::vector<PilotBin> pilots = {{3, 1}, {20, 1}, {40, 1}};
  const PilotLayout layout = PilotLayout::build(pilots, range(0, 50));
  std::vector<cf32> a = random_spectrum(12, 45), b = a;
  EXPECT_THROW(interpolate_channel(layout, a.data(), 45), core::Panic);
  EXPECT_THROW(interpolate_channel_by_entry(layout, 0, b.data(), 45), core::Panic);
  expect_same_bits(a, b, "stopped");
  EXPECT_NE(a[44], random_spectrum(12, 45)[44]);  // written before the stop
}

TEST(OfdmEqualizer, LayoutWithoutRunsGivesTheSameBits) {
  // A layout put together field by field has no runs and goes entry by
  // entry; one from build() goes by runs.  The estimate and the output agree.
  std::mt19937 gen(13);
  const OfdmConfig cfg = config();
  OfdmEqualizer fast(cfg, EqualizerMode::PilotInterp), slow(cfg, EqualizerMode::PilotInterp);
  for (int trial = 0; trial < 50; ++trial) {
    PilotLayout layout = random_layout(gen, 64, trial % 2 == 1);
    PilotLayout bare{layout.pilots, layout.entries, {}, {}};
    ASSERT_EQ(bare.runs_cover_entries(), layout.entries.empty());
    fast.layouts = {{1, std::move(layout)}};
    slow.layouts = {{1, std::move(bare)}};
    fast.symbol_index = slow.symbol_index = trial % 3 == 2 ? std::nullopt : std::optional<std::size_t>(1);
    const std::vector<cf32> y = random_spectrum(gen(), 64);
    std::vector<cf32> a(64), b(64);
    fast.process(y, a);
    slow.process(y, b);
    expect_same_bits(fast.channel, slow.channel, "estimate");
    expect_same_bits(a, b, "output");
  }
}

TEST(OfdmEqualizer, RunKernelBuildsGiveTheSameBits) {
  if (!core::cpu_has_fma()) GTEST_SKIP() << "no AVX2/FMA on this CPU";
  // Runs of every length from 1 to 20, so every remainder of the groups.
  std::mt19937 gen(14);
  std::vector<PilotBin> pilots;
  for (std::size_t b = 0, gap = 1; b < 240; b += ++gap % 21 + 1) pilots.push_back({b, {1, 0}});
  const PilotLayout layout = PilotLayout::build(pilots, range(0, 255));
  std::vector<cf32> a = random_spectrum(15, 256);
  a[pilots[4].bin] = {INFINITY, 0.0f};
  std::vector<cf32> b = a;
  const auto f = [](std::vector<cf32>& v) { return reinterpret_cast<float*>(v.data()); };
  interpolate_runs_kernel_portable(f(a), layout.runs.data(), layout.runs.size(), layout.fractions.data());
  interpolate_runs_kernel_avx2(f(b), layout.runs.data(), layout.runs.size(), layout.fractions.data());
  expect_same_bits(a, b, "avx2 against portable");
}

TEST(OfdmEqualizer, CellsAreTheBinsOfProcess) {
  // The data bins in carrier order (ranges split at the pilots and at DC),
  // then ranges of every length from 1 to 9 in any order: the cells are the
  // bins process() writes, and the estimate is the same after each symbol.
  const OfdmConfig cfg = config();
  const CarrierGrid grid = CarrierGrid::from_plan(cfg.plan);
  std::vector<std::size_t> odd;
  for (std::size_t len = 1, b = 60; len <= 9; b = (b + 17 * len) % 55, ++len)
    for (std::size_t k = 0; k < len; ++k) odd.push_back(b + k);
  for (const auto& bins : {grid.data_bins, odd}) {
    const CellRanges ranges(bins);
    ASSERT_LT(ranges.ranges().size(), bins.size());
    ASSERT_EQ(ranges.cells(), bins.size());
    for (EqualizerMode mode : {EqualizerMode::PilotInterp, EqualizerMode::TrainingSymbol}) {
      OfdmEqualizer whole(cfg, mode), cells(cfg, mode);
      const std::vector<cf32> training = random_spectrum(20);
      whole.estimate_from_training_symbol(training);
      cells.estimate_from_training_symbol(training);
      for (unsigned s = 0; s < 4; ++s) {
        std::vector<cf32> y = random_spectrum(21 + s);
        if (s == 2) y[grid.pilots[1].bin] = {1e-5f, 0.0f};  // a channel under the floor
        std::vector<cf32> out(64), got(bins.size() + 2, cf32{7, 7}), want(bins.size());
        whole.process(y, out);
        for (std::size_t i = 0; i < bins.size(); ++i) want[i] = out[bins[i]];
        cells.process_cells(y, ranges, got);
        expect_same_bits(std::span(got).first(bins.size()), want, "cells");
        EXPECT_EQ(got.back(), cf32(7, 7));
        expect_same_bits(cells.channel, whole.channel, "estimate");
      }
      std::vector<cf32> few(bins.size() - 1);
      EXPECT_THROW(cells.process_cells(random_spectrum(30), ranges, few), core::Panic);
      std::vector<std::size_t> past = bins;
      past.back() = 64;  // one bin beyond the spectrum
      std::vector<cf32> room(bins.size());
      EXPECT_THROW(cells.process_cells(random_spectrum(30), CellRanges(past), room), core::Panic);
    }
  }
}

TEST(OfdmEqualizer, RangeKernelBuildsGiveTheSameBits) {
  if (!core::cpu_has_fma()) GTEST_SKIP() << "no AVX2/FMA on this CPU";
  // Ranges of 1 to 20 bins over ordinary values, values near and below the
  // floor, zeros, NaN and inf.
  std::vector<cf32> y = random_spectrum(16, 256), h = random_spectrum(17, 256);
  h[3] = {0.0009f, 0.0f};
  h[4] = {0.0f, 0.0f};
  h[5] = {NAN, 1.0f};
  h[6] = {INFINITY, 0.0f};
  y[7] = {NAN, 0.0f};
  h[9] = {0.000707f, 0.000708f};
  std::vector<BinRange> ranges;
  for (std::size_t len = 1, b = 0, c = 0; len <= 20; b += len + 1, c += len, ++len)
    ranges.push_back({b, len, c});
  std::vector<cf32> a(210), b(210);
  const auto f = [](auto& v) { return reinterpret_cast<float*>(v.data()); };
  apply_channel_ranges_kernel_portable(f(y), f(h), ranges.data(), ranges.size(), f(a));
  apply_channel_ranges_kernel_avx2(f(y), f(h), ranges.data(), ranges.size(), f(b));
  EXPECT_EQ(0, std::memcmp(a.data(), b.data(), a.size() * sizeof(cf32)));
  EXPECT_EQ(a[2], cf32(0, 0));  // bin 3, under the floor
}
