#include "modulate/ssb.hpp"

namespace vatel::modulate {
namespace {

VATEL_INLINE void ssb_phasing_mod_kernel_body(dsp::Rotator& if_osc, dsp::Rotator& rf_osc,
                                              dsp::AudioLowpass& i_lowpass, dsp::AudioLowpass& q_lowpass,
                                              float sign, const float* audio, cf32* out, std::size_t n) {
  dsp::Rotator ifo = if_osc, rfo = rf_osc;
  dsp::AudioLowpass ilp = i_lowpass, qlp = q_lowpass;
  ifo.run(n, [&](std::size_t k, cf32 p) {
    const float x = audio[k];
    const float i = ilp.next(p.real() * x);
    const float q = qlp.next(x * p.imag());
    const cf32 r = rfo.next();
    const float sq = sign * q;
    out[k] = cf32{std::fma(i, r.real(), -(sq * r.imag())), std::fma(sq, r.real(), i * r.imag())};
  });
  if_osc = ifo;
  rf_osc = rfo;
  i_lowpass = ilp;
  q_lowpass = qlp;
}

}  // namespace

VATEL_FMA_KERNEL(void, ssb_phasing_mod_kernel,
                 (dsp::Rotator & if_osc, dsp::Rotator& rf_osc, dsp::AudioLowpass& i_lowpass,
                  dsp::AudioLowpass& q_lowpass, float sign, const float* audio, cf32* out, std::size_t n),
                 (if_osc, rf_osc, i_lowpass, q_lowpass, sign, audio, out, n))

core::Buffer<cf32> SsbPhasingMod::process(std::span<const float> audio) {
  core::Buffer<cf32> out(audio.size());
  ssb_phasing_mod_kernel(if_osc_, rf_osc_, i_lowpass_, q_lowpass_, usb_ ? 1.0f : -1.0f, audio.data(),
                         out.data(), audio.size());
  return out;
}

}  // namespace vatel::modulate
