#include "fec/scrambler.hpp"

#include "core/panic.hpp"
#include "fec/bits.hpp"

namespace vatel::fec::scrambler {

namespace {

std::uint32_t width_mask(std::uint8_t width) noexcept {
  return width >= 32 ? 0xFFFFFFFFu : ((1u << width) - 1u);
}

// The key stream of `count` bytes, as the scrambler would XOR it onto zeros.
std::vector<std::uint8_t> key_bytes(const PnScrambler& s, std::size_t count) {
  std::vector<std::uint8_t> key(count, 0);
  s.scramble(key);
  return key;
}

}  // namespace

PnScrambler PnScrambler::from_kind(const ScramblerKind& kind, std::uint32_t frame_seed) {
  VATEL_ENSURE(kind.kind == ScramblerKind::Kind::Lfsr, "PnScrambler built from a non-LFSR kind");
  if (kind.width < 2 || kind.width > 32) core::panic("LFSR width must be in 2..=32");
  const std::uint32_t mask = width_mask(kind.width);
  std::uint32_t seed =
      (kind.seed.kind == LfsrSeed::Kind::Fixed ? kind.seed.value : frame_seed) & mask;
  if (seed == 0) seed = 1;
  if ((kind.taps & ~mask) != 0) core::panic("LFSR taps must fit in `width` bits");
  return PnScrambler{kind.taps, kind.width, seed};
}

void PnScrambler::scramble(std::span<std::uint8_t> bytes) const noexcept {
  const std::uint32_t mask = width_mask(width);
  const unsigned top = width - 1u;
  std::uint32_t s = state;
  for (std::uint8_t& byte : bytes) {
    unsigned v = byte;
    for (unsigned j = 0; j < 8; ++j) {
      v ^= (s & 1u) << j;
      const std::uint32_t feedback = static_cast<std::uint32_t>(__builtin_parity(s & taps));
      s = ((s >> 1) | (feedback << top)) & mask;
    }
    byte = static_cast<std::uint8_t>(v);
  }
}

void DvbTEnergyDispersal::feed_in_place(std::span<std::uint8_t> bytes) noexcept {
  unsigned r = reg;
  for (std::uint8_t& byte : bytes) {
    unsigned v = byte;
    for (int k = 7; k >= 0; --k) {
      // Stages 14 and 15 feed back into stage 1 and whiten the data bit.
      const unsigned out = (r ^ (r >> 1)) & 1u;
      v ^= out << k;
      r = (r >> 1) | (out << 14);
    }
    byte = static_cast<std::uint8_t>(v);
  }
  reg = static_cast<std::uint16_t>(r);
}

void scramble_bytes(const ScramblerKind& kind, std::uint32_t frame_seed,
                    std::span<std::uint8_t> bytes) {
  switch (kind.kind) {
    case ScramblerKind::Kind::None: return;
    case ScramblerKind::Kind::Lfsr: PnScrambler::from_kind(kind, frame_seed).scramble(bytes); return;
    case ScramblerKind::Kind::DvbTEnergyDispersal: {
      DvbTEnergyDispersal prbs;
      prbs.feed_in_place(bytes);
      return;
    }
  }
}

void scramble_bits(const PnScrambler& scrambler, std::span<std::uint8_t> bits) {
  const auto key = key_bytes(scrambler, bits.size() / 8 + (bits.size() % 8 != 0));
  for (std::size_t i = 0; i < bits.size(); ++i)
    bits[i] = static_cast<std::uint8_t>((bits[i] & 1u) ^ ((key[i / 8] >> (7 - i % 8)) & 1u));
}

void descramble_soft(const PnScrambler& scrambler, std::span<float> soft) {
  const auto key = key_bytes(scrambler, soft.size() / 8 + (soft.size() % 8 != 0));
  for (std::size_t i = 0; i < soft.size(); ++i)
    if ((key[i / 8] >> (7 - i % 8)) & 1u) soft[i] = -soft[i];
}

}  // namespace vatel::fec::scrambler
