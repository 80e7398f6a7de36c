#include "sync/cp_offset.hpp"

#include <cmath>

#include "core/panic.hpp"

namespace vatel::sync {

float cyclic_prefix_phase_step(std::span<const cf32> symbols, std::size_t n_fft,
                               std::size_t cp_len, std::size_t count) {
  const std::size_t s = n_fft + cp_len;
  VATEL_ENSURE(n_fft != 0 && symbols.size() / s >= count, "cyclic prefix offset: too few samples");
  double re = 0.0, im = 0.0;
  for (std::size_t k = 0; k < count; ++k) {
    const cf32* a = symbols.data() + k * s;
    const cf32* b = a + n_fft;
    for (std::size_t i = 0; i < cp_len; ++i) {
      // b * conj(a)
      re += static_cast<double>(b[i].real()) * a[i].real() + static_cast<double>(b[i].imag()) * a[i].imag();
      im += static_cast<double>(b[i].imag()) * a[i].real() - static_cast<double>(b[i].real()) * a[i].imag();
    }
  }
  if (!std::isfinite(re) || !std::isfinite(im) || (re == 0.0 && im == 0.0)) return 0.0f;
  return static_cast<float>(std::atan2(im, re) / static_cast<double>(n_fft));
}

}  // namespace vatel::sync
