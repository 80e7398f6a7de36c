#pragma once
// Square 16/64/256-QAM hard demodulator: carrier-removed samples scaled by
// the gain to unit average power and decided per axis.  No state but the
// order and the gain.
#include <cstdint>
#include <span>

#include "core/buffer.hpp"
#include "core/result.hpp"
#include "core/types.hpp"
#include "dsp/constellation.hpp"

namespace vatel::demodulate {

class QamDemod {
 public:
  // order 16, 64 or 256; anything else is an error value.
  static core::Result<QamDemod> create(std::uint32_t order, float gain);

  // 2m bits per sample, the real axis first, most significant bit first.
  core::Buffer<std::uint8_t> process(std::span<const cf32> iq);
  void set_gain(float g) { gain_ = g; }

  unsigned order() const { return table_.order; }

 private:
  QamDemod(const dsp::QamTable& table, float gain) : table_(table), gain_(gain) {}

  dsp::QamTable table_;
  float gain_;
};

}  // namespace vatel::demodulate
