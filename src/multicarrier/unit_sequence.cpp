#include "multicarrier/unit_sequence.hpp"

#include "core/xorshift.hpp"

namespace vatel::multicarrier {
namespace {

constexpr float kUnit = 0.70710677f;  // 1/sqrt(2)

// The sign of u * 2^-64 - 0.5 in 32-bit floats.
inline float component(std::uint64_t u) {
  const float x = static_cast<float>(u) * 5.42101086242752217e-20f - 0.5f;
  return x >= 0.0f ? kUnit : -kUnit;
}

}  // namespace

std::vector<cf32> pseudo_random_unit_sequence(std::size_t count, std::uint64_t seed) {
  std::vector<cf32> out(count);
  std::uint64_t s = seed;
  for (cf32& v : out) {
    const float re = component(core::xorshift64(s));
    const float im = component(core::xorshift64(s));
    v = {re, im};
  }
  return out;
}

}  // namespace vatel::multicarrier
