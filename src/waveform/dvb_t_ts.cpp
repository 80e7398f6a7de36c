#include "waveform/dvb_t_ts.hpp"

#include <algorithm>
#include <string>

#include "core/checked.hpp"
#include "core/panic.hpp"
#include "fec/scrambler.hpp"

namespace vatel::waveform::dvb_t_ts {

std::vector<std::uint8_t> ts_packetize(std::span<const std::uint8_t> payload) {
  const std::size_t n = std::max<std::size_t>(1, payload.size() / kPacketPayload +
                                                     (payload.size() % kPacketPayload != 0));
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
  fec::DvbTEnergyDispersal prbs;
  for (std::size_t i = 0, n = stream.size() / kPacketLen; i < n; ++i) {
    std::uint8_t* packet = stream.data() + i * kPacketLen;
    if (i % kDispersalGroup == 0) {
      packet[0] = static_cast<std::uint8_t>(~packet[0]);
      prbs.reg = fec::DvbTEnergyDispersal::kInitial;
    } else {
      // The sequence runs on through the sync byte without touching it.
      std::uint8_t skipped = 0;
      prbs.feed_in_place({&skipped, 1});
    }
    prbs.feed_in_place({packet + 1, kPacketPayload});
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
