#pragma once
// One frame's content as the caller of the frame link sees it: an opaque
// payload and the three fields the frame header carries with it.
#include <cstdint>
#include <vector>

namespace vatel::waveform::ofdm_frame {

struct FramePacket {
  std::vector<std::uint8_t> payload;
  std::uint32_t sequence_num = 0;
  std::uint8_t mcs_index = 0;  // into the McsTable of sender and receiver
  std::uint8_t flags = 0;

  friend bool operator==(const FramePacket&, const FramePacket&) = default;
};

}  // namespace vatel::waveform::ofdm_frame
