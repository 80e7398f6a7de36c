#include "modulate/dvb_t_super_frame.hpp"

#include <algorithm>
#include <vector>

#include "core/checked.hpp"

namespace vatel::modulate::dvb_t_super_frame {

namespace dvb_t = waveform::dvb_t;

std::array<std::size_t, 4> split_lengths(std::size_t payload_len) noexcept {
  const std::size_t q = payload_len / 4, s = payload_len % 4;
  return {q + (s >= 1), q + (s >= 2), q + (s == 3), q};
}

dvb_t_frame::DvbTFrameMod DvbTSuperFrameMod::frame_mod(std::size_t i) const {
  return dvb_t_frame::DvbTFrameMod(dvb_t::super_frame_part(params_, i)).with_symbol_window(roll_off_);
}

DvbTSuperFrame DvbTSuperFrameMod::modulate(std::span<const std::uint8_t> payload) const {
  DvbTSuperFrame out;
  out.frame_payload_lens = split_lengths(payload.size());
  const std::size_t m0 = out.frame_payload_lens[0];
  std::vector<std::uint8_t> part(m0);
  std::size_t from = 0, frame_len = 0;
  // One frame coded at a time: the parts have equal lengths, so every frame
  // has frame 0's symbol count (write_symbols checks it) and the output can
  // be sized from frame 0 alone.
  for (std::size_t i = 0; i < 4; ++i) {
    const std::size_t len = out.frame_payload_lens[i];
    std::copy_n(payload.data() + from, len, part.begin());
    std::fill(part.begin() + static_cast<std::ptrdiff_t>(len), part.end(), 0);
    from += len;
    const dvb_t_frame::DvbTFrameMod mod = frame_mod(i);
    const dvb_t_frame::CodedFrame coded = mod.code(part);
    if (i == 0) {
      out.symbols_per_frame = coded.n_symbols;
      out.samples_per_symbol = mod.samples_per_symbol();
      frame_len = core::checked_mul(out.symbols_per_frame, out.samples_per_symbol, "frame length");
      out.iq = core::Buffer<cf32>(core::checked_mul(frame_len, 4, "super-frame length"));
    }
    mod.write_symbols(coded, {out.iq.data() + i * frame_len, frame_len});
  }
  if (tx_lowpass_) tx_lowpass_->apply({out.iq.data(), out.iq.size()});
  return out;
}

}  // namespace vatel::modulate::dvb_t_super_frame
