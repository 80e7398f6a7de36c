#include "demodulate/ssb.hpp"

namespace vatel::demodulate {
namespace {

VATEL_INLINE void ssb_product_demod_kernel_body(dsp::Rotator& bfo, dsp::AudioLowpass& lowpass,
                                                dsp::DcBlocker& dc, const cf32* iq, float* out,
                                                std::size_t n) {
  dsp::Rotator o = bfo;
  dsp::AudioLowpass lp = lowpass;
  dsp::DcBlocker blocker = dc;
  o.run(n, [&](std::size_t i, cf32 p) {
    // Real part of z * conj(p).
    const float b = std::fma(iq[i].real(), p.real(), iq[i].imag() * p.imag());
    out[i] = blocker.next(lp.next(b));
  });
  bfo = o;
  lowpass = lp;
  dc = blocker;
}

}  // namespace

VATEL_FMA_KERNEL(void, ssb_product_demod_kernel,
                 (dsp::Rotator & bfo, dsp::AudioLowpass& lowpass, dsp::DcBlocker& dc, const cf32* iq, float* out,
                  std::size_t n),
                 (bfo, lowpass, dc, iq, out, n))

core::Buffer<float> SsbProductDemod::process(std::span<const cf32> iq) {
  core::Buffer<float> out(iq.size());
  ssb_product_demod_kernel(bfo_, lowpass_, dc_, iq.data(), out.data(), iq.size());
  return out;
}

}  // namespace vatel::demodulate
