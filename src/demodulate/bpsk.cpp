#include "demodulate/bpsk.hpp"

#include "core/cpu.hpp"

namespace vatel::demodulate {
namespace {

// The samples are read as interleaved floats so the loops vectorise.
VATEL_INLINE void bpsk_demod_kernel_body(const float* iq, std::uint8_t* out, std::size_t n, float gain) {
  for (std::size_t i = 0; i < n; ++i) out[i] = (iq[2 * i] * gain) < 0.0f ? 1 : 0;
}

VATEL_INLINE void qpsk_demod_kernel_body(const float* iq, std::uint8_t* out, std::size_t n, float gain) {
  for (std::size_t i = 0; i < 2 * n; ++i) out[i] = (iq[i] * gain) < 0.0f ? 1 : 0;
}

VATEL_FMA_KERNEL(void, bpsk_demod_kernel, (const float* iq, std::uint8_t* out, std::size_t n, float gain),
                 (iq, out, n, gain))
VATEL_FMA_KERNEL(void, qpsk_demod_kernel, (const float* iq, std::uint8_t* out, std::size_t n, float gain),
                 (iq, out, n, gain))

}  // namespace

core::Buffer<std::uint8_t> BpskDemod::process(std::span<const cf32> iq) {
  core::Buffer<std::uint8_t> out(iq.size());
  bpsk_demod_kernel(reinterpret_cast<const float*>(iq.data()), out.data(), iq.size(), gain_);
  return out;
}

core::Buffer<std::uint8_t> QpskDemod::process(std::span<const cf32> iq) {
  core::Buffer<std::uint8_t> out(iq.size() * 2);
  qpsk_demod_kernel(reinterpret_cast<const float*>(iq.data()), out.data(), iq.size(), gain_);
  return out;
}

}  // namespace vatel::demodulate
