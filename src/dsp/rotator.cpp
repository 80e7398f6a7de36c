#include "dsp/rotator.hpp"

namespace vatel::dsp {
namespace {

VATEL_INLINE void mix_kernel_body(Rotator& osc, const cf32* in, cf32* out, std::size_t n,
                                  float gain) {
  osc.run(n, [&](std::size_t i, cf32 p) { out[i] = mix(in[i], p, gain); });
}

}  // namespace

VATEL_FMA_KERNEL(void, mix_kernel,
                 (Rotator & osc, const cf32* in, cf32* out, std::size_t n, float gain),
                 (osc, in, out, n, gain))

}  // namespace vatel::dsp
