#include "codec/ft4.hpp"

#include <string>

namespace vatel::codec {

namespace ft4 {

std::array<std::uint8_t, kSymbols> channel_symbols(std::span<const std::uint8_t, kDataTones> data) {
  std::array<std::uint8_t, kSymbols> s{};  // symbols 0 and 104 stay tone 0
  for (std::size_t b = 0; b < kSyncStarts.size(); ++b)
    for (std::size_t j = 0; j < 4; ++j) s[kSyncStarts[b] + j] = kSync[b][j];
  for (std::size_t k = 0; k < kDataTones; ++k) s[kDataPositions[k]] = data[k];
  return s;
}

}  // namespace ft4

namespace {

Payload whiten(const Payload& p) {
  Payload w;
  for (std::size_t i = 0; i < 9; ++i) w[i] = p[i] ^ ft4::kWhitening[i];
  w[9] = static_cast<std::uint8_t>((p[9] & 0xF8) ^ ft4::kWhitening[9]);
  return w;
}

}  // namespace

std::array<std::uint8_t, ft4::kDataTones> Ft4Codec::encode_tones(const Payload& payload) {
  const ldpc::Codeword cw = ldpc::ldpc_encode(tone_code::payload_block(whiten(payload)));
  std::array<std::uint8_t, ft4::kDataTones> tones;
  tone_code::codeword_tones(cw, ft4::kBitsPerTone, ft4::kGray.data(), tones.data(), tones.size());
  return tones;
}

std::optional<Payload> Ft4Codec::decode_llr(std::span<const float, ldpc::kN> llr) {
  // The CRC was formed on the whitened bits, so it is checked before the
  // whitening is removed.
  const auto p = tone_code::decode_block(llr);
  if (!p) return std::nullopt;
  return whiten(*p);
}

std::array<float, ldpc::kN> Ft4Codec::hard_llr(std::span<const std::uint8_t, ft4::kDataTones> tones) {
  return tone_code::tone_llr(tones, ft4::kBitsPerTone, ft4::kGray.data());
}

core::Result<core::Buffer<std::uint8_t>> Ft4Codec::encode(std::span<const std::uint8_t> payload) {
  if (payload.size() != 10)
    return core::error("Ft4Codec.encode: expected 10-byte payload, got " + std::to_string(payload.size()));
  Payload p;
  for (std::size_t i = 0; i < 10; ++i) p[i] = payload[i];
  const auto tones = encode_tones(p);
  core::Buffer<std::uint8_t> out(tones.size());
  for (std::size_t i = 0; i < tones.size(); ++i) out[i] = tones[i];
  return out;
}

core::Result<std::optional<Payload>> Ft4Codec::decode_hard(std::span<const std::uint8_t> tones) {
  if (tones.size() != ft4::kDataTones)
    return core::error("Ft4Codec.decode_hard: expected 87 tones, got " + std::to_string(tones.size()));
  const auto llr = hard_llr(std::span<const std::uint8_t, ft4::kDataTones>(tones.data(), ft4::kDataTones));
  return decode_llr(llr);
}

core::Result<std::optional<Payload>> Ft4Codec::decode_soft(std::span<const float> llr) {
  if (llr.size() != ldpc::kN)
    return core::error("Ft4Codec.decode_soft: expected 174 LLRs, got " + std::to_string(llr.size()));
  return decode_llr(std::span<const float, ldpc::kN>(llr.data(), ldpc::kN));
}

}  // namespace vatel::codec
