#include "demodulate/dvb_t_super_frame.hpp"

#include <string>
#include <variant>

namespace vatel::demodulate::dvb_t_super_frame {

core::Result<DvbTRxSuperFrame> DvbTSuperFrameDemod::decode(
    std::span<const cf32> samples, std::uint64_t symbols_per_frame,
    const std::array<std::uint64_t, 4>& frame_payload_lens) const {
  using dvb_t_frame::DvbTFrameDemod;
  using dvb_t_frame::DvbTRxFrame;
  const std::uint64_t period = waveform::dvb_t::samples_per_symbol(params_.guard);
  std::uint64_t frame_len = 0;
  const bool frame_len_wraps = __builtin_mul_overflow(symbols_per_frame, period, &frame_len);
  dvb_t_frame::DvbTFrameWorkspace ws(params_.guard);

  DvbTRxSuperFrame out;
  std::array<std::uint8_t, 4> numbers{}, cells{};
  for (std::uint64_t i = 0; i < 4; ++i) {
    // Frame i >= 1 needs its own F samples after the i frames before it.
    std::uint64_t end = 0;
    if (i >= 1 && (frame_len_wraps || __builtin_mul_overflow(i + 1, frame_len, &end) ||
                   samples.size() < end))
      return core::error("super-frame: too few samples for four frames");
    const DvbTFrameDemod frame_demod =
        DvbTFrameDemod(waveform::dvb_t::super_frame_part(params_, static_cast<std::size_t>(i)))
            .with_integer_cfo_correction(integer_cfo_correction_)
            .with_rx_window_backoff(rx_window_backoff_);
    // i x F <= len here (for i = 0 trivially).
    const dvb_t_frame::DvbTRxOutcome r = frame_demod.decode(
        samples.subspan(static_cast<std::size_t>(i * frame_len)), symbols_per_frame,
        frame_payload_lens[i], ws);
    if (const auto* e = std::get_if<dvb_t_frame::DvbTRxError>(&r))
      return core::error("super-frame: frame " + std::to_string(i) +
                         " failed: " + std::string(dvb_t_frame::display_text(*e)));
    const DvbTRxFrame& frame = std::get<DvbTRxFrame>(r);
    out.payload.insert(out.payload.end(), frame.payload.begin(), frame.payload.end());
    numbers[i] = frame.tps.frame_number;
    cells[i] = frame.tps.cell_id;
  }
  if (numbers != std::array<std::uint8_t, 4>{0, 1, 2, 3}) {
    std::string got = "[";
    for (std::size_t i = 0; i < 4; ++i) got += (i ? ", " : "") + std::to_string(numbers[i]);
    return core::error("super-frame: frame numbers out of sequence (got " + got +
                       "], expected 0..3)");
  }
  out.cell_id = static_cast<std::uint16_t>(cells[2] * 256 + cells[3]);
  return out;
}

}  // namespace vatel::demodulate::dvb_t_super_frame
