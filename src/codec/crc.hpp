#pragma once
// The FT8/FT4 CRC-14: polynomial 0x2757 (x^14 + x^13 + x^10 + x^9 + x^8 + x^6
// + x^4 + x^2 + x + 1), register starting at 0, most significant bit first,
// no reflection, no final XOR.
#include <array>
#include <cstdint>

namespace vatel::codec::crc {

inline constexpr std::uint16_t kCrc14Poly = 0x2757;

// The CRC over the 77 message bits of a payload followed by five zero bits,
// which is how the protocol pads the message to 82 bits before the CRC.
std::uint16_t crc14(const std::array<std::uint8_t, 10>& payload);

}  // namespace vatel::codec::crc
