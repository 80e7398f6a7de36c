#include "modulate/bpsk.hpp"

#include "dsp/constellation.hpp"

namespace vatel::modulate {
namespace {

VATEL_INLINE void bpsk_mod_kernel_body(dsp::Rotator& osc, const std::uint8_t* bits, cf32* out,
                                       std::size_t n, float gain) {
  // A local copy keeps the phasor in registers: the output stores could
  // otherwise alias the oscillator's fields.
  dsp::Rotator o = osc;
  o.run(n, [&](std::size_t i, cf32 p) { out[i] = dsp::mix(dsp::bpsk_map(bits[i]), p, gain); });
  osc = o;
}

// n symbols from 2n bytes.
VATEL_INLINE void qpsk_mod_kernel_body(dsp::Rotator& osc, const std::uint8_t* bits, cf32* out,
                                       std::size_t n, float gain) {
  dsp::Rotator o = osc;
  o.run(n, [&](std::size_t i, cf32 p) {
    out[i] = dsp::mix(dsp::qpsk_map(bits[2 * i], bits[2 * i + 1]), p, gain);
  });
  osc = o;
}

}  // namespace

VATEL_FMA_KERNEL(void, bpsk_mod_kernel,
                 (dsp::Rotator & osc, const std::uint8_t* bits, cf32* out, std::size_t n, float gain),
                 (osc, bits, out, n, gain))
VATEL_FMA_KERNEL(void, qpsk_mod_kernel,
                 (dsp::Rotator & osc, const std::uint8_t* bits, cf32* out, std::size_t n, float gain),
                 (osc, bits, out, n, gain))

core::Buffer<cf32> BpskMod::process(std::span<const std::uint8_t> bits) {
  core::Buffer<cf32> out(bits.size());
  bpsk_mod_kernel(osc_, bits.data(), out.data(), bits.size(), gain_);
  return out;
}

core::Buffer<cf32> QpskMod::process(std::span<const std::uint8_t> bits) {
  const std::size_t k = bits.size() / 2;
  core::Buffer<cf32> out(k);
  qpsk_mod_kernel(osc_, bits.data(), out.data(), k, gain_);
  return out;
}

}  // namespace vatel::modulate
