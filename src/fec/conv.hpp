#pragma once
// Rate-1/2 feed-forward convolutional codes, K = 5 and K = 7 (generators 171
// and 133 octal, EN 300 744 clause 4.3.3), terminated by zero tail bits,
// punctured to higher rates, and decoded by a whole-block soft Viterbi.
#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "fec/frame.hpp"

namespace vatel::fec::conv {

// The shift register holds the current input at bit `memory` and the
// previous inputs below it, the most recent at bit memory - 1; an output bit
// is the parity of the register ANDed with its mask.
struct ConvCode {
  unsigned memory;
  unsigned first_mask;
  unsigned second_mask;
  constexpr unsigned states() const noexcept { return 1u << memory; }
};
inline constexpr ConvCode kK5{4, 0x15, 0x13};  // 1 + D^2 + D^4, 1 + D^3 + D^4
inline constexpr ConvCode kK7{6, 0x79, 0x5B};  // 171 and 133 octal

constexpr const ConvCode& code_of(bool k7) noexcept { return k7 ? kK7 : kK5; }

// One trellis transition: entry 2s + u of the table for state s, input u.
struct Branch {
  std::uint16_t next;
  std::uint8_t output;  // first output bit * 2 + second output bit
};

// The 2 * 2^memory transitions of a code.
std::vector<Branch> branch_table(const ConvCode& code);

// A puncturing pattern: pair i sends its first output when first[i mod p]
// and its second when second[i mod p].  The rows are EN 300 744's Table 2
// with X and Y exchanged; the receiver depunctures with the same rows.
struct PuncturePattern {
  std::size_t period;
  std::array<std::uint8_t, 7> first;
  std::array<std::uint8_t, 7> second;
  std::size_t kept_per_period;
};
const PuncturePattern& puncture_pattern(PunctureRate rate) noexcept;

// 2 * (bits + memory) coded bits: each input (then each tail zero) gives its
// first and second output, from state 0.
std::vector<std::uint8_t> conv_encode(std::span<const std::uint8_t> bits, bool k7);
// The coded bits the pattern keeps, in order.
std::vector<std::uint8_t> puncture(std::span<const std::uint8_t> coded, PunctureRate rate);
// The number of bits puncture() keeps of `pairs` coded pairs.
std::size_t punctured_length(std::size_t pairs, PunctureRate rate);
// 2 * pairs soft values: the received values at the kept positions, in
// order while any remain, 0.0 (no information) elsewhere.
std::vector<float> depuncture(std::span<const float> soft, PunctureRate rate, std::size_t pairs);

// Maximum-correlation Viterbi decoding of 2 * (message_len + memory) soft
// values (positive favours bit 0) of a block that starts and ends in state
// 0; returns message_len bits.  Ties keep the lowest predecessor state.
std::vector<std::uint8_t> viterbi_decode(std::span<const float> soft, bool k7,
                                         std::size_t message_len);

// The two builds of the trellis pass, exposed so that a test can hold them
// to the same bits: the portable scalar one and the AVX2 one (only callable
// when the CPU has AVX2).
std::vector<std::uint8_t> viterbi_decode_portable(std::span<const float> soft, bool k7,
                                                  std::size_t message_len);
std::vector<std::uint8_t> viterbi_decode_avx2(std::span<const float> soft, bool k7,
                                              std::size_t message_len);
bool viterbi_avx2_available() noexcept;

}  // namespace vatel::fec::conv

namespace vatel::fec {
using conv::Branch;
}  // namespace vatel::fec
