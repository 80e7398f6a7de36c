#pragma once
// The FT8 codec: a 10-byte payload (77-bit message) becomes 91 bits with the
// CRC-14, 174 bits with LDPC(174, 91), and 58 eight-ary data tones through a
// Gray map.  Also the 79-symbol channel layout that the modulator, the
// demodulator and the synchroniser share: three 7x7 Costas arrays at
// symbols 0, 36 and 72 around two blocks of 29 data symbols.
#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

#include "codec/ldpc.hpp"
#include "core/buffer.hpp"
#include "core/result.hpp"

namespace vatel::codec {

using Payload = std::array<std::uint8_t, 10>;

namespace ft8 {

inline constexpr std::size_t kTones = 8;
inline constexpr std::size_t kBitsPerTone = 3;
inline constexpr std::size_t kDataTones = 58;
inline constexpr std::size_t kSymbols = 79;
inline constexpr std::array<std::uint8_t, 7> kCostas = {3, 1, 4, 0, 6, 5, 2};
inline constexpr std::array<std::size_t, 3> kSyncStarts = {0, 36, 72};
// Bit value v (three codeword bits, first most significant) to tone.
inline constexpr std::array<std::uint8_t, 8> kGray = {0, 1, 3, 2, 5, 6, 4, 7};

// Channel symbol index of each data tone.
inline constexpr std::array<std::uint8_t, kDataTones> kDataPositions = [] {
  std::array<std::uint8_t, kDataTones> p{};
  for (std::size_t k = 0; k < kDataTones; ++k) p[k] = static_cast<std::uint8_t>(k < 29 ? 7 + k : 43 + (k - 29));
  return p;
}();

// The 79 channel symbols: Costas arrays and the data tones in their places.
std::array<std::uint8_t, kSymbols> channel_symbols(std::span<const std::uint8_t, kDataTones> data);

}  // namespace ft8

// Pieces that FT8 and FT4 share.
namespace tone_code {

// The 91-bit block of a payload: bytes 0..8, byte 9 without its three spare
// bits, then the CRC-14 of those bits.
ldpc::Block payload_block(const Payload& payload);

// b-bit data tones of a codeword (3 for FT8, 2 for FT4) through a Gray map.
void codeword_tones(const ldpc::Codeword& cw, std::size_t bits_per_tone, const std::uint8_t* gray,
                    std::uint8_t* tones, std::size_t n_tones);

// Soft values of +10 (bit 0) and -10 (bit 1) from tones taken modulo 2^b.
std::array<float, ldpc::kN> tone_llr(std::span<const std::uint8_t> tones, std::size_t bits_per_tone,
                                     const std::uint8_t* gray);

// LDPC decoding and CRC check; the payload bytes as sent (byte 9 masked), or
// none.
std::optional<Payload> decode_block(std::span<const float, ldpc::kN> llr);

}  // namespace tone_code

class Ft8Codec {
 public:
  static std::array<std::uint8_t, ft8::kDataTones> encode_tones(const Payload& payload);
  static std::optional<Payload> decode_llr(std::span<const float, ldpc::kN> llr);
  static std::array<float, ldpc::kN> hard_llr(std::span<const std::uint8_t, ft8::kDataTones> tones);

  // The checked forms a binding calls.
  static core::Result<core::Buffer<std::uint8_t>> encode(std::span<const std::uint8_t> payload);
  static core::Result<std::optional<Payload>> decode_hard(std::span<const std::uint8_t> tones);
  static core::Result<std::optional<Payload>> decode_soft(std::span<const float> llr);
};

}  // namespace vatel::codec
