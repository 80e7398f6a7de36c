#pragma once
// The DVB-T 2K frame demodulator: guard-interval acquisition (optionally
// after a whole-carrier frequency correction), per-symbol FFT with a window
// back-off, TPS, pilot equalisation of every symbol from its own pilots,
// max-log soft values, and the fixed DVB-T decoding chain back to the
// payload.  The frame's symbol count and payload length travel outside the
// signal, so the caller gives them.
#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string_view>
#include <variant>
#include <vector>

#include "core/types.hpp"
#include "fec/codec_cache.hpp"
#include "multicarrier/equalizer.hpp"
#include "multicarrier/fft.hpp"
#include "multicarrier/symbol_fft.hpp"
#include "sync/dvb_t_gi_sync.hpp"
#include "waveform/dvb_t.hpp"
#include "waveform/dvb_t_tps.hpp"

namespace vatel::demodulate::dvb_t_frame {

using waveform::dvb_t::DvbTFrameParams;
using waveform::dvb_t::DvbTGuard;
using waveform::dvb_t_tps::TpsWord;

enum class DvbTRxError : std::uint8_t { GiAcquisition, TooFewSamples, TpsDecode, PayloadDecode };

// The message a user reads.
std::string_view display_text(DvbTRxError error) noexcept;

struct DvbTRxFrame {
  std::vector<std::uint8_t> payload;
  TpsWord tps;
  std::size_t timing_offset = 0;     // acquired start in the samples demodulated
  float cfo_hz = 0.0f;               // integer shift x 586.51025 plus the fractional figure
  float quality = 0.0f;              // acquisition quality
  bool integer_cfo_applied = false;  // the integer search ran on an acquired buffer
  std::int32_t integer_shift = 0;
};

using DvbTRxOutcome = std::variant<DvbTRxFrame, DvbTRxError>;

// The scratch of decoding one guard's frames, kept by callers that decode
// many (the stream receiver); the buffers grow to the largest frame seen
// and are reused.  Also records where the last decode found its symbols and
// their TPS bins, which the stream uses to find frame starts again.
class DvbTFrameWorkspace {
 public:
  explicit DvbTFrameWorkspace(DvbTGuard guard);

  DvbTGuard guard() const noexcept { return guard_; }

  // After a decode that reached its symbols: the acquired start in the
  // samples given, and the TPS bins of each symbol demodulated.
  std::size_t last_offset() const noexcept { return last_offset_; }
  std::span<const std::array<cf32, waveform::dvb_t::kTpsCount>> last_tps_bins() const noexcept {
    return tps_bins_;
  }

 private:
  friend class DvbTFrameDemod;
  DvbTGuard guard_;
  sync::dvb_t_gi_sync::GiSearch gi_;
  sync::dvb_t_gi_sync::IntegerCfoSearch icfo_;
  std::vector<cf32> derotated_;
  waveform::dvb_t::ScatteredGridCycle cycle_;
  multicarrier::SymbolFft fft_;
  multicarrier::OfdmEqualizer equalizer_;
  multicarrier::AlignedSamples equalised_;
  std::vector<cf32> cells_;
  std::vector<float> soft_;
  std::vector<std::array<cf32, waveform::dvb_t::kTpsCount>> tps_bins_;
  std::unique_ptr<fec::CodecCache> cache_ = std::make_unique<fec::CodecCache>();  // movable
  std::size_t last_offset_ = 0;
};

// The receive options every DVB-T demodulator takes, with their builders:
// the whole-carrier offset search (off after construction) and the FFT
// window back-off (0; no upper limit here, decoding uses min(back-off,
// cp_len)).
template <class Demod>
class RxOptions {
 public:
  Demod with_integer_cfo_correction(bool on) const {
    Demod d = static_cast<const Demod&>(*this);
    d.integer_cfo_correction_ = on;
    return d;
  }
  Demod with_rx_window_backoff(std::size_t backoff) const {
    Demod d = static_cast<const Demod&>(*this);
    d.rx_window_backoff_ = backoff;
    return d;
  }
  bool integer_cfo_correction() const noexcept { return integer_cfo_correction_; }
  std::size_t rx_window_backoff() const noexcept { return rx_window_backoff_; }

 protected:
  std::size_t rx_window_backoff_ = 0;
  bool integer_cfo_correction_ = false;
};

class DvbTFrameDemod : public RxOptions<DvbTFrameDemod> {
 public:
  explicit DvbTFrameDemod(const DvbTFrameParams& params) : params_(params) {}

  const DvbTFrameParams& params() const noexcept { return params_; }

  // One frame of n_symbols symbols carrying payload_len bytes.  Every
  // failure is one of the four errors, in the order of the steps: no
  // acquisition, too few samples after the acquired start, no TPS word with
  // a synchronisation word, and a payload that does not decode or does not
  // fit the frame.
  DvbTRxOutcome decode(std::span<const cf32> samples, std::uint64_t n_symbols,
                       std::uint64_t payload_len) const;
  // The same with the caller's scratch (made for this demodulator's guard).
  DvbTRxOutcome decode(std::span<const cf32> samples, std::uint64_t n_symbols,
                       std::uint64_t payload_len, DvbTFrameWorkspace& ws) const;

 private:
  DvbTFrameParams params_;
};

}  // namespace vatel::demodulate::dvb_t_frame
