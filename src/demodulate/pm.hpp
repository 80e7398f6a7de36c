#pragma once
// PM demodulator: the FM discriminator's phase step between consecutive
// samples times k.  It outputs the step, not the absolute phase.
#include <span>

#include "core/buffer.hpp"
#include "core/types.hpp"
#include "demodulate/fm.hpp"

namespace vatel::demodulate {

class PmQuadratureDemod {
 public:
  PmQuadratureDemod(float fs, float k, float audio_bw_hz) : state_(fs, k, audio_bw_hz) {}

  // One audio sample per input sample.
  core::Buffer<float> process(std::span<const cf32> iq);

 private:
  QuadratureDiscriminator state_;
};

}  // namespace vatel::demodulate
