#include "sync/waterfall.hpp"

#include <algorithm>
#include <cmath>

#include "core/checked.hpp"
#include "core/cpu.hpp"
#include "dsp/tone_bank.hpp"

namespace vatel::sync::waterfall {
namespace {

constexpr std::size_t kLanes = kKernelLanes;

// kLanes bins at a time.
VATEL_INLINE void log_power_kernel_body(const cf32* x, std::size_t n, const float* step_re, const float* step_im,
                                        std::size_t n_bins, float* out) {
  for (std::size_t b = 0; b < n_bins; b += kLanes) {
    float power[kLanes];
    dsp::tone_bank_powers<kLanes>(x, n, step_re + b, step_im + b, power);
    for (std::size_t k = 0; k < kLanes; ++k) out[b + k] = std::log(power[k] + 1e-12f);
  }
}

}  // namespace

VATEL_FMA_KERNEL(void, log_power_kernel,
                 (const cf32* x, std::size_t n, const float* step_re, const float* step_im, std::size_t n_bins,
                  float* out),
                 (x, n, step_re, step_im, n_bins, out))

Waterfall compute_waterfall(std::span<const cf32> iq, std::size_t hop, std::size_t n_steps, std::size_t n_bins,
                            float fs, float base_hz, float bin_hz, std::size_t start) {
  Waterfall w;
  w.n_steps = n_steps;
  w.n_bins = n_bins;
  w.data.assign(core::checked_mul(n_steps, n_bins, "waterfall cells"), 0.0f);
  if (n_bins == 0 || n_steps == 0) return w;

  const std::size_t padded = core::checked_add(n_bins, kLanes - 1, "waterfall bins") / kLanes * kLanes;
  // Steps of the padded bins beyond n_bins are computed like the others and
  // their cells dropped.
  std::vector<float> step_re(padded), step_im(padded), row(padded);
  for (std::size_t k = 0; k < padded; ++k) {
    const float a = ((static_cast<float>(k) * bin_hz + base_hz) * -6.2831855f) / fs;
    ::sincosf(a, &step_im[k], &step_re[k]);
  }
  for (std::size_t s = 0; s < n_steps; ++s) {
    std::size_t offset, b;
    if (__builtin_mul_overflow(s, hop, &offset) || __builtin_add_overflow(start, offset, &b) || b >= iq.size())
      continue;  // the row stays 0
    const std::size_t len = std::min(hop, iq.size() - b);
    log_power_kernel(iq.data() + b, len, step_re.data(), step_im.data(), padded, row.data());
    std::copy(row.begin(), row.begin() + static_cast<std::ptrdiff_t>(n_bins), w.data.begin() + s * n_bins);
  }
  return w;
}

}  // namespace vatel::sync::waterfall
