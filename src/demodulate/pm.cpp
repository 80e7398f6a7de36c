#include "demodulate/pm.hpp"

namespace vatel::demodulate {

core::Buffer<float> PmQuadratureDemod::process(std::span<const cf32> iq) {
  core::Buffer<float> out(iq.size());
  quadrature_discriminator_kernel(state_, iq.data(), out.data(), iq.size());
  return out;
}

}  // namespace vatel::demodulate
