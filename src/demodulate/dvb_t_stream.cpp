#include "demodulate/dvb_t_stream.hpp"

#include <algorithm>
#include <limits>
#include <variant>

#include "waveform/dvb_t_tps.hpp"

namespace vatel::demodulate::dvb_t_stream {
namespace {

constexpr std::uint64_t kNever = std::numeric_limits<std::uint64_t>::max();

std::uint64_t mul_or_never(std::uint64_t a, std::uint64_t b) {
  std::uint64_t r = 0;
  return __builtin_mul_overflow(a, b, &r) ? kNever : r;
}

std::uint64_t add_or_never(std::uint64_t a, std::uint64_t b) {
  std::uint64_t r = 0;
  return __builtin_add_overflow(a, b, &r) ? kNever : r;
}

// True when the differential TPS bits of symbols from+1 .. from+16 carry the
// synchronisation word or its complement, that is when symbol `from` starts
// a TPS block.
bool block_starts_at(std::span<const std::uint8_t> bits, std::size_t from) {
  waveform::dvb_t_tps::TpsBits word{};
  for (std::size_t i = 1; i <= 16; ++i) word[i] = bits[from + i];
  return waveform::dvb_t_tps::tps_has_sync_word(word);
}

}  // namespace

core::Result<DvbTFrameStreamDemod> DvbTFrameStreamDemod::create(
    const dvb_t_frame::DvbTFrameParams& params, std::uint64_t n_symbols,
    std::uint64_t payload_len, bool integer_cfo_correction, std::size_t rx_window_backoff) {
  if (n_symbols == 0) return core::error("n_symbols must be at least 1");
  const DvbTFrameDemod demod = DvbTFrameDemod(params)
                                   .with_integer_cfo_correction(integer_cfo_correction)
                                   .with_rx_window_backoff(rx_window_backoff);
  return DvbTFrameStreamDemod(demod, n_symbols, payload_len);
}

DvbTFrameStreamDemod::DvbTFrameStreamDemod(const DvbTFrameDemod& demod, std::uint64_t n_symbols,
                                           std::uint64_t payload_len)
    : demod_(demod),
      n_symbols_(n_symbols),
      payload_len_(payload_len),
      period_(waveform::dvb_t::samples_per_symbol(demod.params().guard)),
      workspace_(demod.params().guard) {}

std::vector<DvbTRxOutcome> DvbTFrameStreamDemod::feed(std::span<const cf32> iq) {
  buffer_.append(iq);
  return drain(false);
}

std::vector<DvbTRxOutcome> DvbTFrameStreamDemod::flush() { return drain(true); }

void DvbTFrameStreamDemod::clear() noexcept { buffer_.clear(); }

std::vector<DvbTRxOutcome> DvbTFrameStreamDemod::drain(bool final) {
  const std::size_t cp = period_ - waveform::dvb_t::kFftSize;
  const std::uint64_t frame_len = mul_or_never(n_symbols_, period_);
  // feed waits for one period beyond a frame; flush only for the frame
  // itself and what the acquisition needs to run.
  const std::uint64_t need =
      final ? std::max<std::uint64_t>(frame_len, 2 * period_ + cp - 1)
            : add_or_never(frame_len, period_);
  // Enough for the decode's own acquisition and integer search.
  const std::uint64_t window =
      mul_or_never(add_or_never(std::max<std::uint64_t>(n_symbols_, 8), 2), period_);
  std::vector<DvbTRxOutcome> out;
  while (need != kNever && buffered() >= need) {
    const std::span<const cf32> rest = buffer_.view();
    const auto acquired = search_.run(rest, cp, period_);
    if (!acquired) break;
    const std::uint64_t start = acquired->offset;
    const std::uint64_t end = add_or_never(start, frame_len);
    if (end > rest.size()) break;  // only under flush: the frame is cut off
    const std::span<const cf32> slice =
        rest.subspan(start, static_cast<std::size_t>(std::min<std::uint64_t>(rest.size() - start, window)));
    DvbTRxOutcome outcome = demod_.decode(slice, n_symbols_, payload_len_, workspace_);
    const std::uint64_t consumed =
        std::holds_alternative<dvb_t_frame::DvbTRxFrame>(outcome) ? end : resync(start, frame_len);
    if (consumed == 0) break;
    buffer_.consume(static_cast<std::size_t>(consumed));
    out.push_back(std::move(outcome));
  }
  return out;
}

std::uint64_t DvbTFrameStreamDemod::resync(std::uint64_t start, std::uint64_t frame_len) {
  const std::uint64_t whole_frame = start + frame_len;
  const auto bins = workspace_.last_tps_bins();
  // Only frames that hold a TPS block can be found by it; a decode that
  // stopped before its symbols left nothing to look at.
  if (n_symbols_ < waveform::dvb_t_tps::kTpsBits || bins.size() != n_symbols_) return whole_frame;
  std::vector<std::uint8_t>& bits = tps_bits_;
  bits.assign(bins.size(), 0);
  for (std::size_t l = 1; l < bins.size(); ++l)
    bits[l] = waveform::dvb_t_tps::tps_differential_bit(bins[l], bins[l - 1]);
  // A frame that shows one TPS word only, at its start, was on the frame
  // grid: it was bad itself, and the next frame follows it.  A longer frame
  // repeats the word every 68 symbols, so the word at 0 may open a later
  // block; then the search below moves on to the next word.
  constexpr std::size_t kWordSpan = 16;
  if (n_symbols_ <= waveform::dvb_t_tps::kTpsBits + kWordSpan && block_starts_at(bits, 0))
    return whole_frame;
  const std::uint64_t first = start + workspace_.last_offset();
  const std::size_t last = bins.size() - kWordSpan - 1;  // the last j whose word is in view
  for (std::size_t j = 1; j <= last; ++j)
    if (block_starts_at(bits, j)) return first + j * period_;
  // Keep the symbols whose word was not yet in view for the next attempt.
  return first + (last + 1) * period_;
}

}  // namespace vatel::demodulate::dvb_t_stream
