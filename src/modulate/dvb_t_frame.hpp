#pragma once
// The DVB-T 2K frame modulator: payload bytes to one preamble-less frame of
// complex baseband samples.  Transport-stream packets, null-packet fill and
// energy dispersal, the fixed coding chain (Reed-Solomon (204, 188), the
// 12 x 17 convolutional interleaver, the punctured K = 7 code), the cyclic
// fill of the last symbols, cells on the data carriers in ascending carrier
// order (no inner bit or symbol interleaver), pilots and TPS, the 2048-point
// inverse FFT with its cyclic prefix, and optionally the symbol taper and the
// TX low-pass.  A frame has at least 68 symbols, more when the payload needs
// them; its TPS word repeats every 68 symbols.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string_view>
#include <vector>

#include "core/buffer.hpp"
#include "core/result.hpp"
#include "core/types.hpp"
#include "multicarrier/tx_lowpass.hpp"
#include "waveform/dvb_t.hpp"

namespace vatel::modulate::dvb_t_frame {

using waveform::dvb_t::DvbTFrameParams;

inline constexpr std::size_t kMinSymbols = 68;

struct DvbTFrame {
  core::Buffer<cf32> iq;  // n_symbols x samples_per_symbol samples
  std::size_t n_symbols = 0;
  std::size_t samples_per_symbol = 0;
};

// The coded bits of one frame, exactly n_symbols x 1512 x bits per cell.
struct CodedFrame {
  std::vector<std::uint8_t> bits;
  std::size_t n_symbols = 0;
};

// The transmit options every DVB-T modulator takes, with their builders (a
// new modulator; this one keeps its settings): the TX low-pass (none after
// construction; more than 4097 taps are refused, the error naming
// Mod::kName) and the symbol taper's roll-off (0, no taper).
template <class Mod>
class TxOptions {
 public:
  core::Result<Mod> with_tx_lowpass(std::size_t num_taps, float stopband_db) const {
    auto lowpass = waveform::dvb_t::tx_lowpass_checked(Mod::kName, num_taps, stopband_db);
    if (!lowpass) return lowpass.error();
    Mod m = static_cast<const Mod&>(*this);
    m.tx_lowpass_ = lowpass.value();
    return m;
  }
  Mod with_symbol_window(std::size_t roll_off) const {
    Mod m = static_cast<const Mod&>(*this);
    m.roll_off_ = roll_off;
    return m;
  }
  const std::optional<multicarrier::TxLowpass>& tx_lowpass() const noexcept { return tx_lowpass_; }
  std::size_t roll_off() const noexcept { return roll_off_; }

 protected:
  std::optional<multicarrier::TxLowpass> tx_lowpass_;
  std::size_t roll_off_ = 0;
};

class DvbTFrameMod : public TxOptions<DvbTFrameMod> {
 public:
  static constexpr std::string_view kName = "DvbTFrameMod";

  explicit DvbTFrameMod(const DvbTFrameParams& params) : params_(params) {}

  DvbTFrame modulate(std::span<const std::uint8_t> payload) const;

  // The steps of modulate, for the super-frame: packets, fill and coding
  // (with a private codec cache); then the symbols, tapered, into
  // out, exactly n_symbols x samples_per_symbol samples.  No TX low-pass.
  CodedFrame code(std::span<const std::uint8_t> payload) const;
  void write_symbols(const CodedFrame& frame, std::span<cf32> out) const;

  std::size_t samples_per_symbol() const noexcept {
    return waveform::dvb_t::samples_per_symbol(params_.guard);
  }
  const DvbTFrameParams& params() const noexcept { return params_; }

 private:
  DvbTFrameParams params_;
};

// Maps `cells` cells of b bits each (one bit per byte, even positions to I,
// odd to Q, each read most significant first) with the DVB-T level tables.
void map_cells(const std::uint8_t* bits, std::size_t cells, waveform::dvb_t::ConstellationOrder order,
               cf32* out);

}  // namespace vatel::modulate::dvb_t_frame

namespace vatel::modulate {
using dvb_t_frame::DvbTFrame;
using dvb_t_frame::DvbTFrameMod;
}  // namespace vatel::modulate
