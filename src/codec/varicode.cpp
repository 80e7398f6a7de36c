#include "codec/varicode.hpp"

#include <utility>

namespace vatel::codec::varicode {

void VaricodeEncoder::push_byte(std::uint8_t b) {
  if (!at_gap_) bits_.insert(bits_.end(), {0, 0});
  at_gap_ = false;
  const VaricodeEntry e = b >= 0x80 ? kNulCode : VARICODE_TABLE[b];
  for (int i = e.length - 1; i >= 0; --i) bits_.push_back(static_cast<std::uint8_t>((e.code >> i) & 1u));
}

void VaricodeEncoder::push_preamble(std::size_t n) {
  bits_.insert(bits_.end(), n, 0);
  at_gap_ = true;
}

void VaricodeEncoder::push_postamble(std::size_t n) {
  if (!at_gap_) bits_.insert(bits_.end(), {0, 0});
  bits_.insert(bits_.end(), n, 1);
}

std::vector<std::uint8_t> VaricodeEncoder::drain_bits() { return std::exchange(bits_, {}); }

void VaricodeDecoder::push_bit(std::uint8_t b) {
  if (b == 0 && nbits_ == 0) return;  // idle at a boundary
  if (b != 0 || !last_zero_) {
    shift_ = static_cast<std::uint16_t>((shift_ << 1) | (b & 1u));
    if (nbits_ < 11) ++nbits_;
    last_zero_ = b == 0;
    return;
  }
  // Second zero of a pair: the boundary.  The first zero of the pair is not
  // part of the code.
  if (nbits_ >= 2) {
    const unsigned length = nbits_ - 1u;
    const unsigned code = shift_ >> 1;
    for (unsigned i = 0; i < 128; ++i) {
      if (VARICODE_TABLE[i].code == code && VARICODE_TABLE[i].length == length) {
        decoded_.push_back(static_cast<std::uint8_t>(i));
        break;
      }
    }
  }
  shift_ = 0;
  nbits_ = 0;
  last_zero_ = false;
}

std::vector<std::uint8_t> VaricodeDecoder::pop_bytes() { return std::exchange(decoded_, {}); }

}  // namespace vatel::codec::varicode
