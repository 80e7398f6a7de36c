#include "modulate/pm.hpp"

#include <cmath>

namespace vatel::modulate {
namespace {

VATEL_INLINE void pm_mod_kernel_body(dsp::Rotator& carrier, float kp, float gain, const float* audio,
                                     cf32* out, std::size_t n) {
  dsp::Rotator c = carrier;
  c.run(n, [&](std::size_t i, cf32 r) {
    float s, c;
    ::sincosf(audio[i] * kp, &s, &c);
    const float mre = gain * c, mim = gain * s;
    out[i] = cf32{mre * r.real() - mim * r.imag(), mim * r.real() + mre * r.imag()};
  });
  carrier = c;
}

}  // namespace

VATEL_FMA_KERNEL(void, pm_mod_kernel,
                 (dsp::Rotator & carrier, float kp, float gain, const float* audio, cf32* out, std::size_t n),
                 (carrier, kp, gain, audio, out, n))

core::Buffer<cf32> PmDirectPhaseMod::process(std::span<const float> audio) {
  core::Buffer<cf32> out(audio.size());
  pm_mod_kernel(carrier_, kp_, gain_, audio.data(), out.data(), audio.size());
  return out;
}

}  // namespace vatel::modulate
