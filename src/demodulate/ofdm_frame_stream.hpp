#pragma once
// The COFDM frame stream receiver: bursts found by their preamble in
// samples delivered in pieces of any size, each decoded as soon as the
// samples its header announces have arrived.
#include <cstddef>
#include <memory>
#include <optional>
#include <span>
#include <variant>
#include <vector>

#include "core/result.hpp"
#include "core/stream_buffer.hpp"
#include "core/types.hpp"
#include "demodulate/ofdm_frame.hpp"
#include "dsp/rotator.hpp"
#include "multicarrier/training_smoother.hpp"
#include "sync/ofdm_sync.hpp"
#include "sync/preamble_screen.hpp"

namespace vatel::demodulate::ofdm_frame {

using StreamResult = std::variant<RxFrame, fec::RxError>;

class OfdmFrameStreamDemod {
 public:
  // As the transmitter's checks, and a preamble that the search can find:
  // at least two repeats of at least one sample.
  static core::Result<OfdmFrameStreamDemod> create(const OfdmConfig& cfg, std::vector<Mcs> table,
                                                   std::size_t num_repeats, std::size_t repeat_len,
                                                   std::shared_ptr<fec::CodecCache> cache);

  // Appends the samples, then decodes every frame the buffer completes.
  std::vector<StreamResult> feed(std::span<const cf32> iq);
  // Decodes what the buffer holds now; no samples are added or padded.
  std::vector<StreamResult> flush();
  // Forgets every buffered sample (the capacity stays).
  void clear() noexcept;
  std::size_t buffered() const noexcept { return buffer_.size(); }

  float score_threshold = 0.5f;
  bool estimate_channel = false;
  bool measure_pre_fec = false;

 private:
  OfdmFrameStreamDemod() = default;
  // The earliest start whose exact score is kept, among those that can be
  // judged now (d + A <= buf.size()); none when there is none.
  std::optional<std::size_t> earliest_preamble(std::span<const cf32> buf);
  // What one preamble gave: a result and the samples it consumes, or none
  // and the buffer length the frame needs (positions relative to `buf`).
  struct Step {
    std::optional<StreamResult> result;
    std::size_t consumed = 0;
    std::size_t wait_for = 0;
  };
  Step decode_at(std::span<const cf32> buf, std::size_t earliest);
  void derotate(std::span<const cf32> buf, std::size_t t, std::size_t upto);

  waveform::ofdm_frame::FrameLink link_;
  // The frame preamble without its training symbol: what the search looks for.
  sync::ofdm_sync::OfdmPreambleParams segments_;
  core::StreamBuffer<cf32> buffer_;
  // The buffered samples a pending frame needs before it is tried again;
  // 0: none pending.
  std::size_t wait_for_ = 0;
  FrameScratch scratch_;
  float fs_ = 0.0f;
  std::size_t span_ = 0;  // A: repeats and training symbol
  std::size_t symbol_ = 0;  // S
  std::size_t header_symbols_ = 0;
  sync::PreambleScreen screen_;
  // The de-rotated frame: tail_[i] = buffer[t + i] turned by i + 1 steps.
  std::vector<cf32> tail_;
  dsp::Rotator derotator_;
  std::optional<sync::ofdm_sync::IntegerCfoSearch> integer_cfo_;
  multicarrier::TrainingSmoother smoother_;
};

}  // namespace vatel::demodulate::ofdm_frame
