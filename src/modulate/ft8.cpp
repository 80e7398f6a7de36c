#include "modulate/ft8.hpp"

#include <cmath>

namespace vatel::modulate {
namespace {

VATEL_INLINE void fsk_burst_kernel_body(const std::uint8_t* symbols, std::size_t n_symbols, std::size_t sps,
                                        float spacing, float base_hz, float fs, float gain, cf32* out) {
  dsp::Rotator osc;  // phasor 1 + 0j, counter 0, carried across symbols
  for (std::size_t s = 0; s < n_symbols; ++s) {
    const float a = ((spacing * static_cast<float>(symbols[s]) + base_hz) * dsp::kTwoPi) / fs;
    ::sincosf(a, &osc.step_im, &osc.step_re);
    cf32* o = out + s * sps;
    for (std::size_t n = 0; n < sps; ++n) {
      osc.advance();
      // The sample takes the phasor before any renormalisation at this
      // advance; the rescaled phasor serves from the next advance on.
      o[n] = cf32(osc.re * gain, osc.im * gain);
      if ((++osc.counter & 1023u) == 0) osc.renormalise();
    }
  }
}

}  // namespace

VATEL_FMA_KERNEL(void, fsk_burst_kernel,
                 (const std::uint8_t* symbols, std::size_t n_symbols, std::size_t sps, float spacing,
                  float base_hz, float fs, float gain, cf32* out),
                 (symbols, n_symbols, sps, spacing, base_hz, fs, gain, out))
// The shift to RF is the oscillator's mix, with its choice of build.
void rf_shift_kernel(dsp::Rotator& osc, cf32* iq, std::size_t n) { dsp::mix_kernel(osc, iq, iq, n, 1.0f); }
void rf_shift_kernel_portable(dsp::Rotator& osc, cf32* iq, std::size_t n) {
  dsp::mix_kernel_portable(osc, iq, iq, n, 1.0f);
}
void rf_shift_kernel_fma(dsp::Rotator& osc, cf32* iq, std::size_t n) { dsp::mix_kernel_fma(osc, iq, iq, n, 1.0f); }

}  // namespace vatel::modulate
