#include "fec/gf.hpp"

namespace vatel::fec::gf {

Gf256::Gf256() noexcept {
  unsigned a = 1;
  for (unsigned i = 0; i < 255; ++i) {
    exp[i] = static_cast<std::uint8_t>(a);
    log[a] = static_cast<std::uint8_t>(i);
    a <<= 1;
    if (a >= 256) a ^= 0x11D;
  }
  for (unsigned i = 255; i < 512; ++i) exp[i] = exp[i - 255];
}

const Gf256& shared_tables() noexcept {
  // A function-local static: the C++ runtime's one-time initialisation.
  static const Gf256 tables;
  return tables;
}

}  // namespace vatel::fec::gf
