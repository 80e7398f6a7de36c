#include "codec/tone_code.hpp"

#include "codec/crc.hpp"
#include "fec/bits.hpp"

namespace vatel::codec::tone_code {

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
  ldpc::Block b;
  fec::bits::pack_padded_into(std::span<const std::uint8_t>(bits, ldpc::kK), b.data());
  Payload p;
  for (std::size_t i = 0; i < 10; ++i) p[i] = b[i];
  p[9] &= 0xF8;
  // The received CRC: bits 77..90 of the block.
  unsigned received = 0;
  for (std::size_t i = 77; i < ldpc::kK; ++i) received = (received << 1) | bits[i];
  if (crc::crc14(p) != received) return std::nullopt;
  return p;
}

Payload whiten(const Payload& p, const std::array<std::uint8_t, 10>& key) {
  Payload w;
  for (std::size_t i = 0; i < 9; ++i) w[i] = p[i] ^ key[i];
  w[9] = static_cast<std::uint8_t>((p[9] & 0xF8) ^ key[9]);
  return w;
}

}  // namespace vatel::codec::tone_code
