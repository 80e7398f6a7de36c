#pragma once
// The systematic LDPC(174, 91) code of FT8 and FT4: 91 bits (77 message bits
// and the CRC-14) followed by 83 parity bits.  Every codeword bit lies in
// exactly three of the 83 parity checks; a check covers six or seven bits.
#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

namespace vatel::codec::ldpc {

inline constexpr std::size_t kN = 174;  // codeword bits
inline constexpr std::size_t kK = 91;   // message and CRC bits
inline constexpr std::size_t kM = 83;   // parity bits and checks
inline constexpr std::size_t kEdges = 522;
inline constexpr unsigned kMaxIterations = 20;

// The published tables (generated into ldpc_tables.cpp).
extern const std::uint8_t GENERATOR[kM][12];
extern const std::uint8_t MN[kN][3];
extern const std::uint8_t NM[kM][7];
extern const std::uint8_t NRW[kM];

// 91 bits, most significant bit of byte 0 first, bits 91..95 zero.
using Block = std::array<std::uint8_t, 12>;
// 174 bits, most significant bit of byte 0 first, bits 174 and 175 zero.
using Codeword = std::array<std::uint8_t, 22>;

Codeword ldpc_encode(const Block& block);

// Sum-product decoding of 174 log-likelihood ratios (positive favours 0):
// writes the best hard decisions found within 20 iterations and returns the
// number of checks they leave unsatisfied (0 for a codeword).
unsigned ldpc_decode_soft(std::span<const float, kN> llr, std::span<std::uint8_t, kN> bits);

// Number of checks whose bits (the least significant bit of each byte) have
// odd parity.
unsigned ldpc_count_errors(std::span<const std::uint8_t, kN> bits);

// The rational approximations of tanh and atanh the decoder uses.
float tanh_approx(float x);
float atanh_approx(float y);

}  // namespace vatel::codec::ldpc
