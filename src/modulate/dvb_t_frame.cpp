#include "modulate/dvb_t_frame.hpp"

#include <algorithm>
#include <array>

#include "core/checked.hpp"
#include "fec/codec_cache.hpp"
#include "multicarrier/fft.hpp"
#include "multicarrier/symbol_window.hpp"
#include "waveform/dvb_t_tps.hpp"
#include "waveform/dvb_t_ts.hpp"

namespace vatel::modulate::dvb_t_frame {

namespace dvb_t = waveform::dvb_t;
namespace ts = waveform::dvb_t_ts;
namespace tps = waveform::dvb_t_tps;
using core::checked_add;
using core::checked_mul;

namespace {

// One cell of 2, 4 or 6 bits: I from the even positions, Q from the odd.
template <unsigned B>
void map_cells_of(const std::uint8_t* bits, std::size_t cells, const float* levels, cf32* out) {
  // All 2^B points by table lookup: random bits would defeat a branch.
  std::array<cf32, (1u << B)> points;
  for (unsigned v = 0; v < points.size(); ++v) {
    unsigned i = 0, q = 0;
    for (unsigned j = 0; j < B; j += 2) {
      i = (i << 1) | ((v >> (B - 1 - j)) & 1u);
      q = (q << 1) | ((v >> (B - 2 - j)) & 1u);
    }
    points[v] = {levels[i], levels[q]};
  }
  for (std::size_t c = 0; c < cells; ++c) {
    unsigned v = 0;
    for (unsigned j = 0; j < B; ++j) v = (v << 1) | (bits[j] & 1u);
    out[c] = points[v];
    bits += B;
  }
}

}  // namespace

void map_cells(const std::uint8_t* bits, std::size_t cells, dvb_t::ConstellationOrder order,
               cf32* out) {
  const float* levels = dvb_t::dvb_t_axis_levels(order).data();
  switch (dvb_t::dvb_t_bits_per_cell(order)) {
    case 2: map_cells_of<2>(bits, cells, levels, out); break;
    case 4: map_cells_of<4>(bits, cells, levels, out); break;
    default: map_cells_of<6>(bits, cells, levels, out); break;
  }
}

CodedFrame DvbTFrameMod::code(std::span<const std::uint8_t> payload) const {
  fec::CodecCache cache;
  const std::size_t b = dvb_t::dvb_t_bits_per_cell(params_.constellation);
  const std::size_t per_symbol = dvb_t::kDataCells * b;

  std::vector<std::uint8_t> packets = ts::ts_packetize(payload);
  const std::uint64_t n = packets.size() / ts::kPacketLen;
  const std::uint64_t coded = dvb_t::dvb_t_block_plan(params_.code_rate, packets.size(), cache).coded_bits;
  CodedFrame frame;
  frame.n_symbols = std::max<std::size_t>(kMinSymbols, coded / per_symbol + (coded % per_symbol != 0));

  const dvb_t::DvbTFrameFill fill = dvb_t::dvb_t_frame_fill_with(params_, n, frame.n_symbols, cache);
  packets.reserve(checked_mul(fill.packets, ts::kPacketLen, "packet stream"));
  for (std::uint64_t m = n; m < fill.packets; ++m) ts::append_null_packet(packets);
  ts::ts_energy_disperse(packets);

  frame.bits = dvb_t::dvb_t_encode(params_.code_rate, packets, cache).coded_bits;
  // The spare room after the coded stream repeats it from its start.
  const std::size_t used = frame.bits.size();
  VATEL_ENSURE(used <= fill.capacity && used > 0, "DVB-T coded stream does not fit its frame");
  frame.bits.resize(fill.capacity);
  for (std::size_t i = used; i < frame.bits.size(); ++i) frame.bits[i] = frame.bits[i - used];
  return frame;
}

void DvbTFrameMod::write_symbols(const CodedFrame& frame, std::span<cf32> out) const {
  const std::size_t cp = dvb_t::cp_len(params_.guard);
  const std::size_t n_fft = dvb_t::kFftSize;
  const std::size_t S = samples_per_symbol();
  const std::size_t b = dvb_t::dvb_t_bits_per_cell(params_.constellation);
  const std::size_t per_symbol = dvb_t::kDataCells * b;
  VATEL_ENSURE(frame.bits.size() == checked_mul(frame.n_symbols, per_symbol, "frame capacity") &&
                   out.size() == checked_mul(frame.n_symbols, S, "frame length"),
               "DVB-T frame buffers do not match the symbol count");

  dvb_t::ScatteredPilotMapper mapper{dvb_t::ScatteredGridCycle(params_.guard)};
  tps::TpsKeyer keyer(tps::tps_encode(params_));
  multicarrier::IfftBlock ifft(n_fft);
  std::vector<cf32> cells(dvb_t::kDataCells);
  multicarrier::AlignedSamples freq(n_fft);
  const std::uint8_t* bits = frame.bits.data();
  for (std::size_t l = 0; l < frame.n_symbols; ++l) {
    map_cells(bits + l * per_symbol, dvb_t::kDataCells, params_.constellation, cells.data());
    mapper.map_symbol(cells, freq);
    keyer.key(l, freq);
    // The inverse transform lands after the prefix, which then copies the
    // symbol's last cp samples.
    cf32* symbol = out.data() + l * S;
    ifft.process(freq, {symbol + cp, n_fft});
    std::copy_n(symbol + n_fft, cp, symbol);
  }
  if (roll_off_ > 0) {
    multicarrier::SymbolWindow window(S, std::min(roll_off_, S / 2));
    for (std::size_t l = 0; l < frame.n_symbols; ++l) {
      const std::span<cf32> symbol = out.subspan(l * S, S);
      window.process(symbol, symbol);
    }
  }
}

DvbTFrame DvbTFrameMod::modulate(std::span<const std::uint8_t> payload) const {
  const CodedFrame coded = code(payload);
  DvbTFrame frame;
  frame.n_symbols = coded.n_symbols;
  frame.samples_per_symbol = samples_per_symbol();
  frame.iq = core::Buffer<cf32>(checked_mul(frame.n_symbols, frame.samples_per_symbol, "frame length"));
  write_symbols(coded, {frame.iq.data(), frame.iq.size()});
  if (tx_lowpass_) tx_lowpass_->apply({frame.iq.data(), frame.iq.size()});
  return frame;
}

}  // namespace vatel::modulate::dvb_t_frame
