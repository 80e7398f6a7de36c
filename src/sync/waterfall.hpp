#pragma once
// The tone-bank waterfall: log power of the input in consecutive windows at a
// bank of equally spaced frequencies, from direct single-bin correlators (no
// FFT, no window function, no overlap).  The FT8/FT4 synchronisers and the
// PSK31 carrier search find their candidates on it.
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "core/types.hpp"

namespace vatel::sync {

struct Waterfall {
  std::vector<float> data;  // row-major: cell (step s, bin k) at s * n_bins + k
  std::size_t n_steps = 0;
  std::size_t n_bins = 0;

  float at(std::size_t step, std::size_t bin) const { return data[step * n_bins + bin]; }
};

namespace waterfall {

// Cell (s, k) = ln(|c|^2 + 1e-12), c the correlation of the window of hop
// samples starting at start + s * hop (shorter when the input ends inside it)
// with a tone at base_hz + k * bin_hz; rows whose window starts at or beyond
// the end of the input hold 0.
Waterfall compute_waterfall(std::span<const cf32> iq, std::size_t hop, std::size_t n_steps, std::size_t n_bins,
                            float fs, float base_hz, float bin_hz, std::size_t start);

// Bins per block of the correlation kernel; the step arrays it reads are
// padded to a multiple of this.
inline constexpr std::size_t kKernelLanes = 16;

// Log powers of n_bins bins (a multiple of kKernelLanes) over n samples.
void log_power_kernel(const cf32* x, std::size_t n, const float* step_re, const float* step_im,
                      std::size_t n_bins, float* out);
void log_power_kernel_portable(const cf32* x, std::size_t n, const float* step_re, const float* step_im,
                               std::size_t n_bins, float* out);
void log_power_kernel_fma(const cf32* x, std::size_t n, const float* step_re, const float* step_im,
                          std::size_t n_bins, float* out);

}  // namespace waterfall
}  // namespace vatel::sync
