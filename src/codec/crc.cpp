#include "codec/crc.hpp"

namespace vatel::codec::crc {

std::uint16_t crc14(const std::array<std::uint8_t, 10>& payload) {
  std::uint32_t r = 0;
  for (unsigned k = 0; k < 82; ++k) {
    const std::uint32_t b = k < 77 ? (payload[k / 8] >> (7 - k % 8)) & 1u : 0u;
    r ^= b << 13;
    r = (r & 0x2000u) ? (r << 1) ^ kCrc14Poly : r << 1;
    r &= 0x3FFFu;
  }
  return static_cast<std::uint16_t>(r);
}

}  // namespace vatel::codec::crc
