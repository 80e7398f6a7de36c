#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <set>
#include <vector>

#include "multicarrier/config.hpp"
#include "sync/ofdm_sync.hpp"
#include "sync/preamble_screen.hpp"

namespace vatel::sync {
namespace {

// Noise with preambles of several strengths and offsets in it.
std::vector<cf32> test_signal(std::mt19937& rng) {
  const std::int32_t pilots[] = {-21, -7, 7, 21};
  const cf32 values[] = {{1, 0}, {1, 0}, {1, 0}, {-1, 0}};
  const auto cfg = multicarrier::OfdmConfig::create(64, 16, {}, pilots, values, 1e6f, 0.0f, 1.0f,
                                                    multicarrier::ConstellationOrder::Qpsk, 5)
                       .value();
  ofdm_sync::OfdmPreambleParams params;
  params.num_repeats = 4;
  params.repeat_len = 16;
  const auto pre = waveform::ofdm_preamble::generate_ofdm_preamble(params, cfg);
  std::normal_distribution<float> g(0.0f, 0.02f);
  std::vector<cf32> x(20000);
  for (cf32& v : x) v = {g(rng), g(rng)};
  for (std::size_t at : {500u, 3000u, 4100u, 9000u, 15001u}) {
    const float amplitude = 0.2f + static_cast<float>(at % 7);
    for (std::size_t i = 0; i < pre.size(); ++i)
      x[at + i] += amplitude * pre[i] * std::polar(1.0f, 0.01f * static_cast<float>(i + at));
  }
  return x;
}

// Every start the exact search keeps (score >= 0.5 with repetitions of
// comparable energy) is among the screen's hits.
TEST(PreambleScreen, HitsEveryStartTheExactSearchKeeps) {
  std::mt19937 rng(4);
  const auto x = test_signal(rng);
  ofdm_sync::OfdmPreambleParams params;
  params.num_repeats = 4;
  params.repeat_len = 16;
  std::set<std::size_t> kept;
  for (const auto& c : ofdm_sync::ofdm_sync(x, 1e6f, params, 0, x.size())) {
    double e0 = 0, rest = 0;
    for (std::size_t i = 0; i < 16; ++i) e0 += std::norm(x[c.start_sample + i]);
    for (std::size_t i = 16; i < 64; ++i) rest += std::norm(x[c.start_sample + i]);
    if (c.score >= 0.5f && e0 <= 2.9 * rest / 3) kept.insert(c.start_sample);
  }
  ASSERT_GE(kept.size(), 5u);
  PreambleScreen screen(4, 16);
  std::set<std::size_t> hits;
  for (std::size_t from = 0;;) {
    const auto h = screen.first(x, from, x.size(), 0.5f);
    if (!h) break;
    hits.insert(*h);
    from = *h + 1;
  }
  for (std::size_t k : kept) EXPECT_TRUE(hits.count(k)) << "start " << k;
  // Hardly more: the margin is a thousandth of the threshold.
  EXPECT_LT(hits.size(), kept.size() + kept.size() / 10);
}

// A tone (DC among them) passes the score wherever it stands above the
// noise; only a window of several lines is a preamble, also with the tone.
TEST(PreambleScreen, RefusesAToneAndKeepsPreamblesUnderIt) {
  std::mt19937 rng(5);
  const auto clean = test_signal(rng);  // noise of power 8e-4 and five preambles
  std::normal_distribution<float> g(0.0f, 0.02f);
  PreambleScreen screen(4, 16);
  // Carriers of a 64-point FFT: off the grid, on the preamble's own line
  // spacing of 4, and zero.
  for (float carriers : {10.37f, -23.81f, 4.0f, 16.0f, 0.0f}) {
    const float w = 2.0f * 3.14159265f * carriers / 64.0f;
    std::vector<cf32> tone_only(20000), with_preambles = clean;
    for (std::size_t i = 0; i < tone_only.size(); ++i) {
      // 10 dB above the noise.
      const cf32 t = std::polar(0.0894f, w * static_cast<float>(i) + 0.3f);
      tone_only[i] = t + cf32{g(rng), g(rng)};
      with_preambles[i] += t;
    }
    EXPECT_FALSE(screen.first(tone_only, 0, tone_only.size(), 0.5f)) << carriers;
    // The preamble at 15001 lies 6 dB under the tone: a line it is.
    for (std::size_t at : {500u, 3000u, 4100u, 9000u}) {
      const auto h = screen.first(with_preambles, at - 200, at + 1, 0.5f);
      ASSERT_TRUE(h) << carriers << " at " << at;
      EXPECT_GE(*h, at - 16) << carriers;
    }
  }
}

// A screen scans a block lines first after a block that ended under a tone;
// the order must not change what it finds.  Hits enumerated by a screen that
// has just scanned a tone equal those of fresh screens, which start score
// first, over a tone that comes and goes with preambles under and beside it.
TEST(PreambleScreen, ScanOrderDoesNotChangeTheHits) {
  std::mt19937 rng(6);
  auto x = test_signal(rng);
  const float w = 2.0f * 3.14159265f * 10.37f / 64.0f;
  for (std::size_t i = 0; i < x.size(); ++i)
    if (i < 3500 || (i > 8000 && i < 12000) || i > 14000)
      x[i] += std::polar(0.0894f, w * static_cast<float>(i));
  const auto hits = [&](PreambleScreen* reused) {
    std::vector<std::size_t> out;
    for (std::size_t from = 0;;) {
      PreambleScreen fresh(4, 16);
      PreambleScreen& screen = reused ? *reused : fresh;
      const auto h = screen.first(x, from, x.size(), 0.5f);
      if (!h) break;
      out.push_back(*h);
      from = *h + 1;
    }
    return out;
  };
  PreambleScreen primed(4, 16);
  std::vector<cf32> tone(3000);
  for (std::size_t i = 0; i < tone.size(); ++i) tone[i] = std::polar(1.0f, w * static_cast<float>(i));
  ASSERT_FALSE(primed.first(tone, 0, tone.size(), 0.5f));
  const auto want = hits(nullptr);
  EXPECT_GE(want.size(), 4u);
  EXPECT_EQ(hits(&primed), want);
}

TEST(PreambleScreen, NonFiniteSamplesSpoilOnlyTheStartsThatSeeThem) {
  std::mt19937 rng(4);
  auto x = test_signal(rng);
  x[10] = {NAN, 0.0f};
  x[11] = {INFINITY, 0.0f};
  x[440] = {0.0f, -INFINITY};
  PreambleScreen screen(4, 16);
  const auto h = screen.first(x, 0, x.size(), 0.5f);
  ASSERT_TRUE(h);
  EXPECT_GE(*h, 480u);
  EXPECT_LE(*h, 500u);
  EXPECT_FALSE(screen.first(x, 0, 400, 0.5f));
}

}  // namespace
}  // namespace vatel::sync

#include "sync/cp_offset.hpp"

namespace vatel::sync {
namespace {

TEST(CyclicPrefixPhaseStep, MeasuresTheTurnPerSample) {
  std::mt19937 rng(8);
  std::normal_distribution<float> g(0.0f, 1.0f);
  for (float step : {0.0f, 0.001f, -0.02f, 0.045f}) {
    std::vector<cf32> x(10 * 80);
    for (std::size_t s = 0; s < 10; ++s) {
      cf32* sym = x.data() + s * 80;
      for (std::size_t i = 16; i < 80; ++i) sym[i] = {g(rng), g(rng)};
      for (std::size_t i = 0; i < 16; ++i) sym[i] = sym[64 + i];
    }
    for (std::size_t i = 0; i < x.size(); ++i) x[i] *= std::polar(1.0f, step * static_cast<float>(i));
    EXPECT_NEAR(cyclic_prefix_phase_step(x, 64, 16, 10), step, 1e-5f);
  }
  std::vector<cf32> silent(160);
  EXPECT_EQ(cyclic_prefix_phase_step(silent, 64, 16, 2), 0.0f);
  silent[5] = {NAN, 0.0f};
  EXPECT_EQ(cyclic_prefix_phase_step(silent, 64, 16, 2), 0.0f);
}

}  // namespace
}  // namespace vatel::sync
