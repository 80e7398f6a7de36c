#pragma once
// The COFDM frame format on air, which the frame transmitter writes and the
// frame receivers read back:
//
//   repeated segment   num_repeats * repeat_len samples (the preamble)
//   training symbol    n_fft + cp_len
//   header             H = ceil(512 / D) BPSK symbols (14-byte header only)
//   payload            ceil(coded bits / (D * bits per point)) symbols
//
// The header is 14 bytes, multi-byte fields big-endian: mcs_index (1),
// payload length (4), sequence number (4), flags (1), per-frame seed (4).
// It is coded with its own fixed settings: the configuration's header CRC,
// no outer code, one LDPC n512r12 codeword, no interleaver or scrambler.
#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <vector>

#include "core/result.hpp"
#include "fec/chain.hpp"
#include "fec/codec_cache.hpp"
#include "multicarrier/config.hpp"
#include "waveform/frame_packet.hpp"
#include "waveform/mcs.hpp"
#include "waveform/ofdm_preamble.hpp"

namespace vatel::waveform::ofdm_frame {

using multicarrier::ConstellationOrder;
using multicarrier::OfdmConfig;

inline constexpr std::size_t kHeaderBytes = 14;
// The header's inner code; its 14 bytes and CRC fit one message block.
inline constexpr fec::InnerFec kHeaderInner = fec::InnerFec::ldpc(fec::LdpcCodeId::N512R12);

// The 14 header fields.
struct FrameHeader {
  std::uint8_t mcs_index = 0;
  std::uint32_t length = 0;  // the low 32 bits of the payload length
  std::uint32_t sequence_num = 0;
  std::uint8_t flags = 0;
  std::uint32_t seed = 0;

  std::array<std::uint8_t, kHeaderBytes> bytes() const noexcept;
  // The first 14 bytes read back (the span holds at least 14).
  static FrameHeader parse(std::span<const std::uint8_t> bytes) noexcept;
};

// The header's chain: the configuration's header CRC and the header's inner
// code, nothing else.
fec::ChainSettings header_chain(const OfdmConfig& cfg);
// The payload's chain for an entry: the configuration's CRC, interleavers
// and scrambler around the entry's outer and inner codes.
fec::ChainSettings payload_chain(const OfdmConfig& cfg, const Mcs& mcs);

// The header section's plan: 512 coded bits whatever the header CRC.
fec::BlockPlan header_plan(const OfdmConfig& cfg, fec::CodecCache& cache);
// The payload section's plan for an entry.
fec::BlockPlan payload_plan(const OfdmConfig& cfg, const Mcs& mcs, std::uint64_t length,
                            fec::CodecCache& cache);
// ceil(bits / (D * bits per point)): the symbols a section of `bits` coded
// bits occupies.
std::size_t section_symbols(const OfdmConfig& cfg, ConstellationOrder c, std::uint64_t bits);

// The preamble both ends of the link agree on: the repeated segment and the
// training symbol of the plan's own size.
ofdm_preamble::OfdmPreambleParams frame_preamble(const OfdmConfig& cfg, std::size_t num_repeats,
                                                   std::size_t repeat_len);

// What the transmitter and both receivers hold: copies of the configuration
// and the table's entries, and a shared handle to a codec cache.
struct FrameLink {
  OfdmConfig cfg;
  std::vector<Mcs> mcs_table;
  std::shared_ptr<fec::CodecCache> cache;

  // The cache given, or a private one when none is.  Then the checks, in
  // order: an empty table is an error; a carrier frequency is a violated
  // invariant (frames are assembled at baseband and moved up as a whole).
  static core::Result<FrameLink> create(const OfdmConfig& cfg, std::vector<Mcs> table,
                                        std::shared_ptr<fec::CodecCache> cache);
};

}  // namespace vatel::waveform::ofdm_frame
