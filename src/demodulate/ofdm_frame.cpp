#include "demodulate/ofdm_frame.hpp"

#include <algorithm>
#include <string>

#include "core/checked.hpp"
#include "demodulate/ofdm_frame_section.hpp"

namespace vatel::demodulate::ofdm_frame {
namespace {

using demodulate::ofdm::evm_db;
using fec::frame::rx_error_text;
using waveform::ofdm_frame::FrameLink;
using waveform::ofdm_frame::header_chain;
using waveform::ofdm_frame::header_plan;
using waveform::ofdm_frame::kHeaderBytes;
using waveform::ofdm_frame::payload_chain;
using waveform::ofdm_frame::payload_plan;
using waveform::ofdm_frame::section_symbols;

fec::ChainResult decode_header_bits(const OfdmConfig& cfg, std::span<const float> soft,
                                    const fec::BlockPlan& plan, fec::CodecCache& cache) {
  // The header is always decoded with sum-product, whatever the payload uses.
  return fec::decode_chain(soft, plan, header_chain(cfg), 0, cache,
                           fec::LdpcDecodeRule::sum_product());
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
                         header_plan(cfg, cache).coded_bits);
}

HeaderOutcome decode_frame_header(const OfdmConfig& cfg, std::span<const Mcs> table,
                                  std::span<const cf32> samples,
                                  std::optional<std::span<const cf32>> training_spectrum,
                                  fec::CodecCache& cache, FrameScratch& scratch) {
  // Frames without the 14-byte header cannot be received here.
  if (cfg.header_format != fec::HeaderFormat::VatelSdr) return fec::RxError::MalformedHeader;
  FrameScratch::Work& w = scratch.work;
  section::prepare(cfg, w);
  const fec::BlockPlan hplan = header_plan(cfg, cache);
  HeaderStage stage;
  stage.header_symbols = section_symbols(cfg, ConstellationOrder::Bpsk, hplan.coded_bits);
  const std::size_t S = cfg.samples_per_ofdm_symbol();

  section::PhasePlan phase;
  if (training_spectrum) {
    if (!w.equalizer)
      w.equalizer.emplace(multicarrier::symbol_config(cfg, ConstellationOrder::Bpsk),
                          multicarrier::EqualizerMode::TrainingSymbol);
    w.equalizer->estimate_from_training_symbol(*training_spectrum);
    section::channel_power(*w.equalizer, *w.grid, w);
    phase.equalise = true;
  }
  if (!section::demodulate_section(cfg, ConstellationOrder::Bpsk, samples, stage.header_symbols, phase,
                          w.header_soft, nullptr, &stage.header_phase, w))
    return Incomplete{core::checked_mul(stage.header_symbols, S, "header length")};

  section::bound_for_sum_product(w.header_soft);
  fec::ChainResult r = decode_header_bits(cfg, w.header_soft, hplan, cache);
  if (auto* e = std::get_if<fec::RxError>(&r)) return *e;
  const fec::ChainOutcome& out = std::get<fec::ChainOutcome>(r);
  if (!out.is_valid()) return fec::RxError::HeaderCrc;
  if (out.payload.size() < kHeaderBytes) return fec::RxError::MalformedHeader;
  stage.header = FrameHeader::parse(out.payload);
  if (stage.header.mcs_index >= table.size()) return fec::RxError::MalformedHeader;
  stage.mcs = &table[stage.header.mcs_index];
  stage.payload_plan =
      payload_plan(cfg, *stage.mcs, stage.header.length, cache);
  stage.payload_symbols =
      section_symbols(cfg, stage.mcs->constellation, stage.payload_plan.coded_bits);
  return stage;
}

FrameOutcome decode_frame_payload(const OfdmConfig& cfg, const HeaderStage& stage,
                                  std::span<const cf32> samples, bool with_equalizer,
                                  fec::CodecCache& cache, bool measure_pre_fec,
                                  FrameScratch& scratch) {
  FrameScratch::Work& w = scratch.work;
  section::prepare(cfg, w);
  const std::size_t S = cfg.samples_per_ofdm_symbol();
  const ConstellationOrder c = stage.mcs->constellation;
  const std::size_t P = stage.payload_symbols;
  const std::uint64_t needed = stage.samples(cfg);
  const std::size_t start = stage.header_symbols * S;

  section::PhasePlan phase;
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
      !section::demodulate_section(cfg, c, samples.subspan(std::min(start, samples.size())), P, phase,
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
    section::bound_for_sum_product(w.payload_soft);
  const fec::ChainSettings chain = payload_chain(cfg, mcs);
  fec::ChainResult r = fec::decode_chain(w.payload_soft, stage.payload_plan, chain,
                                         stage.header.seed, cache, cfg.ldpc_decode_rule);
  if (auto* e = std::get_if<fec::RxError>(&r)) return *e;
  fec::ChainOutcome& out = std::get<fec::ChainOutcome>(r);
  if (!out.is_valid()) return fec::RxError::PayloadCrc;
  if (measure_pre_fec) {
    const fec::EncodedStages again =
        fec::encode_chain_stages(out.payload, chain, stage.header.seed, cache);
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

}  // namespace vatel::demodulate::ofdm_frame
