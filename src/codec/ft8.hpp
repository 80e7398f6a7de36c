#pragma once
// The FT8 codec: a 10-byte payload (77-bit message) becomes 91 bits with the
// CRC-14, 174 bits with LDPC(174, 91), and 58 eight-ary data tones through a
// Gray map.  Also the 79-symbol channel layout that the modulator, the
// demodulator and the synchroniser share: three 7x7 Costas arrays at
// symbols 0, 36 and 72 around two blocks of 29 data symbols.
#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

#include "codec/tone_code.hpp"

namespace vatel::codec {
namespace ft8 {

inline constexpr std::size_t kTones = 8;
inline constexpr std::size_t kBitsPerTone = 3;
inline constexpr std::size_t kDataTones = 58;
inline constexpr std::size_t kSymbols = 79;
inline constexpr std::array<std::uint8_t, 7> kCostas = {3, 1, 4, 0, 6, 5, 2};
inline constexpr std::array<std::size_t, 3> kSyncStarts = {0, 36, 72};
// The sync blocks in the form FT4 has them: the same Costas array each time.
inline constexpr std::array<std::array<std::uint8_t, 7>, 3> kSync = {kCostas, kCostas, kCostas};
// Bit value v (three codeword bits, first most significant) to tone.
inline constexpr std::array<std::uint8_t, 8> kGray = {0, 1, 3, 2, 5, 6, 4, 7};

// Channel symbol index of each data tone.
inline constexpr std::array<std::uint8_t, kDataTones> kDataPositions = [] {
  std::array<std::uint8_t, kDataTones> p{};
  for (std::size_t k = 0; k < kDataTones; ++k) p[k] = static_cast<std::uint8_t>(k < 29 ? 7 + k : 43 + (k - 29));
  return p;
}();

// 160 ms symbols: 1920 samples at 12 kHz, tones 12000 / 1920 Hz apart.
inline constexpr std::size_t kSamplesPerSymbol = 1920;
inline constexpr float kSpacing = 6.25f;

// FT8 as the shared templates take it (see codec/tone_code.hpp).
struct Traits {
  static constexpr const char* kName = "Ft8";
  static constexpr std::size_t kTones = ft8::kTones;
  static constexpr std::size_t kBitsPerTone = ft8::kBitsPerTone;
  static constexpr std::size_t kDataTones = ft8::kDataTones;
  static constexpr std::size_t kSymbols = ft8::kSymbols;
  static constexpr const auto& kSync = ft8::kSync;
  static constexpr const auto& kSyncStarts = ft8::kSyncStarts;
  static constexpr const auto& kDataPositions = ft8::kDataPositions;
  static constexpr const auto& kGray = ft8::kGray;
  static constexpr std::size_t kSamplesPerSymbol = ft8::kSamplesPerSymbol;
  static constexpr float kSpacing = ft8::kSpacing;
  static constexpr bool kWhitened = false;
};

// The 79 channel symbols: Costas arrays and the data tones in their places.
inline std::array<std::uint8_t, kSymbols> channel_symbols(std::span<const std::uint8_t, kDataTones> data) {
  return tone_code::channel_symbols<Traits>(data);
}

}  // namespace ft8

using Ft8Codec = ToneCodec<ft8::Traits>;

}  // namespace vatel::codec
