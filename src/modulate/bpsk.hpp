#pragma once
// BPSK and QPSK modulators: one complex sample per symbol, mixed onto a
// carrier by a Rotator, no pulse shaping.
#include <cstdint>
#include <span>

#include "core/buffer.hpp"
#include "core/types.hpp"
#include "dsp/rotator.hpp"

namespace vatel::modulate {

class BpskMod {
 public:
  BpskMod(float fs, float rf_hz, float gain) : gain_(gain), osc_(rf_hz, fs) {}
  core::Buffer<cf32> process(std::span<const std::uint8_t> bits);
  void set_gain(float g) { gain_ = g; }

 private:
  float gain_;
  dsp::Rotator osc_;
};

class QpskMod {
 public:
  QpskMod(float fs, float rf_hz, float gain) : gain_(gain), osc_(rf_hz, fs) {}
  // One sample per pair of bytes; an odd last byte is dropped, not kept.
  core::Buffer<cf32> process(std::span<const std::uint8_t> bits);
  void set_gain(float g) { gain_ = g; }

 private:
  float gain_;
  dsp::Rotator osc_;
};

// Kernels (portable and FMA builds give identical bits).
void bpsk_mod_kernel(dsp::Rotator& osc, const std::uint8_t* bits, cf32* out, std::size_t n, float gain);
void bpsk_mod_kernel_portable(dsp::Rotator& osc, const std::uint8_t* bits, cf32* out, std::size_t n, float gain);
void bpsk_mod_kernel_fma(dsp::Rotator& osc, const std::uint8_t* bits, cf32* out, std::size_t n, float gain);
void qpsk_mod_kernel(dsp::Rotator& osc, const std::uint8_t* bits, cf32* out, std::size_t n, float gain);
void qpsk_mod_kernel_portable(dsp::Rotator& osc, const std::uint8_t* bits, cf32* out, std::size_t n, float gain);
void qpsk_mod_kernel_fma(dsp::Rotator& osc, const std::uint8_t* bits, cf32* out, std::size_t n, float gain);

}  // namespace vatel::modulate
