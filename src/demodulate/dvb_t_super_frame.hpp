#pragma once
// The DVB-T super-frame demodulator: four consecutive frames, each acquired
// afresh in its own slice and decoded by the frame demodulator, checked for
// the TPS frame numbers 0, 1, 2, 3, with the 16-bit cell id put back
// together from the cell-id bytes of frames 2 and 3.
#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "core/result.hpp"
#include "core/types.hpp"
#include "demodulate/dvb_t_frame.hpp"
#include "waveform/dvb_t.hpp"

namespace vatel::demodulate::dvb_t_super_frame {

using waveform::dvb_t::DvbTSuperFrameParams;

struct DvbTRxSuperFrame {
  std::vector<std::uint8_t> payload;  // the four payloads in frame order
  std::uint16_t cell_id = 0;
};

class DvbTSuperFrameDemod : public dvb_t_frame::RxOptions<DvbTSuperFrameDemod> {
 public:
  explicit DvbTSuperFrameDemod(const DvbTSuperFrameParams& params) : params_(params) {}

  const DvbTSuperFrameParams& params() const noexcept { return params_; }

  // Frames of symbols_per_frame symbols each, carrying the given payload
  // lengths, every one decoded with this demodulator's options.  Frame i is
  // read from sample i x F on (F the frame length); before frame i >= 1 the
  // buffer must hold (i + 1) x F samples.
  core::Result<DvbTRxSuperFrame> decode(std::span<const cf32> samples,
                                        std::uint64_t symbols_per_frame,
                                        const std::array<std::uint64_t, 4>& frame_payload_lens) const;

 private:
  DvbTSuperFrameParams params_;
};

}  // namespace vatel::demodulate::dvb_t_super_frame
