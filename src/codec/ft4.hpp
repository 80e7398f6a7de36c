#pragma once
// The FT4 codec: as FT8 but with the payload whitened before the CRC, and 87
// four-ary data tones.  The 105-symbol channel layout: a ramp symbol (tone 0)
// at each end and four 4-symbol sync blocks at symbols 1, 34, 67 and 100
// around three blocks of 29 data symbols.
#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

#include "codec/tone_code.hpp"

namespace vatel::codec {
namespace ft4 {

inline constexpr std::size_t kTones = 4;
inline constexpr std::size_t kBitsPerTone = 2;
inline constexpr std::size_t kDataTones = 87;
inline constexpr std::size_t kSymbols = 105;
inline constexpr std::array<std::array<std::uint8_t, 4>, 4> kSync = {{
    {0, 1, 3, 2}, {1, 0, 2, 3}, {2, 3, 1, 0}, {3, 2, 0, 1}}};
inline constexpr std::array<std::size_t, 4> kSyncStarts = {1, 34, 67, 100};
inline constexpr std::array<std::uint8_t, 4> kGray = {0, 1, 3, 2};
// XORed onto the payload before the CRC, so that a message of zeros does not
// send a run of equal tones; the last byte leaves the three spare bits alone.
inline constexpr std::array<std::uint8_t, 10> kWhitening = {0x4A, 0x5E, 0x89, 0xB4, 0xB0,
                                                           0x8A, 0x79, 0x55, 0xBE, 0x28};

inline constexpr std::array<std::uint8_t, kDataTones> kDataPositions = [] {
  std::array<std::uint8_t, kDataTones> p{};
  for (std::size_t k = 0; k < kDataTones; ++k)
    p[k] = static_cast<std::uint8_t>(k < 29 ? 5 + k : k < 58 ? 38 + (k - 29) : 71 + (k - 58));
  return p;
}();

// 48 ms symbols: 576 samples at 12 kHz, tones 12000 / 576 Hz apart (in
// single precision).
inline constexpr std::size_t kSamplesPerSymbol = 576;
inline constexpr float kSpacing = 20.833334f;

// FT4 as the shared templates take it (see codec/tone_code.hpp).
struct Traits {
  static constexpr const char* kName = "Ft4";
  static constexpr std::size_t kTones = ft4::kTones;
  static constexpr std::size_t kBitsPerTone = ft4::kBitsPerTone;
  static constexpr std::size_t kDataTones = ft4::kDataTones;
  static constexpr std::size_t kSymbols = ft4::kSymbols;
  static constexpr const auto& kSync = ft4::kSync;
  static constexpr const auto& kSyncStarts = ft4::kSyncStarts;
  static constexpr const auto& kDataPositions = ft4::kDataPositions;
  static constexpr const auto& kGray = ft4::kGray;
  static constexpr std::size_t kSamplesPerSymbol = ft4::kSamplesPerSymbol;
  static constexpr float kSpacing = ft4::kSpacing;
  static constexpr bool kWhitened = true;
  static constexpr const auto& kWhitening = ft4::kWhitening;
};

inline std::array<std::uint8_t, kSymbols> channel_symbols(std::span<const std::uint8_t, kDataTones> data) {
  return tone_code::channel_symbols<Traits>(data);
}

}  // namespace ft4

using Ft4Codec = ToneCodec<ft4::Traits>;

}  // namespace vatel::codec
