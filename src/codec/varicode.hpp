#pragma once
// PSK31 Varicode: the variable-length character code of PSK31.  No code holds
// two consecutive zeros, so a pair of zeros marks the boundary between
// characters.
#include <cstddef>
#include <cstdint>
#include <vector>

namespace vatel::codec::varicode {

struct VaricodeEntry {
  std::uint16_t code;   // right-aligned; the first bit sent is bit (length - 1)
  std::uint8_t length;  // 1 to 10
};

// The published table for byte values 0 to 127.
extern const VaricodeEntry VARICODE_TABLE[128];

// Bytes 0x80 and above have no code of their own and are sent as NUL.
inline constexpr VaricodeEntry kNulCode{0x2AB, 10};

// Turns bytes into a queue of bits, one bit per byte, oldest first.
class VaricodeEncoder {
 public:
  // The separator (two zeros) unless at a gap, then the byte's code.
  void push_byte(std::uint8_t b);
  // n zeros, after which the next character needs no separator.
  void push_preamble(std::size_t n);
  // The separator unless at a gap, then n ones.
  void push_postamble(std::size_t n);
  std::vector<std::uint8_t> drain_bits();
  bool is_empty() const noexcept { return bits_.empty(); }

 private:
  std::vector<std::uint8_t> bits_;
  bool at_gap_ = true;
};

// Turns a stream of bits back into bytes.
//
// A zero that arrives right at a character boundary is idle, not the start of
// a character: codes begin with a one, so counting it would only make the
// next character's length wrong (an odd idle run would swallow the character
// after it).
class VaricodeDecoder {
 public:
  void push_bit(std::uint8_t b);
  std::vector<std::uint8_t> pop_bytes();
  // The decoded bytes not yet taken, oldest first.
  const std::vector<std::uint8_t>& decoded() const noexcept { return decoded_; }
  void clear_decoded() noexcept { decoded_.clear(); }

 private:
  std::vector<std::uint8_t> decoded_;
  std::uint16_t shift_ = 0;  // bits since the boundary, newest in bit 0
  bool last_zero_ = false;
  std::uint8_t nbits_ = 0;   // saturates at 11
};

}  // namespace vatel::codec::varicode
