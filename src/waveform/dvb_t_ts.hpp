#pragma once
// The transport-stream container of a DVB-T frame: 188-byte packets, each a
// sync byte 0x47 and 187 payload bytes (no header fields are written or
// read), the null packets that fill a frame's spare room, and the energy
// dispersal of packet groups (EN 300 744 clause 4.3.1).
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace vatel::waveform::dvb_t_ts {

inline constexpr std::size_t kPacketLen = 188;
inline constexpr std::size_t kPacketPayload = 187;
inline constexpr std::uint8_t kSyncByte = 0x47;
// Packets per dispersal group: the group's first sync byte is inverted and
// the sequence restarts there.
inline constexpr std::size_t kDispersalGroup = 8;

// The packets of an L-byte payload: ceil(L / 187), at least one.
constexpr std::uint64_t ts_packet_count(std::uint64_t payload_len) noexcept {
  const std::uint64_t n = payload_len / kPacketPayload + (payload_len % kPacketPayload != 0);
  return n == 0 ? 1 : n;
}
// ts_packet_count(L) packets; the last packet's spare bytes are 0.
std::vector<std::uint8_t> ts_packetize(std::span<const std::uint8_t> payload);
// The null packet 47 1F FF 10, then 184 bytes FF.
void append_null_packet(std::vector<std::uint8_t>& stream);
// In place over whole packets (anything else stops the call); applied twice
// it gives back its input.
void ts_energy_disperse(std::span<std::uint8_t> stream);
// Bytes 1 ..= 187 of every packet, or nothing when the length is 0 or not
// whole packets.  Sync bytes are dropped without a test.
std::optional<std::vector<std::uint8_t>> ts_depacketize(std::span<const std::uint8_t> stream);

}  // namespace vatel::waveform::dvb_t_ts
