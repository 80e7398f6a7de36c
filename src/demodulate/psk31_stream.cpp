#include "demodulate/psk31_stream.hpp"

#include "core/checked.hpp"

namespace vatel::demodulate::psk31 {
namespace {

constexpr float kSquelch = 0.01f;  // on the squared magnitude of a QPSK31 pair
constexpr std::size_t kFlushSymbols = 32;

}  // namespace

core::Result<Psk31Mode> parse_mode(std::string_view lowered, std::string_view as_given) {
  if (lowered == "bpsk" || lowered == "bpsk31") return Psk31Mode::bpsk31;
  if (lowered == "qpsk" || lowered == "qpsk31") return Psk31Mode::qpsk31;
  return core::error("mode must be 'bpsk' or 'qpsk', got '" + std::string(as_given) + "'");
}

Psk31Stream::Psk31Stream(Psk31Mode mode, float fs, float carrier_hz, float gain)
    : parts_(mode == Psk31Mode::bpsk31
                 ? std::variant<Bpsk, Qpsk>(Bpsk{Bpsk31Demod(fs, carrier_hz, gain)})
                 : std::variant<Bpsk, Qpsk>(Qpsk{Qpsk31Demod(fs, carrier_hz, gain), {}})) {}

// Symbols a call of n samples can complete, plus one place so that the
// demodulator, which stops when its output is full, also takes the samples
// of the symbol left in progress.  With sps 0 the first sample stops the
// call in the demodulator.
std::size_t Psk31Stream::symbol_room(std::size_t n, std::size_t sps) {
  if (sps == 0) return 1;
  return n / sps + 2;
}

void Psk31Stream::emit(std::uint8_t bit, std::string& text) {
  varicode_.push_bit(bit);
  for (std::uint8_t b : varicode_.decoded())
    if (b >= 32 && b <= 126) text.push_back(static_cast<char>(b));
  varicode_.clear_decoded();
}

std::string Psk31Stream::feed(std::span<const cf32> iq) {
  std::string text;
  if (auto* b = std::get_if<Bpsk>(&parts_)) {
    soft_.resize(symbol_room(iq.size(), b->demod.sps()));
    const std::size_t n = b->demod.process(iq, soft_);
    for (std::size_t i = 0; i < n; ++i) emit(soft_[i] >= 0.0f ? 1 : 0, text);
  } else {
    auto& q = std::get<Qpsk>(parts_);
    soft_.resize(2 * symbol_room(iq.size(), q.demod.sps()));
    const std::size_t n = q.demod.process(iq, soft_);
    for (std::size_t i = 0; i + 1 < n; i += 2) {
      const float re = soft_[i], im = soft_[i + 1];
      if (re * re + im * im < kSquelch) continue;
      if (auto bit = q.viterbi.feed_symbol(re, im)) emit(*bit, text);
    }
  }
  return text;
}

std::string Psk31Stream::flush() {
  std::string text;
  if (auto* q = std::get_if<Qpsk>(&parts_)) {
    for (std::size_t i = 0; i < kFlushSymbols; ++i)
      if (auto bit = q->viterbi.feed_symbol(0.0f, 0.0f)) emit(*bit, text);
  }
  emit(0, text);
  emit(0, text);
  return text;
}

}  // namespace vatel::demodulate::psk31
