#include "demodulate/psk31_sync.hpp"

#include <algorithm>
#include <array>
#include <cmath>
#include <limits>
#include <string>

#include "core/checked.hpp"
#include "demodulate/psk31.hpp"
#include "dsp/rotator.hpp"
#include "sync/waterfall.hpp"
#include "waveform/psk31.hpp"

namespace vatel::demodulate::psk31_sync {
namespace {

using sync::Waterfall;
namespace waterfall = sync::waterfall;

constexpr float kBinHz = waveform::psk31::kSymbolRate;

// ceil(max(max_hz - base_hz, 0) / 31.25) + 1 with the ceiling saturated:
// a quotient beyond the 64-bit range (an infinite span) leaves no bins.
std::size_t bin_count(float base_hz, float max_hz) {
  float span = max_hz - base_hz;
  if (!(span > 0.0f)) span = 0.0f;  // also NaN
  const std::uint64_t q = core::saturating_u64(std::ceil(span / kBinHz));
  return q == std::numeric_limits<std::uint64_t>::max() ? 0 : q + 1;
}

// The best of `lanes` equally spaced angles from `first` by `spacing` (at most
// `last`): the angle whose phasor, stepped backwards, gathers the most power
// from z, with that log power.  The kernel's extra lanes are padding and are
// never chosen.
struct Line {
  float angle = 0.0f;
  float log_power = 0.0f;
};

Line best_angle(const std::vector<cf32>& z, float first, float spacing, std::size_t lanes, float last,
                std::vector<float>& step_re, std::vector<float>& step_im, std::vector<float>& power) {
  const std::size_t padded = (lanes + waterfall::kKernelLanes - 1) / waterfall::kKernelLanes * waterfall::kKernelLanes;
  step_re.resize(padded);
  step_im.resize(padded);
  power.resize(padded);
  for (std::size_t g = 0; g < padded; ++g) {
    const float a = std::min(first + static_cast<float>(g) * spacing, last);
    ::sincosf(-a, &step_im[g], &step_re[g]);
  }
  waterfall::log_power_kernel(z.data(), z.size(), step_re.data(), step_im.data(), padded, power.data());
  std::size_t best = 0;
  for (std::size_t g = 1; g < lanes; ++g)
    if (power[g] > power[best]) best = g;
  return {std::min(first + static_cast<float>(best) * spacing, last), power[best]};
}

// The strongest line of z within +-limit radians per sum: a grid at half the
// resolution of the sums finds the main lobe; each further pass spreads the
// kernel's 16 lanes over one spacing either side of the best angle so far,
// 7.5 times finer.
Line strongest_line(const std::vector<cf32>& z, float limit, std::vector<float>& step_re,
                    std::vector<float>& step_im, std::vector<float>& power) {
  const float rayleigh = 6.2831855f / static_cast<float>(z.size());
  const std::size_t lanes = static_cast<std::size_t>(std::ceil(2.0f * limit / (0.5f * rayleigh))) + 1;
  float spacing = 2.0f * limit / static_cast<float>(lanes - 1);
  Line line = best_angle(z, -limit, spacing, lanes, limit, step_re, step_im, power);
  for (int pass = 0; pass < 3; ++pass) {
    const float first = std::max(line.angle - spacing, -limit);
    const float last = std::min(line.angle + spacing, limit);
    spacing = (last - first) / static_cast<float>(waterfall::kKernelLanes - 1);
    line = best_angle(z, first, spacing, waterfall::kKernelLanes, last, step_re, step_im, power);
  }
  return line;
}

}  // namespace

float refine_carrier(std::span<const cf32> iq, float fs, float centre_hz) {
  const std::size_t sps = waveform::psk31::samples_per_symbol(fs);
  // Sums over half a symbol, one every eighth of a symbol.  Half a symbol is
  // short enough that both lines of an idle station (steady reversals,
  // 15.625 Hz either side of its carrier) pass nearly alike when it sits in
  // the sums' own bin (whole-symbol sums weaken the far line until the near
  // one's square looks like the carrier), and long enough to keep a station
  // a few bins away from mixing with the wanted one.  Eight sums a symbol
  // keep such a station's products from folding into the band searched, and
  // turn the squared line, at most 31.25 Hz from the sums' centre, by at
  // most an eighth of a turn per sum: no ambiguity.
  const std::size_t hop = sps / 8;
  if (hop == 0) return centre_hz;
  constexpr std::size_t kHopsPerSum = 4;
  const std::size_t blocks = std::min(iq.size() / hop, 8 * kRefineSymbols);
  if (blocks < 2 * 8) return centre_hz;  // less than two symbols
  const std::size_t n = blocks - (kHopsPerSum - 1);

  std::vector<cf32> block(blocks);
  dsp::Rotator mixer(-centre_hz, fs);
  for (std::size_t b = 0; b < blocks; ++b) {
    float re = 0.0f, im = 0.0f;
    const cf32* x = iq.data() + b * hop;
    for (std::size_t i = 0; i < hop; ++i) {
      const cf32 y = dsp::mix(x[i], mixer.next());
      re += y.real();
      im += y.imag();
    }
    block[b] = {re, im};
  }

  // A station is measured from its own bin and from either bin beside it:
  // idle reversals whose power falls into a neighbouring bin make the run
  // there, and seen from that bin's centre the half-symbol sums pass the
  // near line far better than the far one, so that the near line's square
  // outweighs the carrier's.  Sums centred on each of the three bins in
  // turn, the station's own gives the strongest squared line: it passes both
  // of the reversals' lines alike, and their product is the carrier's line,
  // twice as strong as either square.
  constexpr float kCentres[3] = {0.0f, -kBinHz, kBinHz};
  std::array<std::vector<cf32>, 3> z;
  std::vector<cf32> turned(blocks);
  float energy = 0.0f;
  for (std::size_t c = 0; c < 3; ++c) {
    const float per_block = (6.2831855f * kCentres[c] * static_cast<float>(hop)) / fs;
    for (std::size_t b = 0; b < blocks; ++b) {
      float sn, cs;
      ::sincosf(-per_block * static_cast<float>(b), &sn, &cs);
      turned[b] = block[b] * cf32{cs, sn};
    }
    z[c].resize(n);
    for (std::size_t m = 0; m < n; ++m) {
      float re = 0.0f, im = 0.0f;
      for (std::size_t j = 0; j < kHopsPerSum; ++j) {
        re += turned[m + j].real();
        im += turned[m + j].imag();
      }
      z[c][m] = {re, im};
      if (c == 0) energy += re * re + im * im;
    }
  }
  // Squared and scaled to a mean magnitude of 1 in the station's own bin,
  // the same scale for all three, so that the correlations stay far from
  // overflow whatever the input level and their powers compare.
  const float scale = static_cast<float>(n) / energy;
  if (!std::isfinite(energy) || !(energy > 0.0f) || !std::isfinite(scale)) return centre_hz;
  for (auto& sums : z)
    for (cf32& v : sums) {
      const float re = v.real(), im = v.imag();
      v = {(re * re - im * im) * scale, (2.0f * re * im) * scale};
    }

  // Angle per sum of the squared line, 2 pi (2 offset) hop / fs: within
  // +-limit for offsets within half a bin of the sums' centre.
  const float per_hz = (6.2831855f * static_cast<float>(hop)) / fs;
  const float limit = kBinHz * per_hz;
  std::vector<float> step_re, step_im, power;
  std::size_t best = 0;
  Line line;
  for (std::size_t c = 0; c < 3; ++c) {
    const Line l = strongest_line(z[c], limit, step_re, step_im, power);
    if (c == 0 || l.log_power > line.log_power) {
      line = l;
      best = c;
    }
  }
  const float offset = std::clamp(0.5f * line.angle / per_hz, -0.5f * kBinHz, 0.5f * kBinHz);
  return centre_hz + kCentres[best] + offset;
}

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
  const std::size_t sps = waveform::psk31::checked_sps(fs, "Bpsk31Demod");
  if (sps == 0 || iq.empty() || time_sym > (iq.size() - 1) / sps) return;  // starts beyond the samples
  const std::size_t s0 = time_sym * sps;
  const float centre_hz = base_hz + static_cast<float>(freq_bin) * kBinHz;
  const float carrier_hz = refine_carrier(iq.subspan(s0), fs, centre_hz);
  psk31::Bpsk31Demod demod(fs, carrier_hz, 1.0f);
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
  const std::size_t sps = waveform::psk31::samples_per_symbol(fs);
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

}  // namespace vatel::demodulate::psk31_sync
