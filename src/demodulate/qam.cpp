#include "demodulate/qam.hpp"

#include "core/checked.hpp"
#include "demodulate/decider.hpp"

namespace vatel::demodulate {

core::Result<QamDemod> QamDemod::create(std::uint32_t order, float gain) {
  const dsp::QamTable* t = dsp::qam_table(order);
  if (t == nullptr) return core::error("QamDemod: order must be 16, 64, or 256");
  return QamDemod(*t, gain);
}

core::Buffer<std::uint8_t> QamDemod::process(std::span<const cf32> iq) {
  const std::size_t k = 2 * table_.bits_per_axis;
  core::Buffer<std::uint8_t> out(core::checked_mul(iq.size(), k, "QamDemod output"));
  switch (table_.bits_per_axis) {
    case 2: qam_decide_points<2>(table_, iq.data(), iq.size(), out.data(), gain_); break;
    case 3: qam_decide_points<3>(table_, iq.data(), iq.size(), out.data(), gain_); break;
    default: qam_decide_points<4>(table_, iq.data(), iq.size(), out.data(), gain_); break;
  }
  return out;
}

}  // namespace vatel::demodulate
