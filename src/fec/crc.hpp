#pragma once
// CRC-16/CCITT-FALSE and the reflected CRC-32 of IEEE 802.3 / zlib, and the
// appending and checking of a frame's CRC (most significant byte first).
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "fec/frame.hpp"

namespace vatel::fec::crc {

// Polynomial 0x1021, initial value 0xFFFF, no reflection, no final XOR.
std::uint16_t crc16(std::span<const std::uint8_t> data) noexcept;
// Reflected polynomial 0xEDB88320, initial and final XOR 0xFFFFFFFF.
std::uint32_t crc32(std::span<const std::uint8_t> data) noexcept;

// Appends the CRC of all of `bytes` (big-endian): 0, 2 or 4 bytes.
void append_crc(CrcKind kind, std::vector<std::uint8_t>& bytes);

// True when the last crc_bytes(kind) bytes, read big-endian, equal the CRC of
// the bytes before them (always true for CrcKind::None).  A block shorter than
// its CRC does not match.
bool crc_matches(CrcKind kind, std::span<const std::uint8_t> bytes) noexcept;

}  // namespace vatel::fec::crc

namespace vatel::fec {
using crc::crc16;
using crc::crc32;
}  // namespace vatel::fec
