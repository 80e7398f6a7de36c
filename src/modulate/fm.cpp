#include "modulate/fm.hpp"

#include <cmath>

namespace vatel::modulate {
namespace {

VATEL_INLINE void fm_mod_kernel_body(dsp::Rotator& phase, dsp::Rotator& carrier, float w, float gain,
                                     const float* audio, cf32* out, std::size_t n) {
  dsp::Rotator a = phase, c = carrier;
  c.run(n, [&](std::size_t i, cf32 r) {
    float s, co;
    ::sincosf(audio[i] * w, &s, &co);
    a.step_re = co;
    a.step_im = s;
    const cf32 ph = a.next();
    const float gre = gain * ph.real(), gim = gain * ph.imag();
    out[i] = cf32{gre * r.real() - gim * r.imag(), gim * r.real() + gre * r.imag()};
  });
  phase = a;
  carrier = c;
}

}  // namespace

VATEL_FMA_KERNEL(void, fm_mod_kernel,
                 (dsp::Rotator & phase, dsp::Rotator& carrier, float w, float gain, const float* audio, cf32* out,
                  std::size_t n),
                 (phase, carrier, w, gain, audio, out, n))

core::Buffer<cf32> FmPhaseAccumMod::process(std::span<const float> audio) {
  core::Buffer<cf32> out(audio.size());
  const float w = (deviation_hz_ * dsp::kTwoPi) / sample_rate_;
  fm_mod_kernel(phase_, carrier_, w, gain_, audio.data(), out.data(), audio.size());
  return out;
}

}  // namespace vatel::modulate
