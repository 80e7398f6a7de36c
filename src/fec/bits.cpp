#include "fec/bits.hpp"

#include <string>

#include "core/checked.hpp"
#include "core/panic.hpp"

namespace vatel::fec::bits {

void unpack_into(std::span<const std::uint8_t> bytes, std::uint8_t* out) noexcept {
  for (std::uint8_t b : bytes)
    for (int k = 7; k >= 0; --k) *out++ = static_cast<std::uint8_t>((b >> k) & 1u);
}

void pack_padded_into(std::span<const std::uint8_t> bits, std::uint8_t* out) noexcept {
  const std::size_t whole = bits.size() / 8;
  for (std::size_t i = 0; i < whole; ++i) {
    unsigned v = 0;
    for (std::size_t k = 0; k < 8; ++k) v = (v << 1) | (bits[8 * i + k] & 1u);
    out[i] = static_cast<std::uint8_t>(v);
  }
  const std::size_t rest = bits.size() % 8;
  if (rest != 0) {
    unsigned v = 0;
    for (std::size_t k = 0; k < 8; ++k) v = (v << 1) | (k < rest ? (bits[8 * whole + k] & 1u) : 0u);
    out[whole] = static_cast<std::uint8_t>(v);
  }
}

std::vector<std::uint8_t> bytes_to_bits(std::span<const std::uint8_t> bytes) {
  std::vector<std::uint8_t> out(core::checked_mul(bytes.size(), 8, "bit count"));
  unpack_into(bytes, out.data());
  return out;
}

std::vector<std::uint8_t> bits_to_bytes(std::span<const std::uint8_t> bits) {
  if (bits.size() % 8 != 0)
    core::panic("assertion `left == right` failed: bit count must be a whole number of bytes\n"
                "  left: " + std::to_string(bits.size() % 8) + "\n right: 0");
  std::vector<std::uint8_t> out(bits.size() / 8);
  pack_padded_into(bits, out.data());
  return out;
}

std::vector<std::uint8_t> pack_bits_padded(std::span<const std::uint8_t> bits) {
  std::vector<std::uint8_t> out(bits.size() / 8 + (bits.size() % 8 != 0));
  pack_padded_into(bits, out.data());
  return out;
}

}  // namespace vatel::fec::bits
