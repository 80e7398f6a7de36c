#pragma once
// The COFDM frame receivers: the frame body decoder shared by both (header
// symbols, then the payload symbols the header announces) and the one-frame
// receiver of an aligned burst.  The stream receiver, which finds bursts in
// samples delivered in pieces of any size, is in ofdm_frame_stream.hpp.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <variant>
#include <vector>

#include "core/result.hpp"
#include "core/types.hpp"
#include "demodulate/ofdm.hpp"
#include "fec/chain.hpp"
#include "fec/codec_cache.hpp"
#include "multicarrier/config.hpp"
#include "multicarrier/equalizer.hpp"
#include "multicarrier/grid.hpp"
#include "multicarrier/symbol_fft.hpp"
#include "waveform/ofdm_frame.hpp"

namespace vatel::demodulate::ofdm_frame {

using waveform::ofdm_frame::FrameHeader;
using waveform::ofdm_frame::FramePacket;
using waveform::ofdm_frame::Mcs;
using multicarrier::ConstellationOrder;
using multicarrier::OfdmConfig;

// The straight line phi(s) = slope * s + intercept fitted to a section's
// common-phase estimates.
struct PhaseLine {
  float slope = 0.0f;
  float intercept = 0.0f;
};

// Buffers the caller owns and passes to every decode, so that their
// capacity (and the transforms they hold) persist between frames.
struct FrameScratch {
  // The payload's data cells as demapped, D per symbol.
  std::vector<cf32> cells;
  // One hard decision per payload soft value (1 for a value <= 0).
  std::vector<std::uint8_t> bits;

  // Working storage of the section demodulation.
  struct Work {
    multicarrier::CarrierPlan plan;  // the plan the pieces below were made for
    std::optional<multicarrier::SymbolFft> fft;
    std::optional<multicarrier::GridExtract> grid;
    std::optional<multicarrier::OfdmEqualizer> equalizer;
    std::vector<cf32> spectrum;  // one equalised or phase-corrected spectrum
    std::vector<cf32> backoff_ramp;  // undoes an early window's phase ramp
    std::vector<cf32> section;   // a whole equalised section, for the tracker
    std::vector<cf32> rotated;   // one symbol's cells as the tracker turns them
    std::vector<cf32> points;    // the points decided for cells
    std::vector<float> symbol_llrs;
    std::vector<float> phases;
    std::vector<float> gains;         // |H|^2 of each data cell
    std::vector<float> unit_gains;    // the same without a channel estimate
    std::vector<float> symbol_noise;  // per symbol of a section
    std::vector<float> median_scratch;
    std::vector<float> header_soft;
    std::vector<float> payload_soft;
  } work;
};

struct FrameBody {
  std::vector<std::uint8_t> payload;
  std::uint32_t sequence_num = 0;
  std::uint8_t mcs_index = 0;
  std::uint8_t flags = 0;
  std::optional<float> evm_db;
  std::optional<float> pre_fec_ber;
  std::optional<float> outer_stage_ber;
  std::uint64_t samples_used = 0;  // header and payload symbols
  bool inner_ok = false;
  bool outer_ok = false;
};

// One frame as the stream receiver reports it: the body and how it was
// acquired.
struct RxFrame : FrameBody {
  std::optional<float> cfo_hz;                       // total offset removed
  std::optional<std::int32_t> timing_offset_samples;  // preamble start in the buffer
  std::optional<float> sync_score;
  std::optional<std::vector<cf32>> channel_estimate;  // per FFT bin
};

// The samples end before the symbols the header announces (or before the
// header): not an error, more samples may complete the frame.
struct Incomplete {
  std::uint64_t samples_needed = 0;  // from the first header sample
};

using FrameOutcome = std::variant<FrameBody, fec::RxError, Incomplete>;

// What the header of a frame announced.
struct HeaderStage {
  FrameHeader header;
  const Mcs* mcs = nullptr;
  fec::BlockPlan payload_plan;
  std::size_t header_symbols = 0;
  std::size_t payload_symbols = 0;
  std::optional<PhaseLine> header_phase;  // the header's tracked phase line

  // Samples of header and payload symbols together.
  std::uint64_t samples(const OfdmConfig& cfg) const;
};

using HeaderOutcome = std::variant<HeaderStage, fec::RxError, Incomplete>;

// The number of header symbols of a configuration.
std::size_t header_symbols(const OfdmConfig& cfg, fec::CodecCache& cache);

// Decodes the header; `samples` start at the first header sample, already
// frequency-corrected.  With a training spectrum (the n_fft bins of the
// received training symbol) the cells are equalised and phase-tracked.
HeaderOutcome decode_frame_header(const OfdmConfig& cfg, std::span<const Mcs> table,
                                  std::span<const cf32> samples,
                                  std::optional<std::span<const cf32>> training_spectrum,
                                  fec::CodecCache& cache, FrameScratch& scratch);

// Decodes the payload the header announced, from the same samples; the
// equaliser of the header stage is reused.
FrameOutcome decode_frame_payload(const OfdmConfig& cfg, const HeaderStage& stage,
                                  std::span<const cf32> samples, bool with_equalizer,
                                  fec::CodecCache& cache, bool measure_pre_fec,
                                  FrameScratch& scratch);

// Header, then payload.
FrameOutcome decode_frame_body(const OfdmConfig& cfg, std::span<const Mcs> table,
                               std::span<const cf32> samples,
                               std::optional<std::span<const cf32>> training_spectrum,
                               fec::CodecCache& cache, bool measure_pre_fec,
                               FrameScratch& scratch);

// The common-phase tracker of an equalised section of `count` symbols of D
// cells: a decision-directed loop started at phase theta and drift omega
// gives one phase estimate per symbol; a least-squares line through them
// is removed from the cells.  Returns the line (none when the fit is
// degenerate and the cells stay as they were).
std::optional<PhaseLine> track_common_phase(std::span<cf32> cells, std::size_t D,
                                            std::size_t count, ConstellationOrder c,
                                            float theta, float omega, FrameScratch::Work& work);

// The one-frame receiver: samples start at the first header sample; no
// equaliser.
class OfdmFrameDemod {
 public:
  static core::Result<OfdmFrameDemod> create(const OfdmConfig& cfg, std::vector<Mcs> table,
                                             std::shared_ptr<fec::CodecCache> cache);
  // The packet, or the receive error's text ("malformed frame header" also
  // for samples that end early).
  core::Result<FramePacket> decode(std::span<const cf32> iq) const;

 private:
  OfdmFrameDemod() = default;
  waveform::ofdm_frame::FrameLink link_;
};

}  // namespace vatel::demodulate::ofdm_frame
