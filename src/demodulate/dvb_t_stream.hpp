#pragma once
// The DVB-T stream receiver: IQ pushed in pieces of any length, frames of
// one fixed symbol count and payload length located by guard-interval
// acquisition and decoded as soon as enough samples are buffered.
//
// The samples live in one stream buffer, compacted once per call; each
// decode is given only the window it can read.  After a failed
// frame the receiver looks for the TPS synchronisation word in the symbols
// it demodulated and resumes at the next frame start it finds, so a stream
// that starts mid-frame or slips by whole samples locks again within two
// frames.  In frames longer than 68 symbols the TPS word repeats every 68
// symbols, so such a frame start is ambiguous: the receiver takes the first
// word it finds and, if that was not the frame start, fails once more and
// moves on to the next word.
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "core/result.hpp"
#include "core/stream_buffer.hpp"
#include "core/types.hpp"
#include "demodulate/dvb_t_frame.hpp"
#include "sync/dvb_t_gi_sync.hpp"

namespace vatel::demodulate::dvb_t_stream {

using dvb_t_frame::DvbTFrameDemod;
using dvb_t_frame::DvbTRxOutcome;

class DvbTFrameStreamDemod {
 public:
  // A symbol count of 0 is refused: such frames consume nothing.
  static core::Result<DvbTFrameStreamDemod> create(const dvb_t_frame::DvbTFrameParams& params,
                                                   std::uint64_t n_symbols,
                                                   std::uint64_t payload_len,
                                                   bool integer_cfo_correction,
                                                   std::size_t rx_window_backoff);

  // Appends the samples and decodes every frame followed by at least one
  // more symbol period of samples; the outcomes in order.
  std::vector<DvbTRxOutcome> feed(std::span<const cf32> iq);
  // Decodes what the buffer still holds whole frames of, without waiting
  // for a further period; the rest stays buffered.
  std::vector<DvbTRxOutcome> flush();
  void clear() noexcept;

  std::size_t buffered() const noexcept { return buffer_.size(); }
  std::size_t rx_window_backoff() const noexcept { return demod_.rx_window_backoff(); }
  bool integer_cfo_correction() const noexcept { return demod_.integer_cfo_correction(); }

 private:
  DvbTFrameStreamDemod(const DvbTFrameDemod& demod, std::uint64_t n_symbols,
                       std::uint64_t payload_len);
  std::vector<DvbTRxOutcome> drain(bool final);
  // Samples to drop after a failed frame acquired at `start`.
  std::uint64_t resync(std::uint64_t start, std::uint64_t frame_len);

  core::StreamBuffer<cf32> buffer_;
  DvbTFrameDemod demod_;
  std::uint64_t n_symbols_;
  std::uint64_t payload_len_;
  std::size_t period_;
  dvb_t_frame::DvbTFrameWorkspace workspace_;
  sync::dvb_t_gi_sync::GiSearch search_;
  std::vector<std::uint8_t> tps_bits_;  // scratch of resync
};

}  // namespace vatel::demodulate::dvb_t_stream
