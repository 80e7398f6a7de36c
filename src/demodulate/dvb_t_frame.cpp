#include "demodulate/dvb_t_frame.hpp"

#include <algorithm>

#include "fec/chain.hpp"
#include "waveform/dvb_t_cells.hpp"
#include "waveform/dvb_t_ts.hpp"

namespace vatel::demodulate::dvb_t_frame {
namespace {

using waveform::dvb_t::kDataCells;
using waveform::dvb_t::kFftSize;
using waveform::dvb_t::kTpsCount;
namespace gi = sync::dvb_t_gi_sync;

std::vector<std::size_t> continual_pilot_bins() {
  std::vector<std::size_t> bins;
  for (std::uint16_t k : waveform::dvb_t::kContinualPilots)
    bins.push_back(waveform::dvb_t::carrier_bin(k));
  return bins;
}

multicarrier::OfdmConfig phase0_config(DvbTGuard guard) {
  multicarrier::OfdmConfig cfg;
  cfg.plan = waveform::dvb_t::dvb_t_2k_plans(guard)[0];
  return cfg;
}

// The plan of payload_len bytes, or nothing when the payload cannot be in a
// frame of `capacity` coded bits.  The coded stream is longer than the
// packets' 8 bits per byte at every rate, so a payload whose packets alone
// exceed the capacity is refused before any code is sized for it.
std::optional<fec::BlockPlan> payload_plan(std::uint64_t payload_len, std::uint64_t capacity,
                                           fec::PunctureRate rate, fec::CodecCache& cache) {
  using waveform::dvb_t_ts::kPacketLen;
  const std::uint64_t packets = waveform::dvb_t_ts::ts_packet_count(payload_len);
  std::uint64_t ts_bytes = 0, ts_bits = 0;
  if (__builtin_mul_overflow(packets, kPacketLen, &ts_bytes) ||
      __builtin_mul_overflow(ts_bytes, 8, &ts_bits) || ts_bits > capacity)
    return std::nullopt;
  const fec::BlockPlan plan = waveform::dvb_t::dvb_t_block_plan(rate, ts_bytes, cache);
  if (plan.coded_bits > capacity) return std::nullopt;
  return plan;
}

}  // namespace

std::string_view display_text(DvbTRxError error) noexcept {
  switch (error) {
    case DvbTRxError::GiAcquisition:
      return "guard-interval acquisition failed (buffer too short or no CP lock)";
    case DvbTRxError::TooFewSamples: return "too few samples for the expected frame";
    case DvbTRxError::TpsDecode: return "TPS word failed to decode (BCH uncorrectable)";
    case DvbTRxError::PayloadDecode: return "payload FEC/CRC decode failed";
  }
  return "";
}

DvbTFrameWorkspace::DvbTFrameWorkspace(DvbTGuard guard)
    : guard_(guard),
      icfo_(continual_pilot_bins()),
      cycle_(guard),
      fft_(kFftSize, waveform::dvb_t::cp_len(guard)),
      equalizer_(phase0_config(guard), multicarrier::EqualizerMode::PilotInterp),
      equalised_(kFftSize),
      cells_(kDataCells) {
  // One carrier-order layout per scattered-pilot phase, keyed by the phase.
  for (std::size_t q = 0; q < 4; ++q)
    equalizer_.layouts.emplace_back(
        q, multicarrier::PilotLayout::build_in_carrier_order(cycle_.pilots[q],
                                                             cycle_.grids[q].data_bins, kFftSize));
}

DvbTRxOutcome DvbTFrameDemod::decode(std::span<const cf32> samples, std::uint64_t n_symbols,
                                     std::uint64_t payload_len) const {
  DvbTFrameWorkspace ws(params_.guard);
  return decode(samples, n_symbols, payload_len, ws);
}

DvbTRxOutcome DvbTFrameDemod::decode(std::span<const cf32> samples, std::uint64_t n_symbols,
                                     std::uint64_t payload_len, DvbTFrameWorkspace& ws) const {
  VATEL_ENSURE(ws.guard() == params_.guard, "DVB-T workspace made for another guard interval");
  const std::size_t cp = waveform::dvb_t::cp_len(params_.guard);
  const std::size_t period = waveform::dvb_t::samples_per_symbol(params_.guard);
  ws.tps_bins_.clear();

  // Whole-carrier offset first: the acquisition itself is blind to it, but
  // the pilots and cells are not.
  // Without a shift the samples are unchanged, so the first acquisition
  // stands; only derotated samples are acquired again.
  std::span<const cf32> rx = samples;
  bool applied = false;
  std::int32_t shift = 0;
  std::optional<gi::GiSyncResult> acquired;
  if (integer_cfo_correction_) {
    acquired = ws.gi_.run(samples, cp, period);
    if (acquired) {
      applied = true;
      shift = ws.icfo_.find(samples, cp, acquired->offset);
      if (shift != 0) {
        ws.derotated_.resize(samples.size());
        gi::derotate_carriers(samples, shift, ws.derotated_);
        rx = ws.derotated_;
      }
    }
  }
  if (!integer_cfo_correction_ || shift != 0) acquired = ws.gi_.run(rx, cp, period);
  if (!acquired) return DvbTRxError::GiAcquisition;
  const std::size_t o = acquired->offset;
  std::uint64_t frame_len = 0, frame_end = 0;
  if (__builtin_mul_overflow(n_symbols, period, &frame_len) ||
      __builtin_add_overflow(frame_len, o, &frame_end) || rx.size() < frame_end)
    return DvbTRxError::TooFewSamples;
  ws.last_offset_ = o;

  // N P samples fit the buffer, so the frame's capacity fits 64 bits.
  const std::size_t bits = waveform::dvb_t::dvb_t_bits_per_cell(params_.constellation);
  const std::size_t cell_bits = kDataCells * bits;
  const std::uint64_t capacity = n_symbols * cell_bits;
  const std::optional<fec::BlockPlan> plan =
      payload_plan(payload_len, capacity, params_.code_rate, *ws.cache_);
  // Only the symbols that hold the plan's coded bits need equalising and
  // demapping; the rest of the frame is null packets and cyclic fill, which
  // is never decoded.  TPS still reads every symbol.
  const std::uint64_t coded_bits = plan ? plan->coded_bits : 0;
  const std::uint64_t used_symbols = coded_bits / cell_bits + (coded_bits % cell_bits != 0);
  ws.soft_.resize(used_symbols * cell_bits);

  ws.fft_.set_backoff(std::min<std::size_t>(rx_window_backoff_, cp));
  ws.tps_bins_.reserve(n_symbols);
  waveform::dvb_t_tps::TpsReceiver tps;
  for (std::uint64_t l = 0; l < n_symbols; ++l) {
    const std::size_t q = static_cast<std::size_t>(l % 4);
    ws.fft_.process(rx.subspan(o + l * period, period));
    const std::span<const cf32> spectrum = ws.fft_.spectrum();
    tps.push(spectrum);
    auto& bins = ws.tps_bins_.emplace_back();
    for (std::size_t i = 0; i < kTpsCount; ++i) bins[i] = spectrum[waveform::dvb_t::kTpsBins[i]];
    if (l < used_symbols) {
      ws.equalizer_.symbol_index = q;
      ws.equalizer_.process(spectrum, ws.equalised_);
      const std::vector<std::size_t>& data_bins = ws.cycle_.grids[q].data_bins;
      for (std::size_t i = 0; i < kDataCells; ++i) ws.cells_[i] = ws.equalised_[data_bins[i]];
      waveform::dvb_t::dvb_t_soft_llr_cells(bits, ws.cells_, ws.soft_.data() + l * cell_bits);
    }
  }
  if (!tps.word()) return DvbTRxError::TpsDecode;
  if (!plan) return DvbTRxError::PayloadDecode;

  fec::ChainResult decoded = waveform::dvb_t::dvb_t_decode(
      params_.code_rate, std::span<const float>(ws.soft_).first(coded_bits), *plan, *ws.cache_);
  auto* outcome = std::get_if<fec::ChainOutcome>(&decoded);
  const std::uint64_t ts_bytes = plan->payload_bytes;
  if (!outcome || !outcome->is_valid() || outcome->payload.size() < ts_bytes)
    return DvbTRxError::PayloadDecode;
  std::vector<std::uint8_t>& ts = outcome->payload;
  ts.resize(ts_bytes);
  waveform::dvb_t_ts::ts_energy_disperse(ts);
  std::optional<std::vector<std::uint8_t>> bytes = waveform::dvb_t_ts::ts_depacketize(ts);
  if (!bytes) return DvbTRxError::PayloadDecode;
  if (bytes->size() > payload_len) bytes->resize(payload_len);

  DvbTRxFrame frame;
  frame.payload = std::move(*bytes);
  frame.tps = *tps.word();
  frame.timing_offset = o;
  frame.cfo_hz = (applied ? static_cast<float>(shift) * gi::kCarrierSpacingHz : 0.0f) +
                 acquired->cfo_hz;
  frame.quality = acquired->quality;
  frame.integer_cfo_applied = applied;
  frame.integer_shift = shift;
  return frame;
}

}  // namespace vatel::demodulate::dvb_t_frame
