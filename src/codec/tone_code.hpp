#pragma once
// What the FT8 and FT4 codecs share: the 91-bit CRC block of a 10-byte
// payload, LDPC(174, 91), b-bit data tones through a Gray map, and the channel
// layout of sync blocks around the data tones.  Each mode describes itself
// by a traits struct (codec::ft8::Traits, codec::ft4::Traits):
//
//   kName                     "Ft8": the prefix of the class names in error texts
//   kTones, kBitsPerTone      the tone alphabet, 2^kBitsPerTone tones
//   kDataTones, kSymbols      data tones per transmission, channel symbols
//   kSync, kSyncStarts        the sync blocks, and the symbol each begins at
//   kDataPositions            the channel symbol of each data tone
//   kGray                     bit value v (first bit most significant) to tone
//   kSamplesPerSymbol         at the nominal 12 kHz
//   kSpacing                  tone spacing in Hz, 12000 / kSamplesPerSymbol
//   kWhitened                 whether the payload is XORed with a key before
//                             the CRC; kWhitening, the key, where it is
#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>

#include "codec/ldpc.hpp"
#include "core/buffer.hpp"
#include "core/result.hpp"

namespace vatel::codec {

using Payload = std::array<std::uint8_t, 10>;

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

// The payload XORed with a whitening key, byte 9 without its spare bits (the
// key leaves them alone).  Its own inverse on the 77 message bits.
Payload whiten(const Payload& p, const std::array<std::uint8_t, 10>& key);

// The channel symbols of mode M: the sync blocks and the data tones in their
// places; symbols in neither (the FT4 ramp symbols) stay tone 0.
template <class M>
std::array<std::uint8_t, M::kSymbols> channel_symbols(std::span<const std::uint8_t, M::kDataTones> data) {
  std::array<std::uint8_t, M::kSymbols> s{};
  for (std::size_t b = 0; b < M::kSyncStarts.size(); ++b)
    for (std::size_t j = 0; j < M::kSync[b].size(); ++j) s[M::kSyncStarts[b] + j] = M::kSync[b][j];
  for (std::size_t k = 0; k < M::kDataTones; ++k) s[M::kDataPositions[k]] = data[k];
  return s;
}

}  // namespace tone_code

// The codec of mode M: a 10-byte payload (77-bit message) to M::kDataTones
// data tones and back.  Ft8Codec and Ft4Codec name it.
template <class M>
class ToneCodec {
 public:
  static std::array<std::uint8_t, M::kDataTones> encode_tones(const Payload& payload) {
    const ldpc::Codeword cw = ldpc::ldpc_encode(tone_code::payload_block(whitened(payload)));
    std::array<std::uint8_t, M::kDataTones> tones;
    tone_code::codeword_tones(cw, M::kBitsPerTone, M::kGray.data(), tones.data(), tones.size());
    return tones;
  }

  static std::optional<Payload> decode_llr(std::span<const float, ldpc::kN> llr) {
    // The CRC was formed on the whitened bits, so it is checked before the
    // whitening is removed.
    const auto p = tone_code::decode_block(llr);
    if (!p) return std::nullopt;
    return whitened(*p);
  }

  static std::array<float, ldpc::kN> hard_llr(std::span<const std::uint8_t, M::kDataTones> tones) {
    return tone_code::tone_llr(tones, M::kBitsPerTone, M::kGray.data());
  }

  // The checked forms a binding calls.
  static core::Result<core::Buffer<std::uint8_t>> encode(std::span<const std::uint8_t> payload) {
    if (payload.size() != 10)
      return core::error(name() + ".encode: expected 10-byte payload, got " + std::to_string(payload.size()));
    Payload p;
    for (std::size_t i = 0; i < 10; ++i) p[i] = payload[i];
    const auto tones = encode_tones(p);
    core::Buffer<std::uint8_t> out(tones.size());
    for (std::size_t i = 0; i < tones.size(); ++i) out[i] = tones[i];
    return out;
  }

  static core::Result<std::optional<Payload>> decode_hard(std::span<const std::uint8_t> tones) {
    if (tones.size() != M::kDataTones)
      return core::error(name() + ".decode_hard: expected " + std::to_string(M::kDataTones) + " tones, got " +
                         std::to_string(tones.size()));
    return decode_llr(hard_llr(std::span<const std::uint8_t, M::kDataTones>(tones.data(), M::kDataTones)));
  }

  static core::Result<std::optional<Payload>> decode_soft(std::span<const float> llr) {
    if (llr.size() != ldpc::kN)
      return core::error(name() + ".decode_soft: expected 174 LLRs, got " + std::to_string(llr.size()));
    return decode_llr(std::span<const float, ldpc::kN>(llr.data(), ldpc::kN));
  }

 private:
  static std::string name() { return std::string(M::kName) + "Codec"; }

  static Payload whitened(const Payload& p) {
    if constexpr (M::kWhitened)
      return tone_code::whiten(p, M::kWhitening);
    else
      return p;
  }
};

}  // namespace vatel::codec
