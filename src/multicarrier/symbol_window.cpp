#include "multicarrier/symbol_window.hpp"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <string>

#include "core/panic.hpp"

namespace vatel::multicarrier {

namespace {
constexpr float kPi = 3.14159265f;  // the nearest 32-bit float
}

SymbolWindow::SymbolWindow(std::size_t symbol_len, std::size_t roll_off)
    : symbol_len_(symbol_len), roll_off_(roll_off) {
  VATEL_ENSURE(roll_off <= symbol_len, "SymbolWindow: roll_off " + std::to_string(roll_off) +
                                           " exceeds the symbol length " +
                                           std::to_string(symbol_len));
  ramp_.resize(roll_off);
  const float r = static_cast<float>(roll_off);
  for (std::size_t j = 0; j < roll_off; ++j)
    ramp_[j] = (1.0f - std::cos(((static_cast<float>(j) + 0.5f) * kPi) / r)) / 2.0f;
}

std::size_t SymbolWindow::process(std::span<const cf32> input, std::span<cf32> output) noexcept {
  const std::size_t L = symbol_len_;
  if (input.size() < L || output.size() < L) return 0;
  // memmove: windowing in place is allowed.
  std::memmove(output.data(), input.data(), L * sizeof(cf32));
  cf32* o = output.data();
  for (std::size_t j = 0; j < roll_off_; ++j) {
    const float w = ramp_[j];
    o[j] = {o[j].real() * w, o[j].imag() * w};
    o[L - 1 - j] = {o[L - 1 - j].real() * w, o[L - 1 - j].imag() * w};
  }
  return L;
}

}  // namespace vatel::multicarrier
