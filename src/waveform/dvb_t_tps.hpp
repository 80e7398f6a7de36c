#pragma once
// TPS signalling (EN 300 744 clause 4.6): the 68-bit word of a frame, one bit
// per OFDM symbol, protected by the shortened BCH(67, 53) code and sent by
// differential BPSK on the 17 TPS carriers; and the receiver's side, the
// differential bit decisions and the two-error Peterson decoder.
#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

#include "core/types.hpp"
#include "waveform/dvb_t.hpp"

namespace vatel::waveform::dvb_t_tps {

using dvb_t::ConstellationOrder;
using dvb_t::kTpsCount;

inline constexpr std::size_t kTpsBits = 68;
using TpsBits = std::array<std::uint8_t, kTpsBits>;

// The parameters a receiver reads from a frame's TPS.
struct TpsWord {
  std::uint8_t guard = 0;  // 0 ..= 3
  ConstellationOrder constellation = ConstellationOrder::Qpsk;
  std::uint8_t code_rate = 0;     // 0 ..= 4
  std::uint8_t frame_number = 0;  // 0 ..= 3
  std::uint8_t cell_id = 0;
  friend bool operator==(const TpsWord&, const TpsWord&) = default;
};

// 1 - 2 w_k of the 17 TPS carriers, in TPS order.
std::array<float, kTpsCount> tps_reference_signs();

// The 14 parity bits of s1 ..= s53 (the remainder of s(x) x^14 by
// g(x) = x^14 + x^9 + x^8 + x^6 + x^5 + x^4 + x^2 + x + 1), s54 at bit 13.
std::uint16_t tps_parity(std::span<const std::uint8_t, 53> info) noexcept;

// The word s0 ..= s67 of a frame: 2K, non-hierarchical, with the cell-id
// length indicator; only the frame number's two low bits are sent.
TpsBits tps_encode(const dvb_t::DvbTFrameParams& params);

// The transmitter's DBPSK keying of a word onto the TPS bins, symbol by
// symbol; every 68-symbol block starts again from the reference signs.
class TpsKeyer {
 public:
  explicit TpsKeyer(const TpsBits& word);
  // Overwrites the 17 TPS bins of one symbol's 2048-bin spectrum with +-1.
  void key(std::size_t symbol, std::span<cf32> spectrum) noexcept;

 private:
  TpsBits word_;
  std::array<float, kTpsCount> reference_;
  std::array<float, kTpsCount> current_;
};

// The differential decision between the TPS bins of two consecutive symbols:
// 1 when Re sum now_k conj(prev_k) < 0 (a sum of exactly 0 gives 0).
std::uint8_t tps_differential_bit(std::span<const cf32, kTpsCount> now,
                                  std::span<const cf32, kTpsCount> prev) noexcept;

// The word with up to two errors in s1 ..= s67 corrected (s0 is ignored),
// or nothing when it is uncorrectable.
std::optional<TpsBits> tps_correct(const TpsBits& bits) noexcept;
// True when s1 ..= s16 is the synchronisation word of an even frame or its
// complement (that of an odd frame).
bool tps_has_sync_word(const TpsBits& bits) noexcept;
// Corrects up to two errors in s1 ..= s67 (s0 is ignored) and reads the
// fields; nothing when the word is uncorrectable or names a constellation or
// code rate that does not exist.
std::optional<TpsWord> tps_decode(const TpsBits& bits) noexcept;

// The receiver's collection of TPS bits over a frame: one bit per symbol
// from the TPS bins of its spectrum (after the FFT, before equalisation),
// a decoding attempt after every 68 symbols until one succeeds.  A block is
// accepted only when its corrected word carries the synchronisation word:
// the all-zero word is a BCH codeword too, and silence, a DC level or
// non-finite samples decide every bit as 0.
class TpsReceiver {
 public:
  // The bins of a received symbol's 2048-bin spectrum.
  void push(std::span<const cf32> spectrum);
  const std::optional<TpsWord>& word() const noexcept { return word_; }
  void reset() noexcept { *this = TpsReceiver{}; }

 private:
  std::array<cf32, kTpsCount> prev_{};
  TpsBits bits_{};
  std::size_t count_ = 0;
  std::optional<TpsWord> word_;
};

}  // namespace vatel::waveform::dvb_t_tps
