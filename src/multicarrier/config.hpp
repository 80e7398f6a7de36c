#pragma once
// The carrier plan of an OFDM symbol and the OFDM configuration built on it.
//
// Carriers are named by signed indices centred on DC: carrier 0 is DC,
// negative indices lie below it.  A plan of n_fft bins accepts the indices
// -(n_fft/2) ..= (n_fft-1)/2.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "core/keywords.hpp"
#include "core/result.hpp"
#include "core/types.hpp"
#include "fec/frame.hpp"
#include "multicarrier/tx_lowpass.hpp"

namespace vatel::multicarrier {

// Why a carrier plan is refused.
struct CarrierPlanError {
  enum class Kind : std::uint8_t { OutOfRange, Overlap, EmptyDataSet, InGuardBand };
  Kind kind = Kind::EmptyDataSet;
  std::int32_t index = 0;   // OutOfRange, Overlap, InGuardBand
  std::size_t n_fft = 0;    // OutOfRange
  std::size_t guard = 0;    // InGuardBand

  static CarrierPlanError out_of_range(std::int32_t index, std::size_t n_fft) {
    return {Kind::OutOfRange, index, n_fft, 0};
  }
  static CarrierPlanError overlap(std::int32_t index) { return {Kind::Overlap, index, 0, 0}; }
  static CarrierPlanError empty_data_set() { return {Kind::EmptyDataSet, 0, 0, 0}; }
  static CarrierPlanError in_guard_band(std::int32_t index, std::size_t guard) {
    return {Kind::InGuardBand, index, 0, guard};
  }

  // The text a user reads, e.g. "no data carriers specified".
  std::string text() const;
  // The variant with its fields, e.g. "OutOfRange(70, 64)".
  std::string debug() const;

  friend bool operator==(const CarrierPlanError&, const CarrierPlanError&) = default;
};

struct PilotCarrier {
  std::int32_t index = 0;
  cf32 value{};
  friend bool operator==(const PilotCarrier&, const PilotCarrier&) = default;
};

struct CarrierPlan {
  std::size_t n_fft = 0;
  std::size_t cp_len = 0;
  // The k-th data cell of a symbol goes to the k-th listed carrier.
  std::vector<std::int32_t> data_carriers;
  std::vector<PilotCarrier> pilot_carriers;
  // Raised-cosine symbol taper length in samples; 0 is no taper.
  std::size_t roll_off = 0;

  // Appends the pilots in the given order; no check.
  static CarrierPlan with_pilot_carriers(CarrierPlan plan, std::span<const PilotCarrier> pilots);
  // Appends the contiguous span g - n/2 + 1 ..= (n-1)/2 - g, skipping DC and
  // the pilots already present (so set the pilots first); no check.
  static CarrierPlan with_contiguous_data(CarrierPlan plan, std::size_t edge_guard);

  // The lowest and highest valid carrier index.
  std::int64_t lowest_index() const noexcept;
  std::int64_t highest_index() const noexcept;

  // The first error found, or nothing for a valid plan.
  std::optional<CarrierPlanError> validate() const;

  // The FFT bin of carrier `index`: its Euclidean remainder by n_fft.
  // Panics when n_fft is 0.
  std::size_t carrier_bin(std::int32_t index) const;

  // The largest absolute carrier index among data and pilots (0 for none).
  std::size_t largest_abs_index() const noexcept;

  friend bool operator==(const CarrierPlan&, const CarrierPlan&) = default;
};

enum class ConstellationOrder : std::uint8_t { Bpsk = 0, Qpsk = 1, Qam16 = 2, Qam64 = 3, Qam256 = 4 };

constexpr std::size_t bits_per_point(ConstellationOrder order) noexcept {
  switch (order) {
    case ConstellationOrder::Bpsk: return 1;
    case ConstellationOrder::Qpsk: return 2;
    case ConstellationOrder::Qam16: return 4;
    case ConstellationOrder::Qam64: return 6;
    case ConstellationOrder::Qam256: return 8;
  }
  return 0;
}

// The number of points of a square QAM (16, 64 or 256); 0 for BPSK and QPSK,
// which have no QAM table.
constexpr unsigned qam_order(ConstellationOrder order) noexcept {
  const std::size_t bits = bits_per_point(order);
  return bits >= 4 ? 1u << bits : 0;
}

inline constexpr auto kConstellations = core::keyword_table<ConstellationOrder>({
    {"bpsk", ConstellationOrder::Bpsk},
    {"qpsk", ConstellationOrder::Qpsk},
    {"qam16", ConstellationOrder::Qam16},
    {"qam64", ConstellationOrder::Qam64},
    {"qam256", ConstellationOrder::Qam256},
});

// "bpsk", "qpsk", "qam16", "qam64" or "qam256", matched exactly.
core::Result<ConstellationOrder> parse_constellation(std::string_view keyword);
// "Bpsk", "Qpsk", "Qam16", "Qam64", "Qam256".
std::string_view constellation_debug_name(ConstellationOrder order) noexcept;

// The description of one OFDM link: the carrier plan and signal settings,
// and every setting of the frame layer that runs over it.  A plain value;
// the builders return a changed copy.
struct OfdmConfig {
  float fs = 0.0f;
  float rf_hz = 0.0f;
  float gain = 1.0f;
  bool dvb_t_scattered_pilots = false;
  CarrierPlan plan;
  ConstellationOrder constellation = ConstellationOrder::Qpsk;
  fec::OuterFec outer_fec{};
  fec::InnerFec inner_fec{};
  fec::InterleaverKind outer_interleaver{};
  fec::InterleaverKind inner_interleaver{};
  fec::HeaderFormat header_format = fec::HeaderFormat::VatelSdr;
  fec::CrcKind payload_crc = fec::CrcKind::Crc32;
  fec::CrcKind header_crc = fec::CrcKind::Crc16;
  fec::ScramblerKind scrambler{};
  fec::ScramblerPosition scrambler_position = fec::ScramblerPosition::BeforeOuter;
  fec::LdpcDecodeRule ldpc_decode_rule = fec::LdpcDecodeRule::sum_product();
  std::size_t rx_window_backoff = 0;
  std::optional<TxLowpass> tx_lowpass;

  // Builds and validates a configuration.  The pilots pair the indices and
  // values by position.  With an empty `data_carriers` and an edge guard the
  // data span is generated around the pilots.
  static core::Result<OfdmConfig> create(std::size_t n_fft, std::size_t cp_len,
                                         std::span<const std::int32_t> data_carriers,
                                         std::span<const std::int32_t> pilot_indices,
                                         std::span<const cf32> pilot_values, float fs,
                                         float rf_hz, float gain, ConstellationOrder constellation,
                                         std::optional<std::size_t> edge_guard);
  // The refusal of two pilot arrays of different lengths.
  static core::Result<void> check_pilot_lengths(std::size_t indices, std::size_t values);

  // Builders: a new configuration, or the keyword's error.
  core::Result<OfdmConfig> with_inner_fec(std::string_view kind, std::string_view code) const;
  core::Result<OfdmConfig> with_outer_fec(std::string_view kind, std::uint64_t a,
                                          std::uint64_t b) const;
  core::Result<OfdmConfig> with_scrambler(std::uint32_t poly, std::uint8_t width,
                                          std::uint32_t seed, bool per_frame_random,
                                          std::string_view position) const;
  OfdmConfig with_dvb_t_scrambler() const;
  core::Result<OfdmConfig> with_header_crc(std::string_view kind) const;
  core::Result<OfdmConfig> with_payload_crc(std::string_view kind) const;
  core::Result<OfdmConfig> with_header_format(std::string_view kind) const;
  core::Result<OfdmConfig> with_interleaver(std::string_view stage, std::uint64_t rows,
                                            std::uint64_t cols) const;
  core::Result<OfdmConfig> with_conv_interleaver(std::string_view stage, std::uint64_t branches,
                                                 std::uint64_t depth) const;
  core::Result<OfdmConfig> with_ldpc_decode_rule(std::string_view kind, float scale) const;
  OfdmConfig with_symbol_window(std::size_t roll_off) const;
  OfdmConfig with_rx_window_backoff(std::size_t backoff) const;
  OfdmConfig with_tx_lowpass(std::size_t num_taps, float stopband_db) const;

  // Queries.
  std::size_t bits_per_ofdm_symbol() const;
  std::size_t samples_per_ofdm_symbol() const;
  std::size_t occupied_half_carriers() const { return plan.largest_abs_index(); }
  static std::size_t tx_lowpass_group_delay(std::size_t num_taps) noexcept;
  bool tx_lowpass_fits_guard(std::size_t num_taps, std::size_t roll_off,
                             std::optional<std::size_t> backoff) const;
  std::size_t tx_lowpass_suggested_taps(float stopband_db) const;
  // The consistency rules of the frame-layer settings.
  core::Result<void> validate_frame() const;

  // Field by field; the floats with IEEE equality (NaN never equal).
  friend bool operator==(const OfdmConfig&, const OfdmConfig&) = default;
};

// The configuration of the symbol modulator and demodulator of one frame
// section: the plan and signal settings of `cfg`, the given constellation,
// no TX low-pass, and every frame-chain setting at its default.
OfdmConfig symbol_config(const OfdmConfig& cfg, ConstellationOrder constellation);

// A string as a quoted literal with escapes, as error messages show it.
std::string quoted(std::string_view text);

}  // namespace vatel::multicarrier
