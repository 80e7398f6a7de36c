#include "demodulate/ofdm_frame.hpp"

#include <algorithm>
#include <cmath>
#include <limits>
#include <string>

#include "core/checked.hpp"
#include "core/panic.hpp"
#include "dsp/rotator.hpp"
#include "fec/ldpc_codes.hpp"
#include "modulate/constellation.hpp"
#include "sync/cp_offset.hpp"

namespace vatel::demodulate::ofdm_frame {
namespace {

using demodulate::ofdm::evm_db;
using demodulate::ofdm::OfdmSoftDemod;
using fec::frame::rx_error_text;
using modulate::ofdm_frame::FrameLink;
using modulate::ofdm_frame::kHeaderBytes;
using modulate::ofdm_frame::kHeaderInner;
using modulate::ofdm_frame::section_symbols;

constexpr std::size_t kMinTrackedSymbols = 4;
// The largest noise figure relative to the channel's mean power that a
// section is credited with: -40 dB.
constexpr float kNoiseFloor = 1e-4f;
// The sum-product decoder's check messages never exceed
// kMaxSumProductMessage, so a soft value beyond what the checks of its bit
// can outweigh would be final, right or wrong; at a high SNR, where the
// noise figure leaves every value far beyond it, the decoder would correct
// nothing.  Values handed to it stay below what two checks (a parity bit's)
// overturn.  Measured on a clean channel with a few inverted bits per
// codeword, bounds from 7 up leave ten times as many codewords uncorrected
// as 6.5; in noise, bounds below 6 cost 16- and 64-QAM about 0.1 dB at their
// working SNR, 6.5 nothing measurable.
constexpr float kSoftBound = 6.5f;
static_assert(kSoftBound < 2.0f * fec::ldpc_codes::kMaxSumProductMessage);

// The pieces that demodulate a section of the configuration's plan, made
// once and kept while the plan stays the same.
void prepare(const OfdmConfig& cfg, FrameScratch::Work& w) {
  const multicarrier::CarrierPlan& plan = cfg.plan;
  if (!w.fft || !(w.plan == plan)) {
    w.plan = plan;
    w.fft.emplace(plan.n_fft, plan.cp_len);
    w.grid.emplace(multicarrier::GridExtract::from_grid(multicarrier::CarrierGrid::from_plan(plan)));
    w.equalizer.reset();
    w.spectrum.assign(plan.n_fft, cf32{});
  }
  const std::size_t backoff = std::min(cfg.rx_window_backoff, plan.cp_len);
  if (w.fft->backoff() != backoff || w.backoff_ramp.size() != (backoff ? plan.n_fft : 0)) {
    w.fft->set_backoff(backoff);
    // A window that starts b samples early sees bin k turned by
    // e^(-j 2 pi k b / n); the ramp turns it back.
    w.backoff_ramp.clear();
    if (backoff != 0) {
      w.backoff_ramp.resize(plan.n_fft);
      const double n = static_cast<double>(plan.n_fft);
      for (std::size_t k = 0; k < plan.n_fft; ++k) {
        const double a = 2.0 * 3.14159265358979323846 * static_cast<double>((k * backoff) % plan.n_fft) / n;
        w.backoff_ramp[k] = {static_cast<float>(std::cos(a)), static_cast<float>(std::sin(a))};
      }
    }
  }
}

// The points of the hard decisions (1 for a value <= 0) of `n` cells' soft
// values, by the constellation's mapper.
void decided_points(ConstellationOrder c, const float* llr, std::size_t n, cf32* out) {
  switch (c) {
    case ConstellationOrder::Bpsk:
      for (std::size_t i = 0; i < n; ++i) out[i] = modulate::bpsk_map(llr[i] <= 0.0f);
      return;
    case ConstellationOrder::Qpsk:
      for (std::size_t i = 0; i < n; ++i)
        out[i] = modulate::qpsk_map(llr[2 * i] <= 0.0f, llr[2 * i + 1] <= 0.0f);
      return;
    default: {
      const modulate::QamTable* qam = modulate::qam_table(multicarrier::qam_order(c));
      const std::size_t b = bits_per_point(c);
      std::uint8_t bits[8];
      for (std::size_t i = 0; i < n; ++i) {
        for (std::size_t k = 0; k < b; ++k) bits[k] = llr[i * b + k] <= 0.0f;
        out[i] = modulate::qam_map(*qam, bits);
      }
    }
  }
}

// |H_k|^2 of each data cell, from the training weights W_k = 1 / H_k (0
// where the equaliser found no channel).
void channel_power(const multicarrier::OfdmEqualizer& eq, const multicarrier::GridExtract& grid,
                   FrameScratch::Work& w) {
  const std::size_t D = grid.data_bins().size();
  w.gains.resize(D);
  for (std::size_t i = 0; i < D; ++i) {
    const float m = std::norm(eq.weights[grid.data_bins()[i]]);
    w.gains[i] = m > 0.0f ? 1.0f / m : 0.0f;
  }
}

// The demapper's soft values are distances in units of squared amplitude,
// whatever the noise; the decoders want log-likelihood ratios: the sum-product
// LDPC decoder loses several dB and most of its iterations on values far too
// small (a dense constellation at a high SNR), and every decoder gains from
// knowing which cells to trust.  An equalised cell k carries the noise power
// of its bin divided by |H_k|^2, so its value is weighted by |H_k|^2 / N0: a
// cell on a faded carrier counts for little.  N0, the noise per bin before
// equalisation, is measured against the decided points symbol by symbol, so
// an impulse that spoils one symbol makes that symbol less trusted rather
// than the whole section; the section's median keeps a symbol whose few
// cells happen to lie close to their points from being trusted beyond it.
// A positive factor changes no hard decision.
void weigh_soft_values(ConstellationOrder c, std::span<const cf32> cells,
                       std::span<const float> gains, std::size_t D, std::span<float> soft,
                       FrameScratch::Work& w) {
  if (cells.empty() || D == 0) return;
  const std::size_t count = cells.size() / D;
  const std::size_t b = bits_per_point(c);
  w.points.resize(cells.size());
  decided_points(c, soft.data(), cells.size(), w.points.data());
  if (gains.empty()) {
    w.unit_gains.assign(D, 1.0f);
    gains = w.unit_gains;
  }
  float mean_gain = 0.0f;
  for (std::size_t i = 0; i < D; ++i) mean_gain = mean_gain + gains[i];
  mean_gain = mean_gain / static_cast<float>(D);
  w.symbol_noise.resize(count);
  for (std::size_t s = 0; s < count; ++s) {
    const cf32* x = cells.data() + s * D;
    const cf32* p = w.points.data() + s * D;
    float error = 0.0f;
    for (std::size_t i = 0; i < D; ++i) {
      const float dr = x[i].real() - p[i].real(), di = x[i].imag() - p[i].imag();
      error = error + gains[i] * (dr * dr + di * di);
    }
    w.symbol_noise[s] = error / static_cast<float>(D);
  }
  w.median_scratch.assign(w.symbol_noise.begin(), w.symbol_noise.end());
  std::erase_if(w.median_scratch, [](float x) { return !std::isfinite(x); });
  if (w.median_scratch.empty() || !(mean_gain > 0.0f)) return;
  const auto mid = w.median_scratch.begin() + static_cast<std::ptrdiff_t>(w.median_scratch.size() / 2);
  std::nth_element(w.median_scratch.begin(), mid, w.median_scratch.end());
  // Below -40 dB of noise the decoders have long converged anyway.
  const float section = std::max(*mid, kNoiseFloor * mean_gain);
  // Per unit noise: QPSK's values are twice the distance difference.
  const float unit = c == ConstellationOrder::Qpsk ? 0.5f : 1.0f;
  for (std::size_t s = 0; s < count; ++s) {
    const float own = w.symbol_noise[s];
    const float k = unit / (std::isfinite(own) ? std::max(own, section) : section);
    float* v = soft.data() + s * D * b;
    for (std::size_t i = 0; i < D; ++i) {
      const float g = k * gains[i];
      for (std::size_t j = 0; j < b; ++j) v[i * b + j] = v[i * b + j] * g;
    }
  }
}

void bound_for_sum_product(std::span<float> soft) {
  for (float& v : soft) v = v > kSoftBound ? kSoftBound : (v < -kSoftBound ? -kSoftBound : v);
}

inline cf32 rotate(cf32 x, float c, float s) {
  // x * e^(-j a) with c = cos a, s = sin a.
  return {x.real() * c + x.imag() * s, x.imag() * c - x.real() * s};
}

// How a section's phase is treated after equalisation.
struct PhasePlan {
  bool equalise = false;
  // Start of the tracking loop (carried from the header for the payload).
  float theta = 0.0f;
  float omega = 0.0f;
  // A section too short to track: the header's line extended over it,
  // from symbol index `offset` of the header's count.
  std::optional<PhaseLine> extend;
  float offset = 0.0f;
};

// Demodulates `count` symbols of constellation c from `samples` into soft
// values; the cells as demapped are appended to `cells_out` when given.
// False when the samples end early.  Returns the tracked line in `line`.
bool demodulate_section(const OfdmConfig& cfg, ConstellationOrder c, std::span<const cf32> samples,
                        std::size_t count, const PhasePlan& phase, std::vector<float>& soft,
                        std::vector<cf32>* cells_out, std::optional<PhaseLine>* line,
                        FrameScratch::Work& w) {
  const std::size_t S = cfg.samples_per_ofdm_symbol();
  const std::size_t D = cfg.plan.data_carriers.size();
  const std::size_t b = bits_per_point(c);
  const std::size_t n_fft = cfg.plan.n_fft;
  if (samples.size() / std::max<std::size_t>(S, 1) < count) return false;
  const std::size_t per_symbol = core::checked_mul(D, b, "soft values per symbol");
  // Every value is written below.
  soft.resize(core::checked_mul(count, per_symbol, "section soft values"));
  OfdmSoftDemod demod = OfdmSoftDemod::for_cells(c, D);
  if (line) line->reset();

  w.section.resize(core::checked_mul(count, D, "section cells"));
  for (std::size_t s = 0; s < count; ++s) {
    w.fft->process(samples.subspan(s * S, S));
    std::span<const cf32> spectrum = w.fft->spectrum();
    if (phase.equalise) {
      if (w.equalizer->process(spectrum, w.spectrum) != n_fft) return false;
      spectrum = w.spectrum;
    } else if (!w.backoff_ramp.empty()) {
      for (std::size_t k = 0; k < n_fft; ++k) w.spectrum[k] = spectrum[k] * w.backoff_ramp[k];
      spectrum = w.spectrum;
    }
    w.grid->extract(spectrum, std::span<cf32>(w.section).subspan(s * D, D));
  }
  // Only equalised cells have a common phase to follow.
  if (phase.equalise && count >= kMinTrackedSymbols) {
    const auto fitted = track_common_phase(w.section, D, count, c, phase.theta, phase.omega, w);
    if (line) *line = fitted;
  } else if (phase.equalise && phase.extend) {
    for (std::size_t s = 0; s < count; ++s) {
      const float a = phase.extend->slope * (phase.offset + static_cast<float>(s)) +
                      phase.extend->intercept;
      float sn, cs;
      ::sincosf(a, &sn, &cs);
      for (std::size_t i = 0; i < D; ++i) w.section[s * D + i] = rotate(w.section[s * D + i], cs, sn);
    }
  }
  for (std::size_t s = 0; s < count; ++s) {
    const std::span<const cf32> cells = std::span<const cf32>(w.section).subspan(s * D, D);
    if (cells_out) cells_out->insert(cells_out->end(), cells.begin(), cells.end());
    if (demod.process(cells, std::span<float>(soft).subspan(s * per_symbol, per_symbol)) !=
        per_symbol)
      return false;
  }
  weigh_soft_values(c, w.section, phase.equalise ? std::span<const float>(w.gains) : std::span<const float>(),
                    D, soft, w);
  return true;
}

fec::ChainResult decode_header_bits(const OfdmConfig& cfg, std::span<const float> soft,
                                    const fec::BlockPlan& plan, fec::CodecCache& cache) {
  // The header is always decoded with sum-product, whatever the payload uses.
  return fec::decode_chain(soft, plan, cfg.header_crc, fec::OuterFec::none(), kHeaderInner,
                           fec::InterleaverKind::none(), fec::InterleaverKind::none(),
                           fec::ScramblerKind::none(), fec::ScramblerPosition::BeforeOuter, 0,
                           cache, fec::LdpcDecodeRule::sum_product());
}

std::optional<float> bit_error_fraction(std::span<const std::uint8_t> a,
                                        std::span<const std::uint8_t> b) {
  const std::size_t n = std::min(a.size(), b.size());
  if (n == 0) return std::nullopt;
  std::size_t diff = 0;
  for (std::size_t i = 0; i < n; ++i) diff += ((a[i] ^ b[i]) & 1u);
  return static_cast<float>(diff) / static_cast<float>(n);
}

}  // namespace

std::uint64_t HeaderStage::samples(const OfdmConfig& cfg) const {
  return core::checked_mul(core::checked_add(header_symbols, payload_symbols, "frame symbols"),
                           cfg.samples_per_ofdm_symbol(), "frame length");
}

std::size_t header_symbols(const OfdmConfig& cfg, fec::CodecCache& cache) {
  return section_symbols(cfg, ConstellationOrder::Bpsk,
                         modulate::ofdm_frame::header_plan(cfg, cache).coded_bits);
}

std::optional<PhaseLine> track_common_phase(std::span<cf32> cells, std::size_t D, std::size_t count,
                                            ConstellationOrder c, float theta, float omega,
                                            FrameScratch::Work& w) {
  const std::size_t b = bits_per_point(c);
  OfdmSoftDemod demod = OfdmSoftDemod::for_cells(c, D);
  w.rotated.resize(D);
  w.points.resize(D);
  w.symbol_llrs.resize(D * b);
  w.phases.resize(count);
  for (std::size_t s = 0; s < count; ++s) {
    float sn, cs;
    ::sincosf(theta, &sn, &cs);
    const cf32* x = cells.data() + s * D;
    for (std::size_t i = 0; i < D; ++i) w.rotated[i] = rotate(x[i], cs, sn);
    demod.process(w.rotated, w.symbol_llrs);
    decided_points(c, w.symbol_llrs.data(), D, w.points.data());
    float are = 0.0f, aim = 0.0f;
    for (std::size_t i = 0; i < D; ++i) {
      const cf32 r = w.points[i];
      const cf32 y = w.rotated[i];
      // y * conj(r)
      are = are + (y.real() * r.real() + y.imag() * r.imag());
      aim = aim + (y.imag() * r.real() - y.real() * r.imag());
    }
    const float e = (are == 0.0f && aim == 0.0f) ? 0.0f : ::atan2f(aim, are);
    w.phases[s] = theta + e;
    theta = theta + 0.5f * e + omega;
    omega = omega + 0.05f * e;
  }
  const float n = static_cast<float>(count);
  const float s1 = n * (n - 1.0f) / 2.0f;
  const float s2 = (2.0f * n - 1.0f) * (n - 1.0f) * n / 6.0f;
  float sum = 0.0f, weighted = 0.0f;
  for (std::size_t s = 0; s < count; ++s) {
    sum = sum + w.phases[s];
    weighted = weighted + static_cast<float>(s) * w.phases[s];
  }
  const float q = n * s2 - s1 * s1;
  if (!(std::fabs(q) > 1.1920929e-7f)) return std::nullopt;
  PhaseLine line;
  line.slope = (n * weighted - s1 * sum) / q;
  line.intercept = (sum - s1 * line.slope) / n;
  for (std::size_t s = 0; s < count; ++s) {
    float sn, cs;
    ::sincosf(line.slope * static_cast<float>(s) + line.intercept, &sn, &cs);
    cf32* x = cells.data() + s * D;
    for (std::size_t i = 0; i < D; ++i) x[i] = rotate(x[i], cs, sn);
  }
  return line;
}

HeaderOutcome decode_frame_header(const OfdmConfig& cfg, std::span<const Mcs> table,
                                  std::span<const cf32> samples,
                                  std::optional<std::span<const cf32>> training_spectrum,
                                  fec::CodecCache& cache, FrameScratch& scratch) {
  // Frames without the 14-byte header cannot be received here.
  if (cfg.header_format != fec::HeaderFormat::VatelSdr) return fec::RxError::MalformedHeader;
  FrameScratch::Work& w = scratch.work;
  prepare(cfg, w);
  const fec::BlockPlan hplan = modulate::ofdm_frame::header_plan(cfg, cache);
  HeaderStage stage;
  stage.header_symbols = section_symbols(cfg, ConstellationOrder::Bpsk, hplan.coded_bits);
  const std::size_t S = cfg.samples_per_ofdm_symbol();

  PhasePlan phase;
  if (training_spectrum) {
    if (!w.equalizer)
      w.equalizer.emplace(multicarrier::symbol_config(cfg, ConstellationOrder::Bpsk),
                          multicarrier::EqualizerMode::TrainingSymbol);
    w.equalizer->estimate_from_training_symbol(*training_spectrum);
    channel_power(*w.equalizer, *w.grid, w);
    phase.equalise = true;
  }
  if (!demodulate_section(cfg, ConstellationOrder::Bpsk, samples, stage.header_symbols, phase,
                          w.header_soft, nullptr, &stage.header_phase, w))
    return Incomplete{core::checked_mul(stage.header_symbols, S, "header length")};

  bound_for_sum_product(w.header_soft);
  fec::ChainResult r = decode_header_bits(cfg, w.header_soft, hplan, cache);
  if (auto* e = std::get_if<fec::RxError>(&r)) return *e;
  const fec::ChainOutcome& out = std::get<fec::ChainOutcome>(r);
  if (!out.is_valid()) return fec::RxError::HeaderCrc;
  if (out.payload.size() < kHeaderBytes) return fec::RxError::MalformedHeader;
  stage.header = FrameHeader::parse(out.payload);
  if (stage.header.mcs_index >= table.size()) return fec::RxError::MalformedHeader;
  stage.mcs = &table[stage.header.mcs_index];
  stage.payload_plan =
      modulate::ofdm_frame::payload_plan(cfg, *stage.mcs, stage.header.length, cache);
  stage.payload_symbols =
      section_symbols(cfg, stage.mcs->constellation, stage.payload_plan.coded_bits);
  return stage;
}

FrameOutcome decode_frame_payload(const OfdmConfig& cfg, const HeaderStage& stage,
                                  std::span<const cf32> samples, bool with_equalizer,
                                  fec::CodecCache& cache, bool measure_pre_fec,
                                  FrameScratch& scratch) {
  FrameScratch::Work& w = scratch.work;
  prepare(cfg, w);
  const std::size_t S = cfg.samples_per_ofdm_symbol();
  const ConstellationOrder c = stage.mcs->constellation;
  const std::size_t P = stage.payload_symbols;
  const std::uint64_t needed = stage.samples(cfg);
  const std::size_t start = stage.header_symbols * S;

  PhasePlan phase;
  phase.equalise = with_equalizer && w.equalizer.has_value();
  if (phase.equalise && stage.header_phase) {
    // The residual frequency offset turns the phase on from the header into
    // the payload: the tracker starts where the header's line leads, and a
    // payload too short to track follows that line.
    const float h = static_cast<float>(stage.header_symbols);
    phase.theta = stage.header_phase->slope * h + stage.header_phase->intercept;
    phase.omega = stage.header_phase->slope;
    phase.extend = stage.header_phase;
    phase.offset = h;
  }
  scratch.cells.clear();
  if (samples.size() < needed ||
      !demodulate_section(cfg, c, samples.subspan(std::min(start, samples.size())), P, phase,
                          w.payload_soft, &scratch.cells, nullptr, w))
    return Incomplete{needed};

  scratch.bits.resize(w.payload_soft.size());
  for (std::size_t i = 0; i < w.payload_soft.size(); ++i)
    scratch.bits[i] = w.payload_soft[i] <= 0.0f ? 1 : 0;

  FrameBody body;
  body.evm_db = evm_db(c, scratch.cells, scratch.bits, P);
  const Mcs& mcs = *stage.mcs;
  if (mcs.inner_fec.kind == fec::InnerFec::Kind::Ldpc &&
      cfg.ldpc_decode_rule.tag == fec::LdpcDecodeRule::Tag::SumProduct)
    bound_for_sum_product(w.payload_soft);
  fec::ChainResult r = fec::decode_chain(
      w.payload_soft, stage.payload_plan, cfg.payload_crc, mcs.outer_fec, mcs.inner_fec,
      cfg.outer_interleaver, cfg.inner_interleaver, cfg.scrambler, cfg.scrambler_position,
      stage.header.seed, cache, cfg.ldpc_decode_rule);
  if (auto* e = std::get_if<fec::RxError>(&r)) return *e;
  fec::ChainOutcome& out = std::get<fec::ChainOutcome>(r);
  if (!out.is_valid()) return fec::RxError::PayloadCrc;
  if (measure_pre_fec) {
    const fec::EncodedStages again = fec::encode_chain_stages(
        out.payload, cfg.payload_crc, mcs.outer_fec, mcs.inner_fec, cfg.outer_interleaver,
        cfg.inner_interleaver, cfg.scrambler, cfg.scrambler_position, stage.header.seed, cache);
    const std::size_t n = std::min<std::uint64_t>(stage.payload_plan.coded_bits, scratch.bits.size());
    body.pre_fec_ber = bit_error_fraction(std::span<const std::uint8_t>(scratch.bits).first(n),
                                          again.coded_bits);
    body.outer_stage_ber = bit_error_fraction(out.inner_bits, again.outer_stage_bits);
  }
  if (out.payload.size() > stage.header.length) out.payload.resize(stage.header.length);
  body.payload = std::move(out.payload);
  body.sequence_num = stage.header.sequence_num;
  body.mcs_index = stage.header.mcs_index;
  body.flags = stage.header.flags;
  body.samples_used = needed;
  body.inner_ok = out.inner_ok;
  body.outer_ok = out.outer_ok;
  return body;
}

FrameOutcome decode_frame_body(const OfdmConfig& cfg, std::span<const Mcs> table,
                               std::span<const cf32> samples,
                               std::optional<std::span<const cf32>> training_spectrum,
                               fec::CodecCache& cache, bool measure_pre_fec,
                               FrameScratch& scratch) {
  HeaderOutcome h = decode_frame_header(cfg, table, samples, training_spectrum, cache, scratch);
  if (auto* e = std::get_if<fec::RxError>(&h)) return *e;
  if (auto* i = std::get_if<Incomplete>(&h)) return *i;
  return decode_frame_payload(cfg, std::get<HeaderStage>(h), samples, training_spectrum.has_value(),
                              cache, measure_pre_fec, scratch);
}

// ---------------------------------------------------------------------------

core::Result<OfdmFrameDemod> OfdmFrameDemod::create(const OfdmConfig& cfg, std::vector<Mcs> table,
                                                    std::shared_ptr<fec::CodecCache> cache) {
  auto link = FrameLink::create(cfg, std::move(table), std::move(cache));
  if (!link) return link.error();
  OfdmFrameDemod d;
  d.link_ = std::move(link).value();
  return d;
}

core::Result<FramePacket> OfdmFrameDemod::decode(std::span<const cf32> iq) const {
  FrameScratch scratch;
  FrameOutcome r = decode_frame_body(link_.cfg, link_.mcs_table, iq, std::nullopt, *link_.cache, false, scratch);
  if (auto* e = std::get_if<fec::RxError>(&r)) return core::error(std::string(rx_error_text(*e)));
  // Samples that end early are reported as a header that cannot be read.
  if (std::holds_alternative<Incomplete>(r))
    return core::error(std::string(rx_error_text(fec::RxError::MalformedHeader)));
  FrameBody& b = std::get<FrameBody>(r);
  return FramePacket{std::move(b.payload), b.sequence_num, b.mcs_index, b.flags};
}

// ---------------------------------------------------------------------------

core::Result<OfdmFrameStreamDemod> OfdmFrameStreamDemod::create(const OfdmConfig& cfg,
                                                                std::vector<Mcs> table,
                                                                std::size_t num_repeats,
                                                                std::size_t repeat_len,
                                                                std::shared_ptr<fec::CodecCache> cache) {
  auto link = FrameLink::create(cfg, std::move(table), std::move(cache));
  if (!link) return link.error();
  OfdmFrameStreamDemod d;
  d.link_ = std::move(link).value();
  d.segments_ = modulate::ofdm_frame::frame_preamble(cfg, num_repeats, repeat_len);
  // The search correlates adjacent repetitions: without two of them no
  // frame could ever be found.
  if (num_repeats < 2 || repeat_len == 0)
    return core::error("OfdmFrameStreamDemod: the preamble needs num_repeats >= 2 and "
                       "repeat_len >= 1 (got num_repeats = " + std::to_string(num_repeats) +
                       ", repeat_len = " + std::to_string(repeat_len) + ")");
  d.segments_.with_training_symbol.reset();
  d.fs_ = cfg.fs;
  d.symbol_ = cfg.samples_per_ofdm_symbol();
  d.span_ = core::checked_add(core::checked_mul(num_repeats, repeat_len, "preamble length"),
                              d.symbol_, "preamble length");
  d.header_symbols_ = cfg.header_format == fec::HeaderFormat::VatelSdr
                          ? header_symbols(cfg, *d.link_.cache)
                          : 0;
  d.screen_ = sync::PreambleScreen(num_repeats, repeat_len);
  d.integer_cfo_.emplace(cfg.plan.n_fft, cfg.plan.cp_len);
  d.smoother_ = multicarrier::TrainingSmoother(cfg.plan);
  d.training_ = multicarrier::pseudo_random_unit_sequence(cfg.plan.n_fft, multicarrier::kTrainingSeed);
  return d;
}

void OfdmFrameStreamDemod::clear() noexcept {
  buffer_.clear();
  head_ = scan_ = wait_for_ = 0;
}

void OfdmFrameStreamDemod::compact() {
  if (head_ == 0) return;
  buffer_.erase(buffer_.begin(), buffer_.begin() + static_cast<std::ptrdiff_t>(head_));
  scan_ -= std::min(scan_, head_);
  wait_for_ -= std::min(wait_for_, head_);
  head_ = 0;
}

std::vector<StreamResult> OfdmFrameStreamDemod::feed(std::span<const cf32> iq) {
  compact();
  buffer_.insert(buffer_.end(), iq.begin(), iq.end());
  return drain();
}

std::optional<std::size_t> OfdmFrameStreamDemod::earliest_preamble(std::span<const cf32> buf,
                                                                  std::size_t& scan) {
  // Positions d with d + A <= length can be judged now, and their scores
  // will not change with more samples.
  const std::size_t end = buf.size() - span_ + 1;
  while (scan < end) {
    const auto hit = screen_.first(buf, scan, end, score_threshold);
    if (!hit) {
      scan = end;
      return std::nullopt;
    }
    const auto exact = sync::ofdm_sync::ofdm_sync(buf, fs_, segments_, *hit, *hit + 1);
    if (!exact.empty() && exact.front().score >= score_threshold) {
      scan = *hit;
      return *hit;
    }
    scan = *hit + 1;
  }
  return std::nullopt;
}

void OfdmFrameStreamDemod::derotate(std::span<const cf32> buf, std::size_t t, std::size_t upto) {
  // Only the samples the next decode step reads are turned; the rotator
  // runs on from the previous step of the same frame.
  const std::size_t have = tail_.size();
  if (upto <= have) return;
  tail_.insert(tail_.end(), buf.begin() + static_cast<std::ptrdiff_t>(t + have),
               buf.begin() + static_cast<std::ptrdiff_t>(t + upto));
  // A gain of exactly 1 leaves each product as it is.
  modulate::ofdm_mix_kernel(derotator_, tail_.data() + have, upto - have, 1.0f);
}

OfdmFrameStreamDemod::Step OfdmFrameStreamDemod::decode_at(std::span<const cf32> buf,
                                                           std::size_t earliest) {
  const std::size_t A = span_;
  const std::size_t n = buf.size();
  // Among the starts on the earliest preamble, the best ranked one.
  const std::size_t last = std::min(earliest + A, n - A + 1);
  const auto ranked = sync::ofdm_sync::ofdm_sync(buf, fs_, segments_, earliest, last);
  const sync::ofdm_sync::OfdmSyncResult* chosen = nullptr;
  for (const auto& c : ranked)
    if (c.score >= score_threshold) {
      chosen = &c;
      break;
    }
  VATEL_ENSURE(chosen != nullptr, "the earliest preamble vanished from its own window");
  const std::size_t t = chosen->start_sample;
  // The integer offset of this very start (the full search estimates it
  // only for its best ranked few).
  const std::size_t segments = A - symbol_;
  const std::int32_t bins =
      integer_cfo_->estimate(buf.subspan(t + segments, symbol_), chosen->cfo_hz, fs_);
  float f = chosen->cfo_hz + static_cast<float>(bins) * (fs_ / static_cast<float>(link_.cfg.plan.n_fft));

  const std::size_t S = symbol_;
  const std::size_t header_end = std::min(n - t, A + header_symbols_ * S);
  // What the short repetitions leave of the offset turns the phase on
  // through every symbol.  The prefixes of the training symbol and the
  // header measure the offset far better, though only within a carrier
  // spacing: the correction is the part of their measure that differs from
  // the estimate so far, brought into half a spacing either side.
  const std::size_t known = (header_end - segments) / S;
  const float step = sync::cyclic_prefix_phase_step(buf.subspan(t + segments, known * S),
                                                    link_.cfg.plan.n_fft, link_.cfg.plan.cp_len, known);
  if (step != 0.0f) {
    const float spacing = fs_ / static_cast<float>(link_.cfg.plan.n_fft);
    const float measured = step * (fs_ / dsp::kTwoPi);
    const float residual = std::remainder(measured - f, spacing);
    if (std::isfinite(residual)) f = f + residual;
  }
  tail_.clear();
  derotator_ = dsp::Rotator(-f, fs_);
  derotate(buf, t, header_end);
  prepare(link_.cfg, scratch_.work);
  multicarrier::SymbolFft& fft = *scratch_.work.fft;
  fft.process(std::span<const cf32>(tail_).subspan(segments, S));
  std::vector<cf32> spectrum(fft.spectrum().begin(), fft.spectrum().end());
  smoother_.smooth(spectrum);

  const std::span<const cf32> body = std::span<const cf32>(tail_).subspan(A);
  HeaderOutcome h = decode_frame_header(link_.cfg, link_.mcs_table, body, spectrum, *link_.cache, scratch_);
  if (auto* i = std::get_if<Incomplete>(&h)) return Step{std::nullopt, 0, t + A + i->samples_needed};
  // A failed frame's preamble goes; its symbols are searched again.
  if (auto* e = std::get_if<fec::RxError>(&h)) return Step{*e, t + A, 0};
  const HeaderStage& stage = std::get<HeaderStage>(h);
  const std::uint64_t frame = stage.samples(link_.cfg);
  if (frame > n - t - A) return Step{std::nullopt, 0, t + A + frame};
  derotate(buf, t, A + frame);
  FrameOutcome r = decode_frame_payload(link_.cfg, stage, std::span<const cf32>(tail_).subspan(A), true,
                                        *link_.cache, measure_pre_fec, scratch_);
  if (auto* e = std::get_if<fec::RxError>(&r)) return Step{*e, t + A, 0};
  VATEL_ENSURE(std::holds_alternative<FrameBody>(r), "a complete frame decoded as incomplete");
  RxFrame out;
  static_cast<FrameBody&>(out) = std::move(std::get<FrameBody>(r));
  out.cfo_hz = f;
  out.timing_offset_samples = static_cast<std::int32_t>(t);
  out.sync_score = chosen->score;
  if (estimate_channel) {
    std::vector<cf32> h_est(spectrum.size());
    for (std::size_t k = 0; k < spectrum.size(); ++k) {
      const cf32 y = spectrum[k], x = training_[k];
      const float p = x.real() * x.real() + x.imag() * x.imag();
      h_est[k] = {(y.real() * x.real() + y.imag() * x.imag()) / p,
                  (y.imag() * x.real() - y.real() * x.imag()) / p};
    }
    out.channel_estimate = std::move(h_est);
  }
  const std::size_t used = out.samples_used;
  return Step{std::move(out), t + A + used, 0};
}

std::vector<StreamResult> OfdmFrameStreamDemod::drain() {
  std::vector<StreamResult> results;
  // A frame that is still incomplete is not searched for again before the
  // samples it needs have arrived.
  if (wait_for_ != 0 && buffer_.size() < wait_for_) return results;
  wait_for_ = 0;
  while (buffer_.size() - head_ >= span_ + symbol_) {
    const std::span<const cf32> buf = std::span<const cf32>(buffer_).subspan(head_);
    std::size_t scan = scan_ - head_;
    const auto earliest = earliest_preamble(buf, scan);
    if (!earliest) {
      // No start before the scan position can ever be found: those samples go.
      head_ += scan;
      scan_ = head_;
      break;
    }
    Step step = decode_at(buf, *earliest);
    if (!step.result) {
      // Nothing before the earliest preamble can start a frame any more.
      wait_for_ = head_ + step.wait_for;
      head_ += *earliest;
      scan_ = head_;
      break;
    }
    head_ += step.consumed;
    scan_ = head_;
    results.push_back(std::move(*step.result));
  }
  return results;
}

}  // namespace vatel::demodulate::ofdm_frame
