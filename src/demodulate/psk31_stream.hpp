#pragma once
// The PSK31 text receiver: a BPSK31 demodulator with a sign decision, or a
// QPSK31 demodulator with the streaming Viterbi decoder, feeding the Varicode
// decoder; printable characters (32 to 126) come out, the rest is dropped.
#include <cstddef>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "codec/psk31.hpp"
#include "codec/varicode.hpp"
#include "core/result.hpp"
#include "core/types.hpp"
#include "demodulate/psk31.hpp"

namespace vatel::demodulate::psk31 {

enum class Psk31Mode { bpsk31, qpsk31 };

// "bpsk" / "bpsk31" or "qpsk" / "qpsk31", given already lower-cased; the
// error names the mode as the caller wrote it.
core::Result<Psk31Mode> parse_mode(std::string_view lowered, std::string_view as_given);

class Psk31Stream {
 public:
  Psk31Stream(Psk31Mode mode, float fs, float carrier_hz, float gain);

  // The text decoded from these samples.  Every sample is demodulated.
  std::string feed(std::span<const cf32> iq);
  // Releases what the decoders still hold: for QPSK31 the last 32 decisions
  // (by 32 neutral pairs), then two zero bits to close a complete character.
  std::string flush();

 private:
  struct Bpsk {
    Bpsk31Demod demod;
  };
  struct Qpsk {
    Qpsk31Demod demod;
    codec::psk31::StreamingViterbi viterbi;
  };
  void emit(std::uint8_t bit, std::string& text);
  static std::size_t symbol_room(std::size_t n, std::size_t sps);

  std::variant<Bpsk, Qpsk> parts_;
  codec::varicode::VaricodeDecoder varicode_;
  std::vector<float> soft_;  // scratch of feed, kept to spare allocations
};

}  // namespace vatel::demodulate::psk31
