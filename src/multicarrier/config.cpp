#include "multicarrier/config.hpp"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <limits>
#include <unordered_set>

#include "core/checked.hpp"
#include "core/panic.hpp"

namespace vatel::multicarrier {

// ---------------------------------------------------------------------------
// Carrier plan

std::string CarrierPlanError::text() const {
  switch (kind) {
    case Kind::OutOfRange:
      return "carrier index " + std::to_string(index) + " is out of range for n_fft=" +
             std::to_string(n_fft) + " (valid: -(n_fft/2)..=((n_fft-1)/2))";
    case Kind::Overlap:
      return "carrier index " + std::to_string(index) +
             " is assigned more than one role (data/pilot overlap)";
    case Kind::EmptyDataSet:
      return "no data carriers specified";
    case Kind::InGuardBand:
      return "carrier index " + std::to_string(index) + " intrudes into the " +
             std::to_string(guard) + "-carrier edge-guard band";
  }
  return {};
}

std::string CarrierPlanError::debug() const {
  switch (kind) {
    case Kind::OutOfRange:
      return "OutOfRange(" + std::to_string(index) + ", " + std::to_string(n_fft) + ")";
    case Kind::Overlap:
      return "Overlap(" + std::to_string(index) + ")";
    case Kind::EmptyDataSet:
      return "EmptyDataSet";
    case Kind::InGuardBand:
      return "InGuardBand(" + std::to_string(index) + ", " + std::to_string(guard) + ")";
  }
  return {};
}

CarrierPlan CarrierPlan::with_pilot_carriers(CarrierPlan plan,
                                             std::span<const PilotCarrier> pilots) {
  plan.pilot_carriers.insert(plan.pilot_carriers.end(), pilots.begin(), pilots.end());
  return plan;
}

// The range is computed in 64 bits: for every size that fits a 32-bit int
// this is the same as the 32-bit computation, and larger sizes do not wrap.
std::int64_t CarrierPlan::lowest_index() const noexcept {
  return -static_cast<std::int64_t>(n_fft / 2);
}

std::int64_t CarrierPlan::highest_index() const noexcept {
  // (n - 1) / 2 truncating toward zero, which is 0 for n = 0.
  return n_fft == 0 ? 0 : static_cast<std::int64_t>((n_fft - 1) / 2);
}

CarrierPlan CarrierPlan::with_contiguous_data(CarrierPlan plan, std::size_t edge_guard) {
  // A guard beyond 2^32 carriers empties the span like any guard of half the
  // FFT or more; clamping keeps the arithmetic below in range.
  const std::int64_t g = static_cast<std::int64_t>(
      std::min<std::size_t>(edge_guard, std::size_t{1} << 32));
  const std::int64_t first = g + plan.lowest_index() + 1;
  const std::int64_t last = plan.highest_index() - g;
  if (first > last) return plan;
  std::unordered_set<std::int32_t> pilots;
  for (const PilotCarrier& p : plan.pilot_carriers) pilots.insert(p.index);
  // Valid indices of any plan lie within 32 bits.
  const std::int64_t lo = std::max<std::int64_t>(first, std::numeric_limits<std::int32_t>::min());
  const std::int64_t hi = std::min<std::int64_t>(last, std::numeric_limits<std::int32_t>::max());
  plan.data_carriers.reserve(plan.data_carriers.size() + static_cast<std::size_t>(hi - lo + 1));
  for (std::int64_t k = lo; k <= hi; ++k) {
    const auto idx = static_cast<std::int32_t>(k);
    if (idx == 0 || pilots.contains(idx)) continue;
    plan.data_carriers.push_back(idx);
  }
  return plan;
}

std::optional<CarrierPlanError> CarrierPlan::validate() const {
  if (data_carriers.empty()) return CarrierPlanError::empty_data_set();
  const std::int64_t lo = lowest_index(), hi = highest_index();
  for (std::int32_t k : data_carriers)
    if (k < lo || k > hi) return CarrierPlanError::out_of_range(k, n_fft);
  for (const PilotCarrier& p : pilot_carriers)
    if (p.index < lo || p.index > hi) return CarrierPlanError::out_of_range(p.index, n_fft);
  std::unordered_set<std::int32_t> seen;
  seen.reserve(data_carriers.size() + pilot_carriers.size());
  for (std::int32_t k : data_carriers)
    if (!seen.insert(k).second) return CarrierPlanError::overlap(k);
  for (const PilotCarrier& p : pilot_carriers)
    if (!seen.insert(p.index).second) return CarrierPlanError::overlap(p.index);
  return std::nullopt;
}

std::size_t CarrierPlan::carrier_bin(std::int32_t index) const {
  VATEL_ENSURE(n_fft != 0, "CarrierPlan::carrier_bin: remainder by zero (n_fft is 0)");
  if (index >= 0) return static_cast<std::size_t>(index) % n_fft;
  const std::size_t r = static_cast<std::size_t>(-static_cast<std::int64_t>(index)) % n_fft;
  return r == 0 ? 0 : n_fft - r;
}

std::size_t CarrierPlan::largest_abs_index() const noexcept {
  std::int64_t t = 0;
  for (std::int32_t k : data_carriers) t = std::max<std::int64_t>(t, std::abs(std::int64_t{k}));
  for (const PilotCarrier& p : pilot_carriers)
    t = std::max<std::int64_t>(t, std::abs(std::int64_t{p.index}));
  return static_cast<std::size_t>(t);
}

// ---------------------------------------------------------------------------
// Keywords

std::string quoted(std::string_view text) {
  std::string out = "\"";
  for (unsigned char c : text) {
    switch (c) {
      case '"': out += "\\\""; break;
      case '\\': out += "\\\\"; break;
      case '\n': out += "\\n"; break;
      case '\r': out += "\\r"; break;
      case '\t': out += "\\t"; break;
      case '\0': out += "\\0"; break;
      default:
        if (c < 0x20 || c == 0x7f) {
          char buf[16];
          std::snprintf(buf, sizeof buf, "\\u{%x}", c);
          out += buf;
        } else {
          out += static_cast<char>(c);
        }
    }
  }
  out += '"';
  return out;
}

core::Result<ConstellationOrder> parse_constellation(std::string_view keyword) {
  if (const auto order = kConstellations.parse(keyword)) return *order;
  return core::error("OfdmConfig: unknown constellation " + quoted(keyword) + " (expected one of: " +
                     kConstellations.listed(", ") + ")");
}

std::string_view constellation_debug_name(ConstellationOrder order) noexcept {
  switch (order) {
    case ConstellationOrder::Bpsk: return "Bpsk";
    case ConstellationOrder::Qpsk: return "Qpsk";
    case ConstellationOrder::Qam16: return "Qam16";
    case ConstellationOrder::Qam64: return "Qam64";
    case ConstellationOrder::Qam256: return "Qam256";
  }
  return {};
}

namespace {

core::Result<fec::CrcKind> parse_crc(std::string_view kind) {
  if (const auto crc = fec::frame::kCrcKinds.parse(kind)) return *crc;
  return core::error("unknown CRC " + quoted(kind) + " (expected " + fec::frame::kCrcKinds.listed("|") + ")");
}

// The interleaver of the named stage.
core::Result<fec::InterleaverKind OfdmConfig::*> parse_stage(std::string_view stage) {
  if (stage == "inner") return &OfdmConfig::inner_interleaver;
  if (stage == "outer") return &OfdmConfig::outer_interleaver;
  return core::error("unknown interleaver stage " + quoted(stage) + " (expected inner|outer)");
}

bool block_or_conv_with_zero(const fec::InterleaverKind& k) {
  return k.tag != fec::InterleaverKind::Tag::None && (k.a == 0 || k.b == 0);
}

// h / n_fft in 32-bit floats, a zero n_fft counting as 1.
float occupied_fraction(const OfdmConfig& cfg) {
  const float h = static_cast<float>(cfg.occupied_half_carriers());
  const float n = cfg.plan.n_fft == 0 ? 1.0f : static_cast<float>(cfg.plan.n_fft);
  return h / n;
}

}  // namespace

// ---------------------------------------------------------------------------
// Configuration

core::Result<void> OfdmConfig::check_pilot_lengths(std::size_t indices, std::size_t values) {
  if (indices == values) return {};
  return core::error("OfdmConfig: pilot_carrier_indices (" + std::to_string(indices) +
                     ") and pilot_carrier_values (" + std::to_string(values) +
                     ") must have the same length");
}

core::Result<OfdmConfig> OfdmConfig::create(std::size_t n_fft, std::size_t cp_len,
                                            std::span<const std::int32_t> data_carriers,
                                            std::span<const std::int32_t> pilot_indices,
                                            std::span<const cf32> pilot_values, float fs,
                                            float rf_hz, float gain,
                                            ConstellationOrder constellation,
                                            std::optional<std::size_t> edge_guard) {
  if (auto r = check_pilot_lengths(pilot_indices.size(), pilot_values.size()); !r)
    return r.error();
  std::vector<PilotCarrier> pilots(pilot_indices.size());
  for (std::size_t i = 0; i < pilots.size(); ++i) pilots[i] = {pilot_indices[i], pilot_values[i]};

  CarrierPlan plan;
  plan.n_fft = n_fft;
  plan.cp_len = cp_len;
  if (data_carriers.empty()) {
    if (edge_guard) {
      plan = CarrierPlan::with_pilot_carriers(std::move(plan), pilots);
      plan = CarrierPlan::with_contiguous_data(std::move(plan), *edge_guard);
    }
  } else {
    if (edge_guard)
      return core::error(
          "OfdmConfig: pass an empty data_carriers array when edge_guard is set (the "
          "contiguous span is generated automatically)");
    plan.data_carriers.assign(data_carriers.begin(), data_carriers.end());
    plan = CarrierPlan::with_pilot_carriers(std::move(plan), pilots);
  }
  if (auto e = plan.validate()) return core::error(e->text());

  OfdmConfig cfg;
  cfg.fs = fs;
  cfg.rf_hz = rf_hz;
  cfg.gain = gain;
  cfg.plan = std::move(plan);
  cfg.constellation = constellation;
  return cfg;
}

core::Result<OfdmConfig> OfdmConfig::with_inner_fec(std::string_view kind,
                                                    std::string_view code) const {
  using fec::frame::kInnerFecKinds;
  using fec::frame::kLdpcCodes;
  using fec::frame::kPunctureRates;
  auto inner = kInnerFecKinds.parse(kind);
  if (!inner)
    return core::error("with_inner_fec: unknown kind " + quoted(kind) + " (expected " +
                       kInnerFecKinds.listed("|") + ")");
  if (inner->kind == fec::InnerFec::Kind::Ldpc) {
    const auto id = kLdpcCodes.parse(code);
    if (!id)
      return core::error("unknown LDPC code " + quoted(code) + " (expected " + kLdpcCodes.listed("|") + ")");
    inner->code = *id;
  } else if (inner->kind == fec::InnerFec::Kind::Convolutional) {
    const auto rate = kPunctureRates.parse(code);
    if (!rate)
      return core::error("unknown puncture rate " + quoted(code) + " (expected " + kPunctureRates.listed("|") +
                         ")");
    inner->rate = *rate;
  }
  OfdmConfig c = *this;
  c.inner_fec = *inner;
  return c;
}

core::Result<OfdmConfig> OfdmConfig::with_outer_fec(std::string_view kind, std::uint64_t a,
                                                    std::uint64_t b) const {
  const auto tag = fec::frame::kOuterFecKinds.parse(kind);
  if (!tag)
    return core::error("with_outer_fec: unknown kind " + quoted(kind) + " (expected " +
                       fec::frame::kOuterFecKinds.listed("|") + ")");
  OfdmConfig c = *this;
  // The numbers are kept as given, whatever the variant uses.
  c.outer_fec = {*tag, a, b};
  return c;
}

core::Result<OfdmConfig> OfdmConfig::with_scrambler(std::uint32_t poly, std::uint8_t width,
                                                    std::uint32_t seed, bool per_frame_random,
                                                    std::string_view position) const {
  const auto pos = fec::frame::kScramblerPositions.parse(position);
  if (!pos)
    return core::error("with_scrambler: unknown position " + quoted(position) + " (expected " +
                       fec::frame::kScramblerPositions.listed("|") + ")");
  OfdmConfig c = *this;
  if (poly == 0)
    c.scrambler = fec::ScramblerKind::none();
  else
    c.scrambler = fec::ScramblerKind::lfsr(
        poly, width, per_frame_random ? fec::LfsrSeed::per_frame_random() : fec::LfsrSeed::fixed(seed));
  c.scrambler_position = *pos;
  return c;
}

OfdmConfig OfdmConfig::with_dvb_t_scrambler() const {
  OfdmConfig c = *this;
  c.scrambler = fec::ScramblerKind::dvb_t_energy_dispersal();
  c.scrambler_position = fec::ScramblerPosition::BeforeOuter;
  return c;
}

core::Result<OfdmConfig> OfdmConfig::with_header_crc(std::string_view kind) const {
  auto crc = parse_crc(kind);
  if (!crc) return crc.error();
  OfdmConfig c = *this;
  c.header_crc = crc.value();
  return c;
}

core::Result<OfdmConfig> OfdmConfig::with_payload_crc(std::string_view kind) const {
  auto crc = parse_crc(kind);
  if (!crc) return crc.error();
  OfdmConfig c = *this;
  c.payload_crc = crc.value();
  return c;
}

core::Result<OfdmConfig> OfdmConfig::with_header_format(std::string_view kind) const {
  const auto format = fec::frame::kHeaderFormats.parse(kind);
  if (!format)
    return core::error("with_header_format: unknown format " + quoted(kind) + " (expected " +
                       fec::frame::kHeaderFormats.listed("|") + ")");
  OfdmConfig c = *this;
  c.header_format = *format;
  return c;
}

core::Result<OfdmConfig> OfdmConfig::with_interleaver(std::string_view stage, std::uint64_t rows,
                                                      std::uint64_t cols) const {
  auto field = parse_stage(stage);
  if (!field) return field.error();
  OfdmConfig c = *this;
  c.*field.value() = (rows != 0 && cols != 0) ? fec::InterleaverKind::block(rows, cols)
                                              : fec::InterleaverKind::none();
  return c;
}

core::Result<OfdmConfig> OfdmConfig::with_conv_interleaver(std::string_view stage,
                                                           std::uint64_t branches,
                                                           std::uint64_t depth) const {
  auto field = parse_stage(stage);
  if (!field) return field.error();
  OfdmConfig c = *this;
  c.*field.value() = (branches != 0 && depth != 0)
                         ? fec::InterleaverKind::convolutional(branches, depth)
                         : fec::InterleaverKind::none();
  return c;
}

core::Result<OfdmConfig> OfdmConfig::with_ldpc_decode_rule(std::string_view kind,
                                                           float scale) const {
  const auto tag = fec::frame::kLdpcDecodeRules.parse(kind);
  if (!tag)
    return core::error("with_ldpc_decode_rule: unknown kind " + quoted(kind) + " (expected " +
                       fec::frame::kLdpcDecodeRules.listed("|") + ")");
  OfdmConfig c = *this;
  c.ldpc_decode_rule = fec::LdpcDecodeRule{*tag, scale};
  return c;
}

OfdmConfig OfdmConfig::with_symbol_window(std::size_t roll_off) const {
  OfdmConfig c = *this;
  c.plan.roll_off = roll_off;
  return c;
}

OfdmConfig symbol_config(const OfdmConfig& cfg, ConstellationOrder constellation) {
  OfdmConfig c;
  c.fs = cfg.fs;
  c.rf_hz = cfg.rf_hz;
  c.gain = cfg.gain;
  c.plan = cfg.plan;
  c.constellation = constellation;
  c.rx_window_backoff = cfg.rx_window_backoff;
  return c;
}

OfdmConfig OfdmConfig::with_rx_window_backoff(std::size_t backoff) const {
  OfdmConfig c = *this;
  c.rx_window_backoff = backoff;
  return c;
}

OfdmConfig OfdmConfig::with_tx_lowpass(std::size_t num_taps, float stopband_db) const {
  OfdmConfig c = *this;
  c.tx_lowpass = tx_lowpass_for_band(occupied_fraction(*this), num_taps, stopband_db);
  return c;
}

std::size_t OfdmConfig::bits_per_ofdm_symbol() const {
  return core::checked_mul(bits_per_point(constellation), plan.data_carriers.size(),
                           "bits per OFDM symbol");
}

std::size_t OfdmConfig::samples_per_ofdm_symbol() const {
  return core::checked_add(plan.n_fft, plan.cp_len, "samples per OFDM symbol");
}

std::size_t OfdmConfig::tx_lowpass_group_delay(std::size_t num_taps) noexcept {
  return multicarrier::tx_lowpass_group_delay(num_taps);
}

bool OfdmConfig::tx_lowpass_fits_guard(std::size_t num_taps, std::size_t roll_off,
                                       std::optional<std::size_t> backoff) const {
  const std::size_t cp = plan.cp_len;
  return multicarrier::tx_lowpass_fits_guard(cp, num_taps, roll_off, backoff ? *backoff : cp / 2);
}

std::size_t OfdmConfig::tx_lowpass_suggested_taps(float stopband_db) const {
  return multicarrier::tx_lowpass_suggested_taps(occupied_fraction(*this), stopband_db);
}

core::Result<void> OfdmConfig::validate_frame() const {
  if (scrambler.kind == fec::ScramblerKind::Kind::Lfsr &&
      scrambler.seed.kind == fec::LfsrSeed::Kind::PerFrameRandom &&
      header_format != fec::HeaderFormat::VatelSdr)
    return core::error(
        "per-frame-random scrambler seed requires a header (header_format != NoHeader)");
  if (block_or_conv_with_zero(outer_interleaver) || block_or_conv_with_zero(inner_interleaver))
    return core::error("block interleaver dimensions must be nonzero");
  if (outer_fec.tag == fec::OuterFec::Tag::Bch && outer_fec.a == 0)
    return core::error("BCH outer code requires t >= 1");
  if (outer_fec.tag == fec::OuterFec::Tag::ReedSolomon) {
    const std::uint64_t n = outer_fec.a, parity = outer_fec.b;
    if (parity % 2 != 0 || parity >= n || n == 0 || n > 255 || parity == 0)
      return core::error(
          "Reed\xE2\x80\x93Solomon requires 0 < n_parity < n <= 255 with n_parity even");
  }
  return {};
}

}  // namespace vatel::multicarrier
