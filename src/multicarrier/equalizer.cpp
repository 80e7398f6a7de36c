#include "multicarrier/equalizer.hpp"

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

}  // namespace

// No fused operation in either: the AVX2 build only has wider vectors
// (and no FMA, which the vectoriser would use for the complex products).
VATEL_AVX2_KERNEL(void, apply_weights_kernel, (const float* y, const float* w, float* o, std::size_t n),
                 (y, w, o, n))
VATEL_AVX2_KERNEL(void, apply_channel_kernel, (const float* y, const float* h, float* o, std::size_t n),
                 (y, h, o, n))

PilotLayout PilotLayout::build(std::span<const PilotBin> pilots,
                               std::span<const std::size_t> targets) {
  PilotLayout layout;
  layout.pilots.assign(pilots.begin(), pilots.end());
  std::stable_sort(layout.pilots.begin(), layout.pilots.end(),
                   [](const PilotBin& a, const PilotBin& b) { return a.bin < b.bin; });
  if (layout.pilots.empty()) return layout;

  std::vector<std::size_t> sorted(targets.begin(), targets.end());
  std::sort(sorted.begin(), sorted.end());
  layout.entries.reserve(sorted.size());
  const std::vector<PilotBin>& p = layout.pilots;
  std::size_t j = 0;
  for (const std::size_t a : sorted) {
    while (j + 1 < p.size() && p[j + 1].bin <= a) ++j;
    const std::size_t b = p[j].bin;
    if (j + 1 < p.size() && b < a) {
      const std::size_t c = p[j + 1].bin;
      const float t = static_cast<float>(a - b) / static_cast<float>(c - b);
      layout.entries.push_back({a, b, c, t});
    } else {
      layout.entries.push_back({a, b, b, 0.0f});
    }
  }
  return layout;
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

std::size_t OfdmEqualizer::process(std::span<const cf32> spectrum, std::span<cf32> out) {
  if (spectrum.size() < n_fft || out.size() < n_fft) return 0;
  VATEL_ENSURE(channel.size() == n_fft && weights.size() == n_fft,
               "OfdmEqualizer: channel or weights resized away from " + std::to_string(n_fft) +
                   " bins");
  // The kernels run over interleaved components, so that they vectorise.
  const float* y = reinterpret_cast<const float*>(spectrum.data());
  float* o = reinterpret_cast<float*>(out.data());
  if (mode == EqualizerMode::TrainingSymbol) {
    apply_weights_kernel(y, reinterpret_cast<const float*>(weights.data()), o, n_fft);
    return n_fft;
  }

  cf32* h = channel.data();
  if (const PilotLayout* layout = chosen_layout()) {
    for (const PilotBin& p : layout->pilots) {
      VATEL_ENSURE(p.bin < n_fft, "OfdmEqualizer: pilot bin " + std::to_string(p.bin) +
                                      " outside the " + std::to_string(n_fft) + "-bin spectrum");
      h[p.bin] = divide(spectrum[p.bin], p.value);
    }
    for (const InterpEntry& e : layout->entries) {
      VATEL_ENSURE(std::max({e.target, e.lower, e.upper}) < n_fft,
                   "OfdmEqualizer: interpolation entry for bin " + std::to_string(e.target) +
                       " outside the " + std::to_string(n_fft) + "-bin spectrum");
      const cf32 lo = h[e.lower], hi = h[e.upper];
      h[e.target] = {lo.real() + e.t * (hi.real() - lo.real()),
                     lo.imag() + e.t * (hi.imag() - lo.imag())};
    }
  }
  apply_channel_kernel(y, reinterpret_cast<const float*>(h), o, n_fft);
  return n_fft;
}

}  // namespace vatel::multicarrier
