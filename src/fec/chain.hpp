#pragma once
// The frame coding chain of one section (a frame's payload, or its header):
// CRC, byte-domain scrambler, outer code, outer-stage interleaver, inner
// code, inner-stage interleaver, bit-domain scrambler, in that order, and
// the decoding chain that undoes them.  The block plan gives the length of
// the data after every stage without coding anything, so that transmitter
// and receiver agree on how many bits a section carries and where each
// stage's zero fill begins.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <variant>
#include <vector>

#include "fec/codec_cache.hpp"
#include "fec/frame.hpp"

namespace vatel::fec::chain {

// The lengths of one section's data after each stage.
struct BlockPlan {
  std::uint64_t payload_bytes = 0;
  std::uint64_t with_crc_bytes = 0;          // payload and its CRC
  std::uint64_t outer_bits = 0;              // after the outer code
  std::uint64_t outer_interleaved_bits = 0;  // the inner code's input
  std::uint64_t inner_bits = 0;              // after the inner code and puncturing
  std::uint64_t coded_bits = 0;              // after the inner-stage interleaver: on air

  friend bool operator==(const BlockPlan&, const BlockPlan&) = default;
};

// Bits one per byte: the inner code's input and the final coded bits.
struct EncodedStages {
  std::vector<std::uint8_t> outer_stage_bits;
  std::vector<std::uint8_t> coded_bits;
};

// The plan of a payload of `payload_len` bytes.  Builds (or fetches) the
// codes whose sizes it needs, with the panics of those builds; interleaver
// dimensions are not checked here.  A count that does not fit in 64 bits
// stops the call.
BlockPlan block_plan(std::uint64_t payload_len, CrcKind crc, const OuterFec& outer,
                     const InnerFec& inner, const InterleaverKind& outer_interleaver,
                     const InterleaverKind& inner_interleaver, CodecCache& cache);

// Codes a payload.  The lengths of the two results are outer_interleaved_bits
// and coded_bits of the plan of the same arguments.  `frame_seed` starts a
// per-frame LFSR scrambler; the LFSR is checked before any coding.
EncodedStages encode_chain_stages(std::span<const std::uint8_t> payload, CrcKind crc,
                                  const OuterFec& outer, const InnerFec& inner,
                                  const InterleaverKind& outer_interleaver,
                                  const InterleaverKind& inner_interleaver,
                                  const ScramblerKind& scrambler, ScramblerPosition position,
                                  std::uint32_t frame_seed, CodecCache& cache);

// What the decoding chain recovered of one section.
struct ChainOutcome {
  std::vector<std::uint8_t> payload;     // payload_bytes bytes, without the CRC
  std::vector<std::uint8_t> inner_bits;  // the inner decoder's output (LDPC: K per block)
  std::optional<std::uint32_t> rs_corrected;  // Reed-Solomon only: bytes corrected
  bool inner_ok = true;  // no inner block failed
  bool outer_ok = true;  // no outer block failed or was cut short
  bool crc_ok = true;    // the CRC matched (true without one)
  bool has_crc = false;
  bool has_outer = false;

  // The section's verdict: its CRC when it has one, else its outer code,
  // else its inner code (a convolutional or uncoded section without either
  // has nothing to check it with and counts as valid).
  bool is_valid() const noexcept {
    if (has_crc) return crc_ok;
    if (has_outer) return outer_ok;
    return inner_ok;
  }
};

using ChainResult = std::variant<ChainOutcome, RxError>;

// Decodes the soft values (positive favours bit 0) of a section coded with
// the same stage choices as `plan`.  Values beyond coded_bits are ignored;
// missing ones shorten the stages, and when too few bits survive to hold the
// CRC-protected bytes the result is RxError::MalformedHeader.  Failed blocks
// are never call errors: they clear inner_ok or outer_ok.
ChainResult decode_chain(std::span<const float> soft, const BlockPlan& plan, CrcKind crc,
                         const OuterFec& outer, const InnerFec& inner,
                         const InterleaverKind& outer_interleaver,
                         const InterleaverKind& inner_interleaver,
                         const ScramblerKind& scrambler, ScramblerPosition position,
                         std::uint32_t frame_seed, CodecCache& cache, LdpcDecodeRule rule);

// The stage choices of one section, described once for the encoder and the
// decoder of a link.
struct ChainSettings {
  CrcKind crc = CrcKind::None;
  OuterFec outer = OuterFec::none();
  InnerFec inner = InnerFec::none();
  InterleaverKind outer_interleaver = InterleaverKind::none();
  InterleaverKind inner_interleaver = InterleaverKind::none();
  ScramblerKind scrambler = ScramblerKind::none();
  ScramblerPosition position = ScramblerPosition::BeforeOuter;
};

inline BlockPlan block_plan(std::uint64_t payload_len, const ChainSettings& s, CodecCache& cache) {
  return block_plan(payload_len, s.crc, s.outer, s.inner, s.outer_interleaver,
                    s.inner_interleaver, cache);
}

inline EncodedStages encode_chain_stages(std::span<const std::uint8_t> payload,
                                         const ChainSettings& s, std::uint32_t frame_seed,
                                         CodecCache& cache) {
  return encode_chain_stages(payload, s.crc, s.outer, s.inner, s.outer_interleaver,
                             s.inner_interleaver, s.scrambler, s.position, frame_seed, cache);
}

inline ChainResult decode_chain(std::span<const float> soft, const BlockPlan& plan,
                                const ChainSettings& s, std::uint32_t frame_seed,
                                CodecCache& cache, LdpcDecodeRule rule) {
  return decode_chain(soft, plan, s.crc, s.outer, s.inner, s.outer_interleaver,
                      s.inner_interleaver, s.scrambler, s.position, frame_seed, cache, rule);
}

}  // namespace vatel::fec::chain

namespace vatel::fec {
using chain::block_plan;
using chain::BlockPlan;
using chain::ChainOutcome;
using chain::ChainResult;
using chain::ChainSettings;
using chain::decode_chain;
using chain::encode_chain_stages;
using chain::EncodedStages;
}  // namespace vatel::fec
