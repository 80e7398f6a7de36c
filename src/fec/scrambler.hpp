#pragma once
// Additive scramblers: the Fibonacci LFSR whitener of the frame chain and the
// DVB-T energy-dispersal sequence 1 + x^14 + x^15 (EN 300 744, clause 4.3.1).
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "fec/frame.hpp"

namespace vatel::fec::scrambler {

// An additive Fibonacci LFSR.  A fresh value is built for every use;
// scramble() works on a copy of the state, so the value can be reused.
struct PnScrambler {
  std::uint32_t taps = 0;
  std::uint8_t width = 0;  // 2 ..= 32
  std::uint32_t state = 0;

  // Builds the scrambler of an Lfsr kind: the fixed seed, or `frame_seed`
  // for a per-frame seed, masked to `width` bits, an all-zero state replaced
  // by 1.  Stops the call on a width outside 2..=32 or taps beyond it.
  static PnScrambler from_kind(const ScramblerKind& kind, std::uint32_t frame_seed);

  // XORs the key stream onto the bytes, least significant bit of each byte
  // first.  Scrambling twice from the same state restores the data.
  void scramble(std::span<std::uint8_t> bytes) const noexcept;
};

// The DVB-T energy-dispersal PRBS.  Stage 1 of the register is bit 14,
// stage 15 bit 0; the register runs on from one call to the next.
struct DvbTEnergyDispersal {
  // The initialisation sequence "100101010000000" in stages 1 to 15.
  static constexpr std::uint16_t kInitial = 0x4A80;
  std::uint16_t reg = kInitial;

  // XORs the sequence onto the bytes, most significant bit first.
  void feed_in_place(std::span<std::uint8_t> bytes) noexcept;
};

// Byte-domain scrambling (and its undoing, the same call): nothing for None,
// the LFSR, or the energy dispersal restarted from its initial value.
void scramble_bytes(const ScramblerKind& kind, std::uint32_t frame_seed,
                    std::span<std::uint8_t> bytes);

// Bit-stream scrambling after the inner code: the bits are packed most
// significant first, scrambled as bytes and unpacked, so coded bit 8q + j is
// XORed with key bit 8q + 7 - j.
void scramble_bits(const PnScrambler& scrambler, std::span<std::uint8_t> bits);
// Its inverse on soft values: the sign changes wherever the key bit is 1.
void descramble_soft(const PnScrambler& scrambler, std::span<float> soft);

}  // namespace vatel::fec::scrambler

namespace vatel::fec {
using scrambler::DvbTEnergyDispersal;
using scrambler::PnScrambler;
}  // namespace vatel::fec
