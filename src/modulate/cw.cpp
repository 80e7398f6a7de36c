#include "modulate/cw.hpp"

namespace vatel::modulate {
namespace {

VATEL_INLINE void cw_keyed_mod_kernel_body(dsp::Rotator& osc, dsp::OnePoleSmoother& envelope, float rise,
                                           float fall, float gain, const float* keying, cf32* out,
                                           std::size_t n) {
  dsp::Rotator o = osc;
  dsp::OnePoleSmoother env = envelope;
  o.run(n, [&](std::size_t i, cf32 p) {
    // Limited to [0, 1], lower bound first.  A NaN keying value counts as
    // key-up (0): passed on, it would stay in the envelope for good.
    float k = keying[i] > 0.0f ? keying[i] : 0.0f;
    k = k < 1.0f ? k : 1.0f;
    const float a = k >= env.y ? rise : fall;
    const float v = gain * env.next(k, a);
    // (v + 0j) * p, as a full complex product.
    out[i] = cf32{v * p.real() - 0.0f * p.imag(), v * p.imag() + 0.0f * p.real()};
  });
  osc = o;
  envelope = env;
}

}  // namespace

VATEL_FMA_KERNEL(void, cw_keyed_mod_kernel,
                 (dsp::Rotator & osc, dsp::OnePoleSmoother& envelope, float rise, float fall, float gain,
                  const float* keying, cf32* out, std::size_t n),
                 (osc, envelope, rise, fall, gain, keying, out, n))

core::Buffer<cf32> CwKeyedMod::process(std::span<const float> audio) {
  core::Buffer<cf32> out(audio.size());
  cw_keyed_mod_kernel(osc_, envelope_, rise_, fall_, gain_, audio.data(), out.data(), audio.size());
  return out;
}

}  // namespace vatel::modulate
