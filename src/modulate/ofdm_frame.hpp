#pragma once
// The COFDM frame transmitter: one burst per call, in the frame format of
// waveform/ofdm_frame.hpp.
#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "core/buffer.hpp"
#include "core/result.hpp"
#include "core/types.hpp"
#include "fec/chain.hpp"
#include "fec/codec_cache.hpp"
#include "modulate/ofdm.hpp"
#include "multicarrier/config.hpp"
#include "waveform/ofdm_frame.hpp"

namespace vatel::modulate::ofdm_frame {

using multicarrier::ConstellationOrder;
using multicarrier::OfdmConfig;
using waveform::ofdm_frame::FrameLink;
using waveform::ofdm_frame::FramePacket;
using waveform::ofdm_frame::Mcs;
using waveform::ofdm_preamble::OfdmPreambleParams;

class OfdmFrameMod {
 public:
  // The cache is shared with its other holders; none: a private one.
  static core::Result<OfdmFrameMod> create(const OfdmConfig& cfg, std::vector<Mcs> table,
                                           std::size_t num_repeats, std::size_t repeat_len,
                                           std::shared_ptr<fec::CodecCache> cache);

  // One burst; nothing carries over from one call to the next.  An
  // mcs_index outside the table is a violated invariant.
  core::Buffer<cf32> modulate_frame(const FramePacket& frame, std::uint32_t per_frame_seed) const;

  const FrameLink& link() const noexcept { return link_; }
  const OfdmPreambleParams& preamble() const noexcept { return preamble_; }

 private:
  OfdmFrameMod() = default;
  // The symbols of one section's coded bits, appended at `out`.
  cf32* append_section(ConstellationOrder c, std::span<const std::uint8_t> bits, cf32* out) const;
  std::size_t section_samples(ConstellationOrder c, std::size_t bits) const;

  FrameLink link_;
  OfdmPreambleParams preamble_;
  // The preamble never changes, so it is generated once when it is of a
  // sane size (otherwise every call generates it, and a prefix longer than
  // the FFT panics there).
  std::optional<std::vector<cf32>> preamble_samples_;
  // One modulator per constellation, copied for each section: a copy shares
  // the inverse-FFT plan, and at baseband no state carries between calls.
  std::array<std::optional<OfdmMod>, 5> mods_;
};

}  // namespace vatel::modulate::ofdm_frame
