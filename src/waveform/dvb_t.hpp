#pragma once
// DVB-T 2K, non-hierarchical (EN 300 744): the parameters a transmission is
// named by, its numerology, and the fixed tables of the 2K mode (the pilot
// reference sequence w_k, continual, scattered and TPS pilots) turned into
// the carrier plans and grids of the OFDM layer.
//
// Carrier k = 0 ..= 1704 is entered in a plan under the signed index k - 852,
// so carrier 852 is DC, carriers 853 ..= 1704 go to bins 1 ..= 852 and
// carriers 0 ..= 851 to bins 1196 ..= 2047; bins 853 ..= 1195 stay empty.
#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string_view>
#include <vector>

#include "core/keywords.hpp"
#include "core/result.hpp"
#include "core/types.hpp"
#include "fec/chain.hpp"
#include "fec/codec_cache.hpp"
#include "fec/frame.hpp"
#include "multicarrier/config.hpp"
#include "multicarrier/grid.hpp"
#include "multicarrier/tx_lowpass.hpp"

namespace vatel::waveform::dvb_t {

using fec::PunctureRate;
using multicarrier::ConstellationOrder;

inline constexpr std::size_t kFftSize = 2048;
inline constexpr std::size_t kActiveCarriers = 1705;
inline constexpr std::size_t kCentreCarrier = 852;
inline constexpr std::size_t kDataCells = 1512;
inline constexpr std::size_t kPilotsPerSymbol = 193;
inline constexpr std::size_t kTpsCount = 17;

// ---------------------------------------------------------------------------
// Parameters

enum class DvbTGuard : std::uint8_t { G1_32 = 0, G1_16 = 1, G1_8 = 2, G1_4 = 3 };

inline constexpr auto kGuards = core::keyword_table<DvbTGuard>({
    {"1/32", DvbTGuard::G1_32},
    {"1/16", DvbTGuard::G1_16},
    {"1/8", DvbTGuard::G1_8},
    {"1/4", DvbTGuard::G1_4},
});

// "1/32", "1/16", "1/8" or "1/4".
std::string_view guard_name(DvbTGuard guard) noexcept;
// The guard of that name, matched exactly; nothing for any other text.
std::optional<DvbTGuard> guard_from_name(std::string_view name) noexcept;
// 64, 128, 256 or 512 samples.
constexpr std::size_t cp_len(DvbTGuard guard) noexcept {
  return std::size_t{64} << static_cast<unsigned>(guard);
}
// The symbol period: the guard and the 2048 samples of the FFT, 2112 to 2560.
constexpr std::size_t samples_per_symbol(DvbTGuard guard) noexcept { return kFftSize + cp_len(guard); }

// The three constellations DVB-T carries, under their OFDM names: "qpsk",
// "qam16", "qam64".
inline constexpr auto kDvbTConstellations = multicarrier::kConstellations.only(
    {ConstellationOrder::Qpsk, ConstellationOrder::Qam16, ConstellationOrder::Qam64});
// The name of a DVB-T constellation; "?" for another order.
std::string_view dvb_t_constellation_name(ConstellationOrder order) noexcept;

// The narrow-band channels: the 2K structure unchanged, the sample rate
// scaled so that the 1705 active carriers span the channel.
enum class NbBandwidth : std::uint8_t { Khz333 = 0, Mhz1 = 1, Mhz2 = 2 };
inline constexpr auto kNbBandwidths = core::keyword_table<NbBandwidth>({
    {"333khz", NbBandwidth::Khz333},
    {"333k", NbBandwidth::Khz333, true},
    {"1mhz", NbBandwidth::Mhz1},
    {"1m", NbBandwidth::Mhz1, true},
    {"2mhz", NbBandwidth::Mhz2},
    {"2m", NbBandwidth::Mhz2, true},
});
// 333000, 1000000 or 2000000 Hz.
double nb_bandwidth_occupied_hz(NbBandwidth mode) noexcept;
// occupied x 2048 / 1705 in 32-bit floats: 399990.625, 1201173, 2402346.
float nb_bandwidth_fs(NbBandwidth mode) noexcept;

// The largest receive-window back-off this system documents; reported only.
inline constexpr std::size_t kMaxRxWindowBackoff = 85;

// The TX low-pass sized against the last active carrier, 852 of 2048.
inline constexpr float kOccupiedFraction = 852.0f / 2048.0f;
// Beyond 4097 taps the filter delay (2048 samples) outgrows every guard
// interval, and the design and filtering costs grow without use.
inline constexpr std::size_t kMaxTxLowpassTaps = 4097;
std::size_t tx_lowpass_suggested_taps(float stopband_db) noexcept;
std::size_t tx_lowpass_group_delay(std::size_t num_taps) noexcept;
bool tx_lowpass_fits_guard(DvbTGuard guard, std::size_t num_taps, std::size_t roll_off,
                           std::size_t backoff) noexcept;
// The mask of the DVB-T modulators' with_tx_lowpass (no range test).
multicarrier::TxLowpass tx_lowpass(std::size_t num_taps, float stopband_db) noexcept;
// The same for a modulator's builder: more than kMaxTxLowpassTaps taps are
// refused with "{who}.with_tx_lowpass: ..." naming the limit.
core::Result<multicarrier::TxLowpass> tx_lowpass_checked(std::string_view who,
                                                         std::size_t num_taps, float stopband_db);

// The parameters of one frame.  frame_number and cell_id keep the values
// given; the TPS word decides which of their bits go on air.
struct DvbTFrameParams {
  DvbTGuard guard = DvbTGuard::G1_32;
  ConstellationOrder constellation = ConstellationOrder::Qpsk;
  PunctureRate code_rate = PunctureRate::R1_2;
  std::uint8_t frame_number = 0;
  std::uint8_t cell_id = 0;
  friend bool operator==(const DvbTFrameParams&, const DvbTFrameParams&) = default;
};

// The parameters of a super-frame of four frames; the 16-bit cell id is split
// over the frames' 8-bit TPS fields.
struct DvbTSuperFrameParams {
  std::uint16_t cell_id = 0;
  DvbTGuard guard = DvbTGuard::G1_32;
  ConstellationOrder constellation = ConstellationOrder::Qpsk;
  PunctureRate code_rate = PunctureRate::R1_2;
  friend bool operator==(const DvbTSuperFrameParams&, const DvbTSuperFrameParams&) = default;
};

// The parameters of frame i (0 ..= 3) of a super-frame: numbered i, the
// cell id's high byte in frames 0 and 2, its low byte in frames 1 and 3.
inline DvbTFrameParams super_frame_part(const DvbTSuperFrameParams& p, std::size_t i) noexcept {
  const std::uint8_t cell_byte =
      static_cast<std::uint8_t>(i % 2 == 0 ? p.cell_id >> 8 : p.cell_id & 0xFF);
  return {p.guard, p.constellation, p.code_rate, static_cast<std::uint8_t>(i), cell_byte};
}

// Coded bits per cell: the constellation's bits per point, which DVB-T
// carries for 2, 4 and 6 only; another order stops the call.
std::size_t dvb_t_bits_per_cell(ConstellationOrder order);

// The per-axis levels of a constellation, index = the axis's bits most
// significant first, scaled to unit average power of the points: QPSK +1 -1;
// 16-QAM +3 +1 -3 -1; 64-QAM +7 +5 +1 +3 -7 -5 -1 -3 (EN 300 744 clause
// 4.3.5, index 0 the largest positive level).  Another order stops the call.
std::span<const float> dvb_t_axis_levels(ConstellationOrder order);

// ---------------------------------------------------------------------------
// The fixed coding chain of every frame: no CRC, Reed-Solomon (204, 188),
// the 12 x 17 convolutional interleaver, the punctured K = 7 code, no inner
// interleaver; the energy dispersal is applied to the packets beforehand.

inline constexpr fec::OuterFec kOuterCode = fec::OuterFec::reed_solomon(204, 16);
inline constexpr fec::InterleaverKind kOuterInterleaver = fec::InterleaverKind::convolutional(12, 17);

fec::ChainSettings dvb_t_chain(PunctureRate rate);
fec::BlockPlan dvb_t_block_plan(PunctureRate rate, std::uint64_t bytes, fec::CodecCache& cache);
fec::EncodedStages dvb_t_encode(PunctureRate rate, std::span<const std::uint8_t> packets,
                                fec::CodecCache& cache);
// The soft values of a plan's coded bits decoded back through the chain.
fec::ChainResult dvb_t_decode(PunctureRate rate, std::span<const float> soft,
                              const fec::BlockPlan& plan, fec::CodecCache& cache);

// How many whole packets a frame of `symbols` symbols holds, from `start`.
struct DvbTFrameFill {
  std::uint64_t packets = 0;     // the last count whose coded bits fit
  std::uint64_t coded_bits = 0;  // of that many packets
  std::uint64_t capacity = 0;    // symbols x 1512 x bits per cell
  friend bool operator==(const DvbTFrameFill&, const DvbTFrameFill&) = default;
};
// Adds packets to `start` while the coded length of one more still fits;
// when even start + 1 does not fit the result keeps `start`, whether or not
// those fit.  Only the constellation and code rate of params are read.
DvbTFrameFill dvb_t_frame_fill_with(const DvbTFrameParams& params, std::uint64_t start,
                                    std::uint64_t symbols, fec::CodecCache& cache);

// ---------------------------------------------------------------------------
// 2K tables

// The 2K continual-pilot carriers (EN 300 744, Table 7).
inline constexpr std::array<std::uint16_t, 45> kContinualPilots = {
    0,    48,   54,   87,   141,  156,  192,  201,  255,  279,  282,  333,  432,  450,  483,
    525,  531,  618,  636,  714,  759,  765,  780,  804,  873,  888,  918,  939,  942,  969,
    984,  1050, 1101, 1107, 1110, 1137, 1140, 1146, 1206, 1269, 1323, 1377, 1491, 1683, 1704};

// The 2K TPS carriers (EN 300 744, Table 8), in TPS order.
inline constexpr std::array<std::uint16_t, kTpsCount> kTpsCarriers = {
    34, 50, 209, 346, 413, 569, 595, 688, 790, 901, 1073, 1219, 1262, 1286, 1469, 1594, 1687};

// The FFT bin of carrier k.
constexpr std::size_t carrier_bin(std::size_t k) noexcept {
  return (k + kFftSize - kCentreCarrier) % kFftSize;
}

// The TPS carriers' bins, in TPS order.
inline constexpr std::array<std::size_t, kTpsCount> kTpsBins = [] {
  std::array<std::size_t, kTpsCount> b{};
  for (std::size_t i = 0; i < kTpsCount; ++i) b[i] = carrier_bin(kTpsCarriers[i]);
  return b;
}();

// The pilot reference sequence: 1705 values 0 or 1, w_0 for carrier 0
// (x^11 + x^2 + 1 from all ones, EN 300 744 clause 4.5.2).
std::vector<std::uint8_t> wk_prbs();

// The boosted pilot value 4/3 x 2(1/2 - w_k): +4/3 for w_k = 0, -4/3 for 1.
constexpr float pilot_value(std::uint8_t wk) noexcept {
  return (0.5f - static_cast<float>(wk)) * (8.0f / 3.0f);
}

// The four plans of a guard, element l for symbol phase l: 1512 data
// carriers and 193 pilots (continual, scattered of phase l, and the TPS
// carriers with their pilot value, which the transmitter overwrites).
std::array<multicarrier::CarrierPlan, 4> dvb_t_2k_plans(DvbTGuard guard);

// The grids of the four phases with the pilots a receiver may treat as known
// (the TPS bins left out: 176 per phase), and the phase of the next symbol.
struct ScatteredGridCycle {
  std::array<multicarrier::CarrierGrid, 4> grids;
  std::array<std::vector<multicarrier::PilotBin>, 4> pilots;
  std::size_t index = 0;

  explicit ScatteredGridCycle(DvbTGuard guard);
};

// The transmitter's view of the cycle: it writes the grids' full pilot lists.
struct ScatteredPilotMapper {
  std::array<multicarrier::CarrierGrid, 4> grids;
  std::array<std::vector<multicarrier::PilotBin>, 4> pilots;
  std::size_t index = 0;

  explicit ScatteredPilotMapper(ScatteredGridCycle cycle);

  // Writes one symbol's spectrum into out[0..2048): zeros, the 1512 cells on
  // the data carriers in ascending carrier order, then every pilot of the
  // phase; advances the phase.
  void map_symbol(std::span<const cf32> cells, std::span<cf32> out);
};

}  // namespace vatel::waveform::dvb_t
