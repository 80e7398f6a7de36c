#include "demodulate/fm.hpp"

#include "dsp/fast_atan2.hpp"

namespace vatel::demodulate {
namespace {

VATEL_INLINE void quadrature_discriminator_kernel_body(QuadratureDiscriminator& st, const cf32* iq,
                                                       float* out, std::size_t n) {
  cf32 p = st.previous;
  const float scale = st.scale;
  dsp::AudioLowpass lowpass = st.lowpass;
  for (std::size_t i = 0; i < n; ++i) {
    const cf32 z = iq[i];
    // z * conj(p)
    const float dre = p.imag() * z.imag() + p.real() * z.real();
    const float dim = z.imag() * p.real() - z.real() * p.imag();
    p = z;
    out[i] = lowpass.next(dsp::fast_atan2(dim, dre) * scale);
  }
  st.previous = p;
  st.lowpass = lowpass;
}

}  // namespace

VATEL_FMA_KERNEL(void, quadrature_discriminator_kernel,
                 (QuadratureDiscriminator & st, const cf32* iq, float* out, std::size_t n), (st, iq, out, n))

core::Buffer<float> FmQuadratureDemod::process(std::span<const cf32> iq) {
  core::Buffer<float> out(iq.size());
  quadrature_discriminator_kernel(state_, iq.data(), out.data(), iq.size());
  return out;
}

}  // namespace vatel::demodulate
