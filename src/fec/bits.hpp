#pragma once
// Bits travel one per byte (only the least significant bit counts); packing
// into bytes is most significant bit first.
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace vatel::fec::bits {

// Eight bits per byte, most significant first.
std::vector<std::uint8_t> bytes_to_bits(std::span<const std::uint8_t> bytes);
// Eight bits per byte; a count that is not a multiple of 8 stops the call.
std::vector<std::uint8_t> bits_to_bytes(std::span<const std::uint8_t> bits);
// As bits_to_bytes after appending zero bits up to a multiple of 8.
std::vector<std::uint8_t> pack_bits_padded(std::span<const std::uint8_t> bits);

// Kernels over caller-owned buffers: out holds 8 * bytes.size() bits, or
// ceil(bits.size() / 8) bytes.
void unpack_into(std::span<const std::uint8_t> bytes, std::uint8_t* out) noexcept;
void pack_padded_into(std::span<const std::uint8_t> bits, std::uint8_t* out) noexcept;

}  // namespace vatel::fec::bits
