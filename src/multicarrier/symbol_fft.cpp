#include "multicarrier/symbol_fft.hpp"

#include <algorithm>
#include <string>

#include "core/panic.hpp"

namespace vatel::multicarrier {

SymbolFft::SymbolFft(std::size_t n_fft, std::size_t cp_len)
    : fft_(n_fft), input_(n_fft), output_(n_fft), n_fft_(n_fft), cp_len_(cp_len) {}

void SymbolFft::set_backoff(std::size_t backoff) {
  VATEL_ENSURE(backoff <= cp_len_, "SymbolFft: back-off " + std::to_string(backoff) +
                                       " exceeds the cyclic prefix of " +
                                       std::to_string(cp_len_) + " samples");
  backoff_ = backoff;
}

void SymbolFft::process(std::span<const cf32> symbol) {
  const std::size_t start = cp_len_ - backoff_;  // backoff_ <= cp_len_ by set_backoff
  VATEL_ENSURE(symbol.size() >= start && symbol.size() - start >= n_fft_,
               "SymbolFft: symbol of " + std::to_string(symbol.size()) +
                   " samples is shorter than the FFT window end");
  std::copy_n(symbol.data() + start, n_fft_, input_.data());
  fft_.process(input_, output_);
}

}  // namespace vatel::multicarrier
