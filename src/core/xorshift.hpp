#pragma once
// The 64-bit xorshift generator (shifts 13, 7, 17): the pseudo-random draws
// that both ends of a link must reproduce bit for bit, such as the training
// and preamble sequences and the LDPC codes' parity-check layout.
#include <cstdint>

namespace vatel::core {

// Advances the state and returns it; a zero state stays zero.
inline std::uint64_t xorshift64(std::uint64_t& s) noexcept {
  s ^= s << 13;
  s ^= s >> 7;
  s ^= s << 17;
  return s;
}

}  // namespace vatel::core
