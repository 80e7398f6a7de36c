#include "sync/tone_sync.hpp"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <limits>
#include <string>

#include "core/panic.hpp"

namespace vatel::sync::tone_sync {
namespace {

constexpr float kNegInf = -std::numeric_limits<float>::infinity();

// How far cell (r, c) stands above the strongest of its four neighbours, or
// 0; neighbours outside the waterfall do not count, NaN operands are
// ignored by fmaxf, and a NaN difference counts as 0.
float cell_excess(const Waterfall& w, std::size_t r, std::size_t c) {
  const float left = c > 0 ? w.at(r, c - 1) : kNegInf;
  const float right = c + 1 < w.n_bins ? w.at(r, c + 1) : kNegInf;
  const float up = r > 0 ? w.at(r - 1, c) : kNegInf;
  const float down = r + 1 < w.n_steps ? w.at(r + 1, c) : kNegInf;
  const float m = std::fmax(std::fmax(std::fmax(left, right), up), down);
  return std::fmax(0.0f, w.at(r, c) - m);
}

bool by_score_ascending(const Candidate& a, const Candidate& b) { return a.score < b.score; }

}  // namespace

std::vector<Candidate> find_candidates(const Mode& mode, const Waterfall& w, std::size_t t_positions,
                                       std::size_t max_cand) {
  std::vector<Candidate> kept;
  if (w.n_bins <= mode.tones) return kept;
  const std::size_t f_positions = w.n_bins - mode.tones + 1;
  // Never more are kept than there are positions, whatever max_cand says.
  const std::size_t positions = t_positions > kMaxCells / f_positions ? kMaxCells : t_positions * f_positions;
  kept.reserve(std::min(max_cand, positions) + 1);
  for (std::size_t t = 0; t < t_positions; ++t) {
    for (std::size_t f = 0; f < f_positions; ++f) {
      float score = 0.0f;
      for (const SyncCell& cell : mode.sync) {
        const std::size_t r = t + cell.row;
        if (r >= w.n_steps) continue;
        score += cell_excess(w, r, f + cell.tone);
      }
      VATEL_ENSURE(max_cand > 0, std::string(mode.name) + ": max_cand must be at least 1");
      const Candidate cand{f, static_cast<std::int32_t>(t), score};
      if (kept.size() < max_cand) {
        kept.push_back(cand);
        if (kept.size() == max_cand) std::stable_sort(kept.begin(), kept.end(), by_score_ascending);
      } else if (score > kept.front().score) {
        // Replacing the lowest and sorting stably puts the newcomer before the
        // kept candidates of equal score: insert it at the first score not
        // below its own.
        const auto at = std::lower_bound(kept.begin() + 1, kept.end(), cand, by_score_ascending);
        std::move(kept.begin() + 1, at, kept.begin());
        *(at - 1) = cand;
      }
    }
  }
  std::stable_sort(kept.begin(), kept.end(), [](const Candidate& a, const Candidate& b) { return a.score > b.score; });
  return kept;
}

std::array<float, codec::ldpc::kN> soft_bits(const Mode& mode, const Waterfall& w, const Candidate& c) {
  std::array<float, codec::ldpc::kN> llr{};
  const std::size_t b = mode.bits_per_tone;
  std::uint8_t value_of_tone[8] = {};
  for (std::size_t v = 0; v < mode.tones; ++v) value_of_tone[mode.gray[v]] = static_cast<std::uint8_t>(v);
  for (std::size_t k = 0; k < mode.data_rows.size(); ++k) {
    const std::size_t r = static_cast<std::size_t>(c.time) + mode.data_rows[k];
    if (r >= w.n_steps) continue;
    float p[8];
    for (std::size_t tone = 0; tone < mode.tones; ++tone) p[tone] = w.at(r, c.freq_bin + tone);
    for (std::size_t i = 0; i < b; ++i) {
      const unsigned mask = 1u << (b - 1 - i);
      bool have0 = false, have1 = false;
      float m0 = 0.0f, m1 = 0.0f;
      for (std::size_t tone = 0; tone < mode.tones; ++tone) {
        if (value_of_tone[tone] & mask) {
          m1 = have1 ? std::fmax(m1, p[tone]) : p[tone];
          have1 = true;
        } else {
          m0 = have0 ? std::fmax(m0, p[tone]) : p[tone];
          have0 = true;
        }
      }
      llr[b * k + i] = m0 - m1;
    }
  }
  float sum = 0.0f;
  for (float x : llr) sum += x * x;
  const float v = sum / static_cast<float>(codec::ldpc::kN);
  if (v > 1e-10f) {
    const float scale = std::sqrt(24.0f / v);
    for (float& x : llr) x *= scale;
  }
  return llr;
}

core::Result<std::vector<Ft4SyncResult>> run(const Mode& mode, std::span<const cf32> iq, float fs, float base_hz,
                                             float max_hz, std::int32_t t_min, std::int32_t t_max,
                                             std::size_t max_cand) {
  // Geometry; the time arithmetic in 64 bits so that no bound pair overflows.
  float span_hz = max_hz - base_hz;
  if (!(span_hz > 0.0f)) span_hz = 0.0f;  // also NaN
  const float bins_f = std::ceil(span_hz / mode.spacing);
  const std::int64_t t_diff = static_cast<std::int64_t>(t_max) - t_min;
  const std::int64_t steps64 = std::max<std::int64_t>(1, t_diff + static_cast<std::int64_t>(mode.rows_beyond));
  const auto too_large = [&](const std::string& bins) {
    return core::error(std::string(mode.name) + ": search span too large (" + std::to_string(steps64) +
                       " time steps x " + bins + " frequency bins)");
  };
  if (!(bins_f < static_cast<float>(kMaxCells))) {
    char buf[64];
    std::snprintf(buf, sizeof buf, "%.0f", static_cast<double>(bins_f));
    return too_large(buf);
  }
  const std::size_t n_bins = static_cast<std::size_t>(bins_f) + mode.extra_bins;
  const auto n_steps = static_cast<std::size_t>(steps64);
  if (n_steps > kMaxCells / n_bins) return too_large(std::to_string(n_bins));
  const std::size_t t_positions = static_cast<std::size_t>(std::max<std::int64_t>(t_diff, 0)) + 1;
  const std::int32_t first_row = std::max<std::int32_t>(t_min, 0);

  const Waterfall w = waterfall::compute_waterfall(iq, mode.hop, n_steps, n_bins, fs, base_hz, mode.spacing,
                                                   static_cast<std::size_t>(first_row) * mode.hop);
  const std::vector<Candidate> cands = find_candidates(mode, w, t_positions, max_cand);
  std::vector<Ft4SyncResult> out;
  out.reserve(cands.size());
  for (const Candidate& c : cands) {
    Ft4SyncResult r;
    r.freq_bin = c.freq_bin;
    r.llr = soft_bits(mode, w, c);
    // t < n_steps <= kMaxCells, so the sum fits: t_min >= 0 gives at most t_max.
    r.time_sym = static_cast<std::int32_t>(static_cast<std::int64_t>(c.time) + first_row);
    r.score = c.score;
    out.push_back(r);
  }
  return out;
}

}  // namespace vatel::sync::tone_sync
