#include "modulate/am.hpp"

namespace vatel::modulate {
namespace {

VATEL_INLINE void am_dsb_mod_kernel_body(dsp::Rotator& osc, const float* audio, cf32* out,
                                         std::size_t n, float carrier_level, float modulation_index,
                                         float gain, bool clamp) {
  dsp::Rotator o = osc;
  o.run(n, [&](std::size_t i, cf32 p) {
    float v = audio[i] * modulation_index + carrier_level;
    if (clamp) {
      // Lower bound first; as compares, a NaN envelope passes unchanged.
      v = v < -1.0f ? -1.0f : v;
      v = v > 1.0f ? 1.0f : v;
    }
    v = v * gain;
    out[i] = cf32{v * p.real(), v * p.imag()};
  });
  osc = o;
}

}  // namespace

VATEL_FMA_KERNEL(void, am_dsb_mod_kernel,
                 (dsp::Rotator & osc, const float* audio, cf32* out, std::size_t n, float carrier_level,
                  float modulation_index, float gain, bool clamp),
                 (osc, audio, out, n, carrier_level, modulation_index, gain, clamp))

core::Buffer<cf32> AmDsbMod::process(std::span<const float> audio) {
  core::Buffer<cf32> out(audio.size());
  am_dsb_mod_kernel(osc_, audio.data(), out.data(), audio.size(), carrier_level_, modulation_index_,
                    gain_, clamp_);
  return out;
}

}  // namespace vatel::modulate
