#pragma once
// The DVB-T super-frame modulator: one payload over four frames numbered 0 to
// 3, split so that the first L mod 4 frames carry one byte more and the
// shorter parts zero-filled to the first one's length (so all four have the
// same symbol count), with the 16-bit cell id's high byte in the TPS of
// frames 0 and 2 and its low byte in frames 1 and 3.  The symbol taper acts
// per frame; the TX low-pass runs once over the four frames, seams included.
#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string_view>

#include "core/buffer.hpp"
#include "core/result.hpp"
#include "core/types.hpp"
#include "modulate/dvb_t_frame.hpp"
#include "multicarrier/tx_lowpass.hpp"
#include "waveform/dvb_t.hpp"

namespace vatel::modulate::dvb_t_super_frame {

using waveform::dvb_t::DvbTSuperFrameParams;

struct DvbTSuperFrame {
  core::Buffer<cf32> iq;  // frames 0 ..= 3 back to back
  std::size_t symbols_per_frame = 0;
  std::size_t samples_per_symbol = 0;
  std::array<std::size_t, 4> frame_payload_lens{};  // before the zero fill
};

// The payload bytes frame i carries: L / 4, one more for i < L mod 4.
std::array<std::size_t, 4> split_lengths(std::size_t payload_len) noexcept;

class DvbTSuperFrameMod : public dvb_t_frame::TxOptions<DvbTSuperFrameMod> {
 public:
  static constexpr std::string_view kName = "DvbTSuperFrameMod";

  explicit DvbTSuperFrameMod(const DvbTSuperFrameParams& params) : params_(params) {}

  DvbTSuperFrame modulate(std::span<const std::uint8_t> payload) const;

  // The frame modulator of frame i (0 ..= 3): no TX low-pass, this roll-off.
  dvb_t_frame::DvbTFrameMod frame_mod(std::size_t i) const;

  const DvbTSuperFrameParams& params() const noexcept { return params_; }

 private:
  DvbTSuperFrameParams params_;
};

}  // namespace vatel::modulate::dvb_t_super_frame

namespace vatel::modulate {
using dvb_t_super_frame::DvbTSuperFrame;
using dvb_t_super_frame::DvbTSuperFrameMod;
}  // namespace vatel::modulate
