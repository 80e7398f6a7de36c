#include "modulate/qam.hpp"

namespace vatel::modulate {
namespace {

VATEL_INLINE void qam_mod_kernel_body(dsp::Rotator& osc, const dsp::QamTable& t, const std::uint8_t* bits,
                                      cf32* out, std::size_t n, float gain) {
  const std::size_t k = 2 * t.bits_per_axis;
  dsp::Rotator o = osc;
  o.run(n, [&](std::size_t i, cf32 p) { out[i] = dsp::mix(dsp::qam_map(t, bits + i * k), p, gain); });
  osc = o;
}

}  // namespace

VATEL_FMA_KERNEL(void, qam_mod_kernel,
                 (dsp::Rotator & osc, const dsp::QamTable& t, const std::uint8_t* bits, cf32* out, std::size_t n,
                  float gain),
                 (osc, t, bits, out, n, gain))

core::Result<QamMod> QamMod::create(std::uint32_t order, float fs, float rf_hz, float gain) {
  const dsp::QamTable* t = dsp::qam_table(order);
  if (t == nullptr) return core::error("QamMod: order must be 16, 64, or 256");
  return QamMod(*t, fs, rf_hz, gain);
}

core::Buffer<cf32> QamMod::process(std::span<const std::uint8_t> bits) {
  const std::size_t n = bits.size() / (2 * table_.bits_per_axis);
  core::Buffer<cf32> out(n);
  qam_mod_kernel(osc_, table_, bits.data(), out.data(), n, gain_);
  return out;
}

}  // namespace vatel::modulate
