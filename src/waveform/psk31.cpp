#include "waveform/psk31.hpp"

#include <cmath>
#include <string>

#include "core/checked.hpp"
#include "core/panic.hpp"

namespace vatel::waveform::psk31 {
namespace {

constexpr float kPi = 3.1415927f;

}  // namespace

std::size_t samples_per_symbol(float fs) { return core::saturating_u64(std::round(fs / kSymbolRate)); }

std::vector<float> make_hann(std::size_t n) {
  if (n == 0) return {};
  if (n == 1) return {1.0f};
  std::vector<float> w(n);
  const float last = static_cast<float>(n - 1);
  for (std::size_t i = 0; i < n; ++i) w[i] = 0.5f - 0.5f * std::cos(static_cast<float>(i) * kPi / last);
  return w;
}

std::size_t checked_sps(float fs, const char* who) {
  const std::size_t sps = samples_per_symbol(fs);
  if (sps > kMaxSps)
    core::panic(std::string(who) + ": fs " + std::to_string(fs) + " Hz gives " + std::to_string(sps) +
                " samples per symbol, more than the limit of " + std::to_string(kMaxSps));
  return sps;
}

}  // namespace vatel::waveform::psk31
