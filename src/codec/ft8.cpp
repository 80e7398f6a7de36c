#include "codec/ft8.hpp"

#include <string>

#include "codec/crc.hpp"

namespace vatel::codec {

namespace ft8 {

std::array<std::uint8_t, kSymbols> channel_symbols(std::span<const std::uint8_t, kDataTones> data) {
  std::array<std::uint8_t, kSymbols> s{};
  for (const std::size_t start : kSyncStarts)
    for (std::size_t j = 0; j < kCostas.size(); ++j) s[start + j] = kCostas[j];
  for (std::size_t k = 0; k < kDataTones; ++k) s[kDataPositions[k]] = data[k];
  return s;
}

}  // namespace ft8

namespace tone_code {

ldpc::Block payload_block(const Payload& payload) {
  Payload m = payload;
  m[9] &= 0xF8;
  const std::uint16_t c = crc::crc14(m);
  ldpc::Block b{};
  for (std::size_t i = 0; i < 9; ++i) b[i] = m[i];
  b[9] = static_cast<std::uint8_t>(m[9] | (c >> 11));
  b[10] = static_cast<std::uint8_t>((c >> 3) & 0xFF);
  b[11] = static_cast<std::uint8_t>((c & 7) << 5);
  return b;
}

void codeword_tones(const ldpc::Codeword& cw, std::size_t bits_per_tone, const std::uint8_t* gray,
                    std::uint8_t* tones, std::size_t n_tones) {
  for (std::size_t k = 0; k < n_tones; ++k) {
    unsigned v = 0;
    for (std::size_t i = 0; i < bits_per_tone; ++i) {
      const std::size_t bit = bits_per_tone * k + i;
      v = (v << 1) | ((cw[bit / 8] >> (7 - bit % 8)) & 1u);
    }
    tones[k] = gray[v];
  }
}

std::array<float, ldpc::kN> tone_llr(std::span<const std::uint8_t> tones, std::size_t bits_per_tone,
                                     const std::uint8_t* gray) {
  const std::size_t order = std::size_t{1} << bits_per_tone;
  std::uint8_t inverse[8] = {};
  for (std::size_t v = 0; v < order; ++v) inverse[gray[v]] = static_cast<std::uint8_t>(v);
  std::array<float, ldpc::kN> llr{};
  for (std::size_t k = 0; k < tones.size(); ++k) {
    const unsigned v = inverse[tones[k] & (order - 1)];
    for (std::size_t i = 0; i < bits_per_tone; ++i) {
      const unsigned bit = (v >> (bits_per_tone - 1 - i)) & 1u;
      llr[bits_per_tone * k + i] = bit ? -10.0f : 10.0f;
    }
  }
  return llr;
}

std::optional<Payload> decode_block(std::span<const float, ldpc::kN> llr) {
  std::uint8_t bits[ldpc::kN];
  if (ldpc::ldpc_decode_soft(llr, std::span<std::uint8_t, ldpc::kN>(bits, ldpc::kN)) != 0) return std::nullopt;
  ldpc::Block b{};
  for (std::size_t i = 0; i < ldpc::kK; ++i)
    if (bits[i]) b[i / 8] |= static_cast<std::uint8_t>(0x80u >> (i % 8));
  Payload p;
  for (std::size_t i = 0; i < 10; ++i) p[i] = b[i];
  p[9] &= 0xF8;
  // The received CRC: bits 77..90 of the block.
  unsigned received = 0;
  for (std::size_t i = 77; i < ldpc::kK; ++i) received = (received << 1) | bits[i];
  if (crc::crc14(p) != received) return std::nullopt;
  return p;
}

}  // namespace tone_code

std::array<std::uint8_t, ft8::kDataTones> Ft8Codec::encode_tones(const Payload& payload) {
  const ldpc::Codeword cw = ldpc::ldpc_encode(tone_code::payload_block(payload));
  std::array<std::uint8_t, ft8::kDataTones> tones;
  tone_code::codeword_tones(cw, ft8::kBitsPerTone, ft8::kGray.data(), tones.data(), tones.size());
  return tones;
}

std::optional<Payload> Ft8Codec::decode_llr(std::span<const float, ldpc::kN> llr) {
  return tone_code::decode_block(llr);
}

std::array<float, ldpc::kN> Ft8Codec::hard_llr(std::span<const std::uint8_t, ft8::kDataTones> tones) {
  return tone_code::tone_llr(tones, ft8::kBitsPerTone, ft8::kGray.data());
}

core::Result<core::Buffer<std::uint8_t>> Ft8Codec::encode(std::span<const std::uint8_t> payload) {
  if (payload.size() != 10)
    return core::error("Ft8Codec.encode: expected 10-byte payload, got " + std::to_string(payload.size()));
  Payload p;
  for (std::size_t i = 0; i < 10; ++i) p[i] = payload[i];
  const auto tones = encode_tones(p);
  core::Buffer<std::uint8_t> out(tones.size());
  for (std::size_t i = 0; i < tones.size(); ++i) out[i] = tones[i];
  return out;
}

core::Result<std::optional<Payload>> Ft8Codec::decode_hard(std::span<const std::uint8_t> tones) {
  if (tones.size() != ft8::kDataTones)
    return core::error("Ft8Codec.decode_hard: expected 58 tones, got " + std::to_string(tones.size()));
  const auto llr = hard_llr(std::span<const std::uint8_t, ft8::kDataTones>(tones.data(), ft8::kDataTones));
  return decode_llr(llr);
}

core::Result<std::optional<Payload>> Ft8Codec::decode_soft(std::span<const float> llr) {
  if (llr.size() != ldpc::kN)
    return core::error("Ft8Codec.decode_soft: expected 174 LLRs, got " + std::to_string(llr.size()));
  return decode_llr(std::span<const float, ldpc::kN>(llr.data(), ldpc::kN));
}

}  // namespace vatel::codec
