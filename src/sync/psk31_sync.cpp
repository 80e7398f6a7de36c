#include "sync/psk31_sync.hpp"

#include <algorithm>
#include <cmath>
#include <limits>
#include <string>

#include "core/checked.hpp"
#include "demodulate/psk31.hpp"
#include "sync/waterfall.hpp"

namespace vatel::sync::psk31_sync {
namespace {

constexpr float kBinHz = demodulate::psk31::kSymbolRate;

// ceil(max(max_hz - base_hz, 0) / 31.25) + 1 with the ceiling saturated:
// a quotient beyond the 64-bit range (an infinite span) leaves no bins.
std::size_t bin_count(float base_hz, float max_hz) {
  float span = max_hz - base_hz;
  if (!(span > 0.0f)) span = 0.0f;  // also NaN
  const std::uint64_t q = core::saturating_u64(std::ceil(span / kBinHz));
  return q == std::numeric_limits<std::uint64_t>::max() ? 0 : q + 1;
}

}  // namespace

float median_f32(std::vector<float> v) {
  if (v.empty()) return 0.0f;
  // NaN sorts as if equal to everything; a total order keeps the sort
  // defined: NaNs go last, which the median of finite data never meets.
  std::sort(v.begin(), v.end(), [](float a, float b) {
    if (std::isnan(a)) return false;
    if (std::isnan(b)) return true;
    return a < b;
  });
  const std::size_t n = v.size();
  if (n % 2 == 1) return v[n / 2];
  return (v[n / 2 - 1] + v[n / 2]) * 0.5f;
}

void record_candidate(std::vector<Psk31SyncResult>& out, std::size_t time_sym, std::size_t freq_bin,
                      std::span<const cf32> iq, std::size_t n_bits, float base_hz, float score, float fs) {
  const float carrier_hz = base_hz + static_cast<float>(freq_bin) * kBinHz;
  demodulate::psk31::Bpsk31Demod demod(fs, carrier_hz, 1.0f);
  const std::size_t sps = demod.sps();
  if (sps == 0 || iq.empty() || time_sym > (iq.size() - 1) / sps) return;  // starts beyond the samples
  const std::size_t s0 = time_sym * sps;
  // The values the samples can give, capped at n_bits, and two places more:
  // the same values as room for n_bits + 2, without sizing by n_bits alone.
  const std::size_t whole = (iq.size() - s0) / sps;
  const std::size_t keep = std::min(n_bits, whole);
  std::vector<float> soft(keep + 2);
  const std::size_t got = demod.process(iq.subspan(s0), soft);
  soft.resize(std::min(keep, got));
  Psk31SyncResult r;
  r.soft_bits = std::move(soft);
  r.time_sym = time_sym;
  r.freq_bin = freq_bin;
  r.carrier_hz = carrier_hz;
  r.score = score;
  out.push_back(std::move(r));
}

core::Result<std::vector<Psk31SyncResult>> psk31_sync(std::span<const cf32> iq, float fs, float base_hz,
                                                      float max_hz, std::size_t min_carrier_syms,
                                                      float peak_margin_db, std::size_t n_bits,
                                                      std::size_t max_cand) {
  std::vector<Psk31SyncResult> out;
  const std::size_t sps = demodulate::psk31::samples_per_symbol(fs);
  const std::size_t n = iq.size();
  if (sps == 0 || n == 0 || n < sps) return out;
  const std::size_t n_steps = n / sps;
  const std::size_t n_bins = bin_count(base_hz, max_hz);
  if (n_bins == 0) return out;
  if (n_bins > kMaxCells / n_steps)
    return core::error("psk31_sync: search span too large (" + std::to_string(n_steps) + " time steps x " +
                       std::to_string(n_bins) + " frequency bins)");

  const Waterfall w = waterfall::compute_waterfall(iq, sps, n_steps, n_bins, fs, base_hz, kBinHz, 0);
  const float margin = peak_margin_db * 0.6931472f / 3.0f;
  const std::size_t min_run = std::max<std::size_t>(min_carrier_syms, 1);

  std::vector<float> med(n_bins);
  std::vector<float> column(n_steps);
  for (std::size_t k = 0; k < n_bins; ++k) {
    for (std::size_t t = 0; t < n_steps; ++t) column[t] = w.at(t, k);
    med[k] = median_f32(column);
  }
  const float floor = median_f32(med);

  const auto active = [&](std::size_t t, std::size_t k) {
    const float v = w.at(t, k);
    const bool stands_out = v > med[k] + margin || med[k] > floor + margin;
    if (!stands_out) return false;
    if (k > 0 && !(v >= w.at(t, k - 1))) return false;
    if (k + 1 < n_bins && !(v >= w.at(t, k + 1))) return false;
    return true;
  };

  struct Run {
    std::size_t start, bin;
    float score;
  };
  std::vector<Run> runs;
  for (std::size_t k = 0; k < n_bins; ++k) {
    std::size_t start = 0, length = 0;
    float sum = 0.0f;
    const auto close = [&] {
      if (length >= min_run) runs.push_back({start, k, sum / static_cast<float>(length)});
      length = 0;
      sum = 0.0f;
    };
    for (std::size_t t = 0; t < n_steps; ++t) {
      if (active(t, k)) {
        if (length == 0) start = t;
        ++length;
        sum += w.at(t, k);
      } else {
        close();
      }
    }
    close();
  }

  // Highest score first; NaN scores (which finite input cannot give) last.
  // Only the runs kept are demodulated.
  std::stable_sort(runs.begin(), runs.end(), [](const Run& a, const Run& b) {
    if (std::isnan(a.score)) return false;
    if (std::isnan(b.score)) return true;
    return a.score > b.score;
  });
  if (runs.size() > max_cand) runs.resize(max_cand);
  out.reserve(runs.size());
  for (const Run& r : runs) record_candidate(out, r.start, r.bin, iq, n_bits, base_hz, r.score, fs);
  return out;
}

}  // namespace vatel::sync::psk31_sync
