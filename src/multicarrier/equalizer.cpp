#include "multicarrier/equalizer.hpp"

#include <immintrin.h>

#include <algorithm>
#include <bit>
#include <cstdint>
#include <string>

#include "core/cpu.hpp"
#include "core/panic.hpp"
#include "multicarrier/unit_sequence.hpp"

namespace vatel::multicarrier {
namespace {

// a / b as (a conj b) / |b|^2, written out so that the rounding is the same
// on every build (the library's complex division rescales).
inline cf32 divide(cf32 a, cf32 b) {
  const float m = b.real() * b.real() + b.imag() * b.imag();
  const float re = a.real() * b.real() + a.imag() * b.imag();
  const float im = a.imag() * b.real() - a.real() * b.imag();
  return {re / m, im / m};
}

// out = y * w per bin.
VATEL_INLINE void apply_weights_kernel_body(const float* y, const float* w, float* o,
                                            std::size_t n) {
  for (std::size_t k = 0; k < n; ++k) {
    const float yr = y[2 * k], yi = y[2 * k + 1], wr = w[2 * k], wi = w[2 * k + 1];
    o[2 * k] = yr * wr - yi * wi;
    o[2 * k + 1] = yr * wi + yi * wr;
  }
}

// out = y conj(h) / |h|^2 per bin, as divide() forms it, or 0 where |h|^2 is
// below the floor (a NaN estimate fails the test as well).
VATEL_INLINE void apply_channel_kernel_body(const float* y, const float* h, float* o,
                                            std::size_t n) {
  for (std::size_t k = 0; k < n; ++k) {
    const float yr = y[2 * k], yi = y[2 * k + 1], hr = h[2 * k], hi = h[2 * k + 1];
    const float m = hr * hr + hi * hi;
    // Both quotients are always formed and masked, rather than selected: a
    // select lets the compiler move the divisions into a branch, which
    // then does not vectorise.
    const std::uint32_t keep = m >= kMinChannelPower ? ~0u : 0u;
    const float re = (yr * hr + yi * hi) / m;
    const float im = (yi * hr - yr * hi) / m;
    o[2 * k] = std::bit_cast<float>(std::bit_cast<std::uint32_t>(re) & keep);
    o[2 * k + 1] = std::bit_cast<float>(std::bit_cast<std::uint32_t>(im) & keep);
  }
}

// The layout with pilots and targets ordered by key(bin) instead of the bin.
template <class Key>
PilotLayout build_ordered(std::span<const PilotBin> pilots, std::span<const std::size_t> targets,
                          Key key) {
  PilotLayout layout;
  layout.pilots.assign(pilots.begin(), pilots.end());
  std::stable_sort(layout.pilots.begin(), layout.pilots.end(),
                   [&](const PilotBin& a, const PilotBin& b) { return key(a.bin) < key(b.bin); });
  if (layout.pilots.empty()) return layout;

  std::vector<std::size_t> sorted(targets.begin(), targets.end());
  std::sort(sorted.begin(), sorted.end(),
            [&](std::size_t a, std::size_t b) { return key(a) < key(b); });
  layout.entries.reserve(sorted.size());
  const std::vector<PilotBin>& p = layout.pilots;
  std::size_t j = 0;
  for (const std::size_t a : sorted) {
    const auto ka = key(a);
    while (j + 1 < p.size() && key(p[j + 1].bin) <= ka) ++j;
    const std::size_t b = p[j].bin;
    if (j + 1 < p.size() && key(b) < ka) {
      const std::size_t c = p[j + 1].bin;
      const float t = static_cast<float>(ka - key(b)) / static_cast<float>(key(c) - key(b));
      layout.entries.push_back({a, b, c, t});
    } else {
      layout.entries.push_back({a, b, b, 0.0f});
    }
  }
  layout.derive_runs();
  return layout;
}

// The runs one after the other; within a run the pilot values are read
// once, since the run writes neither bin.  Per value the same operations as
// entry by entry: lower + t (upper - lower).
VATEL_INLINE void interpolate_runs_kernel_body(float* __restrict h, const InterpRun* runs,
                                               std::size_t n_runs, const float* __restrict t) {
  for (std::size_t r = 0; r < n_runs; ++r) {
    const InterpRun& run = runs[r];
    const float lr = h[2 * run.lower], li = h[2 * run.lower + 1];
    const float dr = h[2 * run.upper] - lr, di = h[2 * run.upper + 1] - li;
    float* o = h + 2 * run.target;
    const float* tk = t + run.first;
    for (std::size_t k = 0; k < run.count; ++k) {
      o[2 * k] = lr + tk[k] * dr;
      o[2 * k + 1] = li + tk[k] * di;
    }
  }
}

// The highest bin a run reads or writes.
inline std::size_t top_bin(const InterpRun& r) {
  return std::max({r.lower, r.upper, r.target + (r.count - 1)});
}

}  // namespace

// No fused operation in either: the AVX2 build only has wider vectors
// (and no FMA, which the vectoriser would use for the complex products).
VATEL_AVX2_KERNEL(void, apply_weights_kernel, (const float* y, const float* w, float* o, std::size_t n),
                 (y, w, o, n))
VATEL_AVX2_KERNEL(void, apply_channel_kernel, (const float* y, const float* h, float* o, std::size_t n),
                 (y, h, o, n))

void interpolate_runs_kernel_portable(float* h, const InterpRun* runs, std::size_t n_runs,
                                      const float* t) {
  interpolate_runs_kernel_body(h, runs, n_runs, t);
}

// Runs are short (a pilot spacing, typically under a dozen bins), so the
// vectoriser's scalar remainder would cost as much as the vector part.
// Here the last group of a run ends on its last bin and overlaps the one
// before, storing the same values twice (masked stores, which touch no bin
// beyond the run either, stall the loads that follow them).  Separate
// multiply and add, as in the portable build.
VATEL_TARGET_AVX2 void interpolate_runs_kernel_avx2(float* h, const InterpRun* runs,
                                                    std::size_t n_runs, const float* t) {
  const __m256i pairs = _mm256_setr_epi32(0, 0, 1, 1, 2, 2, 3, 3);
  for (std::size_t r = 0; r < n_runs; ++r) {
    const InterpRun& run = runs[r];
    const float lr = h[2 * run.lower], li = h[2 * run.lower + 1];
    const float ur = h[2 * run.upper], ui = h[2 * run.upper + 1];
    const __m256 lo = _mm256_setr_ps(lr, li, lr, li, lr, li, lr, li);
    const __m256 d = _mm256_sub_ps(_mm256_setr_ps(ur, ui, ur, ui, ur, ui, ur, ui), lo);
    float* o = h + 2 * run.target;
    const float* tk = t + run.first;
    const std::size_t n = run.count;
    if (n >= 4) {
      for (std::size_t next = 0; next < n; next += 4) {
        const std::size_t k = std::min(next, n - 4);
        const __m256 tt =
            _mm256_permutevar8x32_ps(_mm256_castps128_ps256(_mm_loadu_ps(tk + k)), pairs);
        _mm256_storeu_ps(o + 2 * k, _mm256_add_ps(lo, _mm256_mul_ps(tt, d)));
      }
    } else if (n >= 2) {
      const __m128 lo2 = _mm256_castps256_ps128(lo), d2 = _mm256_castps256_ps128(d);
      for (std::size_t k = 0; k + 1 < n; ++k) {
        const __m128 tt = _mm_setr_ps(tk[k], tk[k], tk[k + 1], tk[k + 1]);
        _mm_storeu_ps(o + 2 * k, _mm_add_ps(lo2, _mm_mul_ps(tt, d2)));
      }
    } else {
      o[0] = lr + tk[0] * (ur - lr);
      o[1] = li + tk[0] * (ui - li);
    }
  }
}

void apply_channel_ranges_kernel_portable(const float* y, const float* h, const BinRange* ranges,
                                          std::size_t n_ranges, float* o) {
  for (std::size_t r = 0; r < n_ranges; ++r) {
    const BinRange& g = ranges[r];
    apply_channel_kernel_body(y + 2 * g.bin, h + 2 * g.bin, o + 2 * g.cell, g.count);
  }
}

// Four bins per group, the last group of a range overlapping the one before
// as in the run kernel; per bin the operations of apply_channel_kernel_body
// (the products summed in the same order, the quotients masked below the
// floor).  Ranges of two or three bins take pairs, single bins the
// portable loop.
VATEL_TARGET_AVX2 void apply_channel_ranges_kernel_avx2(const float* y, const float* h,
                                                        const BinRange* ranges,
                                                        std::size_t n_ranges, float* o) {
  const __m256 floor = _mm256_set1_ps(kMinChannelPower);
  for (std::size_t r = 0; r < n_ranges; ++r) {
    const BinRange& g = ranges[r];
    const float* yg = y + 2 * g.bin;
    const float* hg = h + 2 * g.bin;
    float* og = o + 2 * g.cell;
    const std::size_t n = g.count;
    if (n < 2) {
      apply_channel_kernel_body(yg, hg, og, n);
      continue;
    }
    if (n < 4) {
      // Two or three bins: pairs of bins, the second overlapping the first
      // for three, one vector division a pair instead of two scalar ones a bin.
      const __m128 floor2 = _mm256_castps256_ps128(floor);
      for (std::size_t next = 0; next < n; next += 2) {
        const std::size_t k = std::min(next, n - 2);
        const __m128 yv = _mm_loadu_ps(yg + 2 * k);
        const __m128 hv = _mm_loadu_ps(hg + 2 * k);
        const __m128 hr = _mm_moveldup_ps(hv), hi = _mm_movehdup_ps(hv);
        const __m128 m = _mm_add_ps(_mm_mul_ps(hr, hr), _mm_mul_ps(hi, hi));
        const __m128 p = _mm_mul_ps(yv, hr);
        const __m128 q = _mm_mul_ps(_mm_permute_ps(yv, 0xb1), hi);
        const __m128 num = _mm_blend_ps(_mm_add_ps(p, q), _mm_sub_ps(p, q), 0xa);
        const __m128 keep = _mm_cmp_ps(m, floor2, _CMP_GE_OQ);
        _mm_storeu_ps(og + 2 * k, _mm_and_ps(_mm_div_ps(num, m), keep));
      }
      continue;
    }
    for (std::size_t next = 0; next < n; next += 4) {
      const std::size_t k = std::min(next, n - 4);
      const __m256 yv = _mm256_loadu_ps(yg + 2 * k);
      const __m256 hv = _mm256_loadu_ps(hg + 2 * k);
      const __m256 hr = _mm256_moveldup_ps(hv), hi = _mm256_movehdup_ps(hv);
      const __m256 m = _mm256_add_ps(_mm256_mul_ps(hr, hr), _mm256_mul_ps(hi, hi));
      const __m256 p = _mm256_mul_ps(yv, hr);                               // yr hr, yi hr
      const __m256 q = _mm256_mul_ps(_mm256_permute_ps(yv, 0xb1), hi);      // yi hi, yr hi
      const __m256 num = _mm256_blend_ps(_mm256_add_ps(p, q), _mm256_sub_ps(p, q), 0xaa);
      const __m256 keep = _mm256_cmp_ps(m, floor, _CMP_GE_OQ);
      _mm256_storeu_ps(og + 2 * k, _mm256_and_ps(_mm256_div_ps(num, m), keep));
    }
  }
}

void apply_channel_ranges_kernel(const float* y, const float* h, const BinRange* ranges,
                                 std::size_t n_ranges, float* o) {
  static const bool hw = core::cpu_has_fma();
  return hw ? apply_channel_ranges_kernel_avx2(y, h, ranges, n_ranges, o)
            : apply_channel_ranges_kernel_portable(y, h, ranges, n_ranges, o);
}

void interpolate_runs_kernel(float* h, const InterpRun* runs, std::size_t n_runs, const float* t) {
  static const bool hw = core::cpu_has_fma();
  return hw ? interpolate_runs_kernel_avx2(h, runs, n_runs, t)
            : interpolate_runs_kernel_portable(h, runs, n_runs, t);
}

PilotLayout PilotLayout::build(std::span<const PilotBin> pilots,
                               std::span<const std::size_t> targets) {
  return build_ordered(pilots, targets, [](std::size_t bin) { return bin; });
}

PilotLayout PilotLayout::build_in_carrier_order(std::span<const PilotBin> pilots,
                                                std::span<const std::size_t> targets,
                                                std::size_t n_fft) {
  VATEL_ENSURE(n_fft > 0, "a carrier-order layout needs the FFT size");
  const std::size_t half = n_fft / 2;
  return build_ordered(pilots, targets, [half, n_fft](std::size_t bin) {
    return bin < half ? static_cast<std::int64_t>(bin)
                      : static_cast<std::int64_t>(bin) - static_cast<std::int64_t>(n_fft);
  });
}

void PilotLayout::derive_runs() {
  fractions.clear();
  runs.clear();
  runs_reach = 0;
  fractions.reserve(entries.size());
  for (std::size_t i = 0; i < entries.size(); ++i) {
    const InterpEntry& e = entries[i];
    fractions.push_back(e.t);
    if (!runs.empty()) {
      InterpRun& r = runs.back();
      const std::size_t last = r.target + (r.count - 1);
      // The run may grow by e only if its targets then still leave out both
      // pilot bins (a first target on a pilot bin stays a run of one).
      const auto outside = [&](std::size_t bin) { return bin < r.target || bin > e.target; };
      if (e.lower == r.lower && e.upper == r.upper && last != SIZE_MAX && e.target == last + 1 &&
          outside(e.lower) && outside(e.upper)) {
        ++r.count;
        continue;
      }
    }
    runs.push_back({i, 1, e.target, e.lower, e.upper});
  }
  for (const InterpRun& r : runs) {
    const std::size_t top = top_bin(r);
    // The top bin of the range is inside no estimate: checked run by run.
    runs_reach = std::max(runs_reach, top == SIZE_MAX ? SIZE_MAX : top + 1);
  }
}

bool PilotLayout::runs_cover_entries() const noexcept {
  if (fractions.size() != entries.size()) return false;
  return runs.empty() ? entries.empty() : runs.back().first + runs.back().count == entries.size();
}

void interpolate_channel_by_entry(const PilotLayout& layout, std::size_t from, cf32* h,
                                  std::size_t n) {
  for (std::size_t i = from; i < layout.entries.size(); ++i) {
    const InterpEntry& e = layout.entries[i];
    VATEL_ENSURE(std::max({e.target, e.lower, e.upper}) < n,
                 "OfdmEqualizer: interpolation entry for bin " + std::to_string(e.target) +
                     " outside the " + std::to_string(n) + "-bin spectrum");
    const cf32 lo = h[e.lower], hi = h[e.upper];
    h[e.target] = {lo.real() + e.t * (hi.real() - lo.real()),
                   lo.imag() + e.t * (hi.imag() - lo.imag())};
  }
}

void interpolate_channel(const PilotLayout& layout, cf32* h, std::size_t n) {
  if (!layout.runs_cover_entries()) return interpolate_channel_by_entry(layout, 0, h, n);
  const std::vector<InterpRun>& runs = layout.runs;
  if (layout.runs_reach <= n)
    return interpolate_runs_kernel(reinterpret_cast<float*>(h), runs.data(), runs.size(),
                                   layout.fractions.data());
  // The runs up to the first one reaching outside the estimate; from there
  // on entry by entry, which applies the entries before the offending one
  // and then stops.
  std::size_t r = 0;
  while (r < runs.size() && top_bin(runs[r]) < n) ++r;
  interpolate_runs_kernel(reinterpret_cast<float*>(h), runs.data(), r, layout.fractions.data());
  if (r < runs.size()) interpolate_channel_by_entry(layout, runs[r].first, h, n);
}

OfdmEqualizer::OfdmEqualizer(const OfdmConfig& cfg, EqualizerMode m)
    : channel(cfg.plan.n_fft, cf32{1.0f, 0.0f}),
      weights(cfg.plan.n_fft, cf32{1.0f, 0.0f}),
      n_fft(cfg.plan.n_fft),
      mode(m),
      training_(pseudo_random_unit_sequence(cfg.plan.n_fft, kTrainingSeed)) {
  const CarrierGrid grid = CarrierGrid::from_plan(cfg.plan);
  default_layout = PilotLayout::build(grid.pilots, grid.data_bins);
}

void OfdmEqualizer::estimate_from_training_symbol(std::span<const cf32> spectrum) noexcept {
  if (mode == EqualizerMode::PilotInterp || spectrum.size() < n_fft) return;
  for (std::size_t k = 0; k < n_fft; ++k) {
    const cf32 g = divide(spectrum[k], training_[k]);
    channel[k] = g;
    const float m = g.real() * g.real() + g.imag() * g.imag();
    weights[k] = m >= kMinChannelPower ? cf32{g.real() / m, -g.imag() / m} : cf32{};
  }
}

const PilotLayout* OfdmEqualizer::chosen_layout() const noexcept {
  if (!symbol_index) return &default_layout;
  for (const auto& [key, layout] : layouts)
    if (key == *symbol_index) return &layout;
  return nullptr;
}

void OfdmEqualizer::ensure_sizes() const {
  VATEL_ENSURE(channel.size() == n_fft && weights.size() == n_fft,
               "OfdmEqualizer: channel or weights resized away from " + std::to_string(n_fft) +
                   " bins");
}

std::size_t OfdmEqualizer::process(std::span<const cf32> spectrum, std::span<cf32> out) {
  if (spectrum.size() < n_fft || out.size() < n_fft) return 0;
  ensure_sizes();
  // The kernels run over interleaved components, so that they vectorise.
  const float* y = reinterpret_cast<const float*>(spectrum.data());
  float* o = reinterpret_cast<float*>(out.data());
  if (mode == EqualizerMode::TrainingSymbol) {
    apply_weights_kernel(y, reinterpret_cast<const float*>(weights.data()), o, n_fft);
    return n_fft;
  }

  update_channel(spectrum);
  apply_channel_kernel(y, reinterpret_cast<const float*>(channel.data()), o, n_fft);
  return n_fft;
}

void OfdmEqualizer::update_channel(std::span<const cf32> spectrum) {
  cf32* h = channel.data();
  if (const PilotLayout* layout = chosen_layout()) {
    for (const PilotBin& p : layout->pilots) {
      VATEL_ENSURE(p.bin < n_fft, "OfdmEqualizer: pilot bin " + std::to_string(p.bin) +
                                      " outside the " + std::to_string(n_fft) + "-bin spectrum");
      h[p.bin] = divide(spectrum[p.bin], p.value);
    }
    interpolate_channel(*layout, h, n_fft);
  }
}

void OfdmEqualizer::process_cells(std::span<const cf32> spectrum, const CellRanges& ranges,
                                  std::span<cf32> cells) {
  if (spectrum.size() < n_fft) return;
  ensure_sizes();
  VATEL_ENSURE(ranges.bins_reach() <= n_fft && ranges.cells() <= cells.size(),
               "OfdmEqualizer: " + std::to_string(ranges.cells()) + " cells up to bin " +
                   std::to_string(ranges.bins_reach()) + " for a " + std::to_string(n_fft) +
                   "-bin spectrum and room for " + std::to_string(cells.size()));
  const float* y = reinterpret_cast<const float*>(spectrum.data());
  float* o = reinterpret_cast<float*>(cells.data());
  if (mode == EqualizerMode::TrainingSymbol) {
    const float* w = reinterpret_cast<const float*>(weights.data());
    for (const BinRange& g : ranges.ranges())
      apply_weights_kernel(y + 2 * g.bin, w + 2 * g.bin, o + 2 * g.cell, g.count);
    return;
  }
  update_channel(spectrum);
  apply_channel_ranges_kernel(y, reinterpret_cast<const float*>(channel.data()),
                              ranges.ranges().data(), ranges.ranges().size(), o);
}

CellRanges::CellRanges(std::span<const std::size_t> bins) : cells_(bins.size()) {
  for (std::size_t i = 0; i < bins.size(); ++i) {
    // A bin at the top of the range fits no spectrum: the extent stays there.
    bins_reach_ = std::max(bins_reach_, bins[i] == SIZE_MAX ? SIZE_MAX : bins[i] + 1);
    if (!ranges_.empty()) {
      BinRange& g = ranges_.back();
      if (bins[i] != 0 && bins[i] - 1 == g.bin + (g.count - 1)) {
        ++g.count;
        continue;
      }
    }
    ranges_.push_back({bins[i], 1, i});
  }
}

}  // namespace vatel::multicarrier
