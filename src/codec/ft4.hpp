#pragma once
// The FT4 codec: as FT8 but with the payload whitened before the CRC, and 87
// four-ary data tones.  The 105-symbol channel layout: a ramp symbol (tone 0)
// at each end and four 4-symbol sync blocks at symbols 1, 34, 67 and 100
// around three blocks of 29 data symbols.
#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

#include "codec/ft8.hpp"

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

std::array<std::uint8_t, kSymbols> channel_symbols(std::span<const std::uint8_t, kDataTones> data);

}  // namespace ft4

class Ft4Codec {
 public:
  static std::array<std::uint8_t, ft4::kDataTones> encode_tones(const Payload& payload);
  static std::optional<Payload> decode_llr(std::span<const float, ldpc::kN> llr);
  static std::array<float, ldpc::kN> hard_llr(std::span<const std::uint8_t, ft4::kDataTones> tones);

  static core::Result<core::Buffer<std::uint8_t>> encode(std::span<const std::uint8_t> payload);
  static core::Result<std::optional<Payload>> decode_hard(std::span<const std::uint8_t> tones);
  static core::Result<std::optional<Payload>> decode_soft(std::span<const float> llr);
};

}  // namespace vatel::codec
