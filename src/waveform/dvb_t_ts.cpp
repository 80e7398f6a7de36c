#include "waveform/dvb_t_ts.hpp"

#include <algorithm>
#include <array>
#include <string>

#include "core/checked.hpp"
#include "core/panic.hpp"
#include "fec/scrambler.hpp"

namespace vatel::waveform::dvb_t_ts {

std::vector<std::uint8_t> ts_packetize(std::span<const std::uint8_t> payload) {
  const std::size_t n = static_cast<std::size_t>(ts_packet_count(payload.size()));
  std::vector<std::uint8_t> out(core::checked_mul(n, kPacketLen, "TS packet stream"), 0);
  for (std::size_t i = 0, from = 0; i < n; ++i) {
    std::uint8_t* packet = out.data() + i * kPacketLen;
    packet[0] = kSyncByte;
    const std::size_t take = std::min(kPacketPayload, payload.size() - from);
    std::copy_n(payload.data() + from, take, packet + 1);
    from += take;
  }
  return out;
}

void append_null_packet(std::vector<std::uint8_t>& stream) {
  const std::size_t at = stream.size();
  stream.resize(core::checked_add(at, kPacketLen, "TS packet stream"), 0xFF);
  stream[at] = kSyncByte;
  stream[at + 1] = 0x1F;
  stream[at + 2] = 0xFF;
  stream[at + 3] = 0x10;
}

void ts_energy_disperse(std::span<std::uint8_t> stream) {
  const std::size_t rest = stream.size() % kPacketLen;
  VATEL_ENSURE(rest == 0, "assertion `left == right` failed: TS energy dispersal needs whole "
                          "188-byte packets\n  left: " + std::to_string(rest) + "\n right: 0");
  const std::size_t n = stream.size() / kPacketLen;
  if (n == 0) return;
  // The sequence of one group, from its load after the inverted sync byte:
  // it runs on through the other seven sync bytes without touching them, so
  // packet g of a group takes key bytes g x 188 onward.
  std::array<std::uint8_t, kDispersalGroup * kPacketLen - 1> key{};
  fec::DvbTEnergyDispersal prbs;
  prbs.feed_in_place(key);
  for (std::size_t i = 0; i < n; ++i) {
    std::uint8_t* packet = stream.data() + i * kPacketLen;
    const std::size_t g = i % kDispersalGroup;
    if (g == 0) packet[0] = static_cast<std::uint8_t>(~packet[0]);
    const std::uint8_t* k = key.data() + g * kPacketLen;
    for (std::size_t j = 0; j < kPacketPayload; ++j) packet[1 + j] ^= k[j];
  }
}

std::optional<std::vector<std::uint8_t>> ts_depacketize(std::span<const std::uint8_t> stream) {
  if (stream.empty() || stream.size() % kPacketLen != 0) return std::nullopt;
  const std::size_t n = stream.size() / kPacketLen;
  std::vector<std::uint8_t> out(n * kPacketPayload);
  for (std::size_t i = 0; i < n; ++i)
    std::copy_n(stream.data() + i * kPacketLen + 1, kPacketPayload, out.data() + i * kPacketPayload);
  return out;
}

}  // namespace vatel::waveform::dvb_t_ts
