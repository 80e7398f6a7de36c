#pragma once
// A modulation-and-coding scheme of the frame link: the constellation of a
// frame's payload symbols and the outer and inner codes of its payload.  A
// frame's mcs_index selects one from a table that sender and receiver hold
// alike; nothing on air describes the entry itself.
#include <cstdint>
#include <string_view>
#include <vector>

#include "core/result.hpp"

#include "fec/frame.hpp"
#include "multicarrier/config.hpp"

namespace vatel::waveform::ofdm_frame {

struct Mcs {
  fec::OuterFec outer_fec{};
  fec::InnerFec inner_fec{};
  multicarrier::ConstellationOrder constellation = multicarrier::ConstellationOrder::Qpsk;

  friend bool operator==(const Mcs&, const Mcs&) = default;
};

// BPSK, QPSK, 16-QAM and 64-QAM, each with LDPC n512r12 inside BCH t = 8,
// at indices 0 to 3.
std::vector<Mcs> default_ladder();

// "n512r12", "n576r23" or "n512r34"; otherwise "unknown LDPC code {:?}".
core::Result<fec::LdpcCodeId> parse_ldpc(std::string_view text);
// "1/2", "2/3", "3/4", "5/6" or "7/8"; otherwise "unknown puncture rate {:?}".
core::Result<fec::PunctureRate> parse_rate(std::string_view text);

// The entry that McsTable.add appends, keywords matched exactly in this
// order: constellation, inner kind (with its code read only for ldpc and the
// convolutional kinds), outer kind.  outer_a and outer_b are kept unchanged
// whatever the variant uses and are not validated here.
core::Result<Mcs> mcs_from_keywords(std::string_view constellation, std::string_view inner_kind,
                                    std::string_view inner_code, std::string_view outer_kind,
                                    std::uint64_t outer_a, std::uint64_t outer_b);

}  // namespace vatel::waveform::ofdm_frame
