#pragma once
// BPSK and QPSK demodulators: baseband samples (carrier already removed),
// scaled by the gain and decided one by one.  No state but the gain.
#include <cstdint>
#include <span>

#include "core/buffer.hpp"
#include "core/types.hpp"

namespace vatel::demodulate {

class BpskDemod {
 public:
  explicit BpskDemod(float gain) : gain_(gain) {}
  core::Buffer<std::uint8_t> process(std::span<const cf32> iq);
  void set_gain(float g) { gain_ = g; }

 private:
  float gain_;
};

class QpskDemod {
 public:
  explicit QpskDemod(float gain) : gain_(gain) {}
  // Two bits per sample: [I0, Q0, I1, Q1, ...].
  core::Buffer<std::uint8_t> process(std::span<const cf32> iq);
  void set_gain(float g) { gain_ = g; }

 private:
  float gain_;
};

}  // namespace vatel::demodulate
