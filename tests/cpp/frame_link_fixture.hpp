#pragma once
// Configurations and tables shared by the frame-link tests.
#include <cstdint>
#include <ostream>
#include <vector>

#include "modulate/ofdm_frame.hpp"
#include "waveform/ofdm_frame.hpp"
#include "multicarrier/config.hpp"

namespace vatel::testing {

// 64-point FFT, 16-sample prefix, pilots at -21, -7, 7, 21 and the 48 data
// carriers between the edge guard of 5 (carriers -26 to 26); CRC-16 header, CRC-32 payload.
inline multicarrier::OfdmConfig frame_config(float fs = 1.0e6f) {
  const std::int32_t pilots[] = {-21, -7, 7, 21};
  const cf32 values[] = {{1, 0}, {1, 0}, {1, 0}, {-1, 0}};
  return multicarrier::OfdmConfig::create(64, 16, {}, pilots, values, fs, 0.0f, 1.0f,
                                          multicarrier::ConstellationOrder::Qpsk, 5)
      .value();
}

inline waveform::ofdm_frame::Mcs mcs(multicarrier::ConstellationOrder c,
                                     fec::InnerFec inner = fec::InnerFec::none(),
                                     fec::OuterFec outer = fec::OuterFec::none()) {
  return {outer, inner, c};
}

// BPSK, QPSK, 16- and 64-QAM with LDPC n512r12 and BCH t = 8.
inline std::vector<waveform::ofdm_frame::Mcs> default_ladder() {
  return waveform::ofdm_frame::default_ladder();
}

}  // namespace vatel::testing

namespace vatel::waveform::ofdm_frame {
inline void PrintTo(const FramePacket& p, std::ostream* os) {
  *os << "{" << p.payload.size() << " bytes, seq " << p.sequence_num << ", mcs "
      << int(p.mcs_index) << ", flags " << int(p.flags) << "}";
}
}  // namespace vatel::waveform::ofdm_frame
