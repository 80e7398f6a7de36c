#include "waveform/dvb_t.hpp"

#include <algorithm>
#include <cmath>
#include <string>

#include "core/checked.hpp"
#include "core/panic.hpp"
#include "waveform/dvb_t_ts.hpp"

namespace vatel::waveform::dvb_t {

using multicarrier::CarrierGrid;
using multicarrier::CarrierPlan;
using multicarrier::PilotBin;
using multicarrier::PilotCarrier;

// ---------------------------------------------------------------------------
// Parameters

std::string_view guard_name(DvbTGuard guard) noexcept {
  return kGuards.name(static_cast<DvbTGuard>(static_cast<unsigned>(guard) & 3));
}

std::optional<DvbTGuard> guard_from_name(std::string_view name) noexcept { return kGuards.parse(name); }

std::string_view dvb_t_constellation_name(ConstellationOrder order) noexcept {
  const std::string_view name = kDvbTConstellations.name(order);
  return name.empty() ? "?" : name;
}

std::size_t dvb_t_bits_per_cell(ConstellationOrder order) {
  const std::size_t bits = multicarrier::bits_per_point(order);
  if (bits != 2 && bits != 4 && bits != 6) core::panic("DVB-T order");
  return bits;
}

double nb_bandwidth_occupied_hz(NbBandwidth mode) noexcept {
  switch (mode) {
    case NbBandwidth::Khz333: return 333000.0;
    case NbBandwidth::Mhz1: return 1000000.0;
    case NbBandwidth::Mhz2: return 2000000.0;
  }
  return 0.0;
}

float nb_bandwidth_fs(NbBandwidth mode) noexcept {
  // The products occupied x 2048 are exact in 32 bits; one rounding divides.
  switch (mode) {
    case NbBandwidth::Khz333: return 681984000.0f / 1705.0f;
    case NbBandwidth::Mhz1: return 2048000000.0f / 1705.0f;
    case NbBandwidth::Mhz2: return 4096000000.0f / 1705.0f;
  }
  return 0.0f;
}

std::size_t tx_lowpass_suggested_taps(float stopband_db) noexcept {
  return multicarrier::tx_lowpass_suggested_taps(kOccupiedFraction, stopband_db);
}

std::size_t tx_lowpass_group_delay(std::size_t num_taps) noexcept {
  return multicarrier::tx_lowpass_group_delay(num_taps);
}

bool tx_lowpass_fits_guard(DvbTGuard guard, std::size_t num_taps, std::size_t roll_off,
                           std::size_t backoff) noexcept {
  return multicarrier::tx_lowpass_fits_guard(cp_len(guard), num_taps, roll_off, backoff);
}

multicarrier::TxLowpass tx_lowpass(std::size_t num_taps, float stopband_db) noexcept {
  return multicarrier::tx_lowpass_for_band(kOccupiedFraction, num_taps, stopband_db);
}

core::Result<multicarrier::TxLowpass> tx_lowpass_checked(std::string_view who,
                                                         std::size_t num_taps, float stopband_db) {
  if (num_taps > kMaxTxLowpassTaps)
    return core::error(std::string(who) + ".with_tx_lowpass: num_taps must be at most " +
                       std::to_string(kMaxTxLowpassTaps) +
                       " (a longer delay outgrows every guard interval), got " +
                       std::to_string(num_taps));
  return tx_lowpass(num_taps, stopband_db);
}

namespace {

// Levels times 1/sqrt(2(M - 1)/3), the scale rounded once from double.
template <std::size_t N>
std::array<float, N> scaled(std::array<int, N> levels, double m) {
  const float s = static_cast<float>(1.0 / std::sqrt(2.0 * (m - 1.0) / 3.0));
  std::array<float, N> out{};
  for (std::size_t i = 0; i < N; ++i) out[i] = static_cast<float>(levels[i]) * s;
  return out;
}

}  // namespace

std::span<const float> dvb_t_axis_levels(ConstellationOrder order) {
  static const std::array<float, 2> qpsk = scaled<2>({1, -1}, 4.0);
  static const std::array<float, 4> qam16 = scaled<4>({3, 1, -3, -1}, 16.0);
  static const std::array<float, 8> qam64 = scaled<8>({7, 5, 1, 3, -7, -5, -1, -3}, 64.0);
  switch (order) {
    case ConstellationOrder::Qpsk: return qpsk;
    case ConstellationOrder::Qam16: return qam16;
    case ConstellationOrder::Qam64: return qam64;
    default: core::panic("DVB-T order");
  }
}

fec::ChainSettings dvb_t_chain(PunctureRate rate) {
  fec::ChainSettings s;
  s.outer = kOuterCode;
  s.inner = fec::InnerFec::convolutional(true, rate);
  s.outer_interleaver = kOuterInterleaver;
  return s;
}

fec::BlockPlan dvb_t_block_plan(PunctureRate rate, std::uint64_t bytes, fec::CodecCache& cache) {
  return fec::block_plan(bytes, dvb_t_chain(rate), cache);
}

fec::EncodedStages dvb_t_encode(PunctureRate rate, std::span<const std::uint8_t> packets,
                                fec::CodecCache& cache) {
  return fec::encode_chain_stages(packets, dvb_t_chain(rate), 0, cache);
}

fec::ChainResult dvb_t_decode(PunctureRate rate, std::span<const float> soft,
                              const fec::BlockPlan& plan, fec::CodecCache& cache) {
  return fec::decode_chain(soft, plan, dvb_t_chain(rate), 0, cache,
                           fec::LdpcDecodeRule::sum_product());
}

DvbTFrameFill dvb_t_frame_fill_with(const DvbTFrameParams& params, std::uint64_t start,
                                    std::uint64_t symbols, fec::CodecCache& cache) {
  DvbTFrameFill fill;
  fill.capacity = core::checked_mul(
      core::checked_mul(symbols, dvb_t_bits_per_cell(params.constellation), "frame capacity"),
      kDataCells, "frame capacity");
  auto coded = [&](std::uint64_t packets) {
    return dvb_t_block_plan(params.code_rate,
                            core::checked_mul(packets, dvb_t_ts::kPacketLen, "packet stream"),
                            cache)
        .coded_bits;
  };
  fill.packets = start;
  fill.coded_bits = coded(start);
  for (std::uint64_t m = core::checked_add(start, 1, "packet count");;
       m = core::checked_add(m, 1, "packet count")) {
    const std::uint64_t b = coded(m);
    if (b > fill.capacity) break;
    fill.packets = m;
    fill.coded_bits = b;
  }
  return fill;
}

// ---------------------------------------------------------------------------
// 2K tables

std::vector<std::uint8_t> wk_prbs() {
  std::vector<std::uint8_t> w(kActiveCarriers);
  std::uint32_t r = 0x7FF;
  for (std::size_t k = 0; k < kActiveCarriers; ++k) {
    const std::uint32_t top = (r >> 10) & 1u;
    w[k] = static_cast<std::uint8_t>(top);
    r = ((r << 1) & 0x7FEu) | (top ^ ((r >> 1) & 1u));
  }
  return w;
}

std::array<CarrierPlan, 4> dvb_t_2k_plans(DvbTGuard guard) {
  const std::vector<std::uint8_t> w = wk_prbs();
  std::array<bool, kActiveCarriers> fixed{};
  for (std::uint16_t k : kContinualPilots) fixed[k] = true;
  for (std::uint16_t k : kTpsCarriers) fixed[k] = true;

  std::array<CarrierPlan, 4> plans;
  for (std::size_t l = 0; l < 4; ++l) {
    CarrierPlan& plan = plans[l];
    plan.n_fft = kFftSize;
    plan.cp_len = cp_len(guard);
    plan.roll_off = 0;
    plan.data_carriers.reserve(kDataCells);
    plan.pilot_carriers.reserve(kPilotsPerSymbol);
    for (std::size_t k = 0; k < kActiveCarriers; ++k) {
      const std::int32_t index = static_cast<std::int32_t>(k) - static_cast<std::int32_t>(kCentreCarrier);
      // Scattered pilots of phase l: k = 3l + 12p (EN 300 744 clause 4.5.3).
      const bool scattered = k % 12 == 3 * l;
      if (fixed[k] || scattered)
        plan.pilot_carriers.push_back(PilotCarrier{index, cf32{pilot_value(w[k]), 0.0f}});
      else
        plan.data_carriers.push_back(index);
    }
    VATEL_ENSURE(plan.data_carriers.size() == kDataCells,
                 "scattered plan phase " + std::to_string(l) + " must carry exactly " +
                     std::to_string(kDataCells) + " data carriers");
  }
  return plans;
}

namespace {
bool is_tps_bin(std::size_t bin) noexcept {
  return std::find(kTpsBins.begin(), kTpsBins.end(), bin) != kTpsBins.end();
}
}  // namespace

ScatteredGridCycle::ScatteredGridCycle(DvbTGuard guard) {
  const std::array<CarrierPlan, 4> plans = dvb_t_2k_plans(guard);
  for (std::size_t l = 0; l < 4; ++l) {
    grids[l] = CarrierGrid::from_plan(plans[l]);
    for (const PilotBin& p : grids[l].pilots)
      if (!is_tps_bin(p.bin)) pilots[l].push_back(p);
  }
}

ScatteredPilotMapper::ScatteredPilotMapper(ScatteredGridCycle cycle)
    : grids(std::move(cycle.grids)), pilots(std::move(cycle.pilots)), index(cycle.index) {}

void ScatteredPilotMapper::map_symbol(std::span<const cf32> cells, std::span<cf32> out) {
  VATEL_ENSURE(index < 4, "ScatteredPilotMapper: phase " + std::to_string(index) + " is not 0..=3");
  const CarrierGrid& g = grids[index];
  VATEL_ENSURE(g.n_fft <= out.size() && g.data_bins.size() <= kDataCells &&
                   cells.size() >= g.data_bins.size(),
               "ScatteredPilotMapper: symbol buffers too small for the grid");
  cf32* o = out.data();
  std::fill(o, o + g.n_fft, cf32{});
  const std::size_t* bins = g.data_bins.data();
  const cf32* c = cells.data();
  for (std::size_t i = 0, n = g.data_bins.size(); i < n; ++i) o[bins[i]] = c[i];
  for (const PilotBin& p : g.pilots) {
    VATEL_ENSURE(p.bin < g.n_fft, "ScatteredPilotMapper: pilot bin outside the FFT");
    o[p.bin] = p.value;
  }
  index = (index + 1) % 4;
}

}  // namespace vatel::waveform::dvb_t
