#include "multicarrier/cyclic_prefix.hpp"

#include <algorithm>
#include <string>

#include "core/panic.hpp"

namespace vatel::multicarrier::cyclic_prefix {

void add_cyclic_prefix(std::span<const cf32> time, std::size_t n_fft, std::size_t cp_len,
                       std::span<cf32> out) {
  VATEL_ENSURE(cp_len <= n_fft, "add_cyclic_prefix: cyclic prefix of " + std::to_string(cp_len) +
                                    " samples is longer than the " + std::to_string(n_fft) +
                                    "-sample symbol");
  // n_fft + cp_len cannot wrap here: cp_len <= n_fft <= time.size().
  if (time.size() < n_fft || out.size() < cp_len || out.size() - cp_len < n_fft) return;
  std::copy_n(time.data() + (n_fft - cp_len), cp_len, out.data());
  std::copy_n(time.data(), n_fft, out.data() + cp_len);
}

void remove_cyclic_prefix(std::span<const cf32> symbol, std::size_t n_fft, std::size_t cp_len,
                          std::span<cf32> out) noexcept {
  if (out.size() < n_fft || symbol.size() < cp_len || symbol.size() - cp_len < n_fft) return;
  std::copy_n(symbol.data() + cp_len, n_fft, out.data());
}

}  // namespace vatel::multicarrier::cyclic_prefix
