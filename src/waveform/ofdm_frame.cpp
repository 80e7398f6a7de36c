#include "waveform/ofdm_frame.hpp"

#include <charconv>
#include <string>

#include "core/checked.hpp"
#include "core/panic.hpp"

namespace vatel::waveform::ofdm_frame {
namespace {

void put_u32(std::uint8_t* p, std::uint32_t v) noexcept {
  p[0] = static_cast<std::uint8_t>(v >> 24);
  p[1] = static_cast<std::uint8_t>(v >> 16);
  p[2] = static_cast<std::uint8_t>(v >> 8);
  p[3] = static_cast<std::uint8_t>(v);
}

std::uint32_t get_u32(const std::uint8_t* p) noexcept {
  return (std::uint32_t{p[0]} << 24) | (std::uint32_t{p[1]} << 16) | (std::uint32_t{p[2]} << 8) |
         std::uint32_t{p[3]};
}

// The shortest decimal text that reads back as the same float.
std::string shortest(float x) {
  char text[32];
  const auto r = std::to_chars(text, text + sizeof text, x);
  return std::string(text, r.ptr);
}

}  // namespace

std::array<std::uint8_t, kHeaderBytes> FrameHeader::bytes() const noexcept {
  std::array<std::uint8_t, kHeaderBytes> b{};
  b[0] = mcs_index;
  put_u32(&b[1], length);
  put_u32(&b[5], sequence_num);
  b[9] = flags;
  put_u32(&b[10], seed);
  return b;
}

FrameHeader FrameHeader::parse(std::span<const std::uint8_t> b) noexcept {
  FrameHeader h;
  h.mcs_index = b[0];
  h.length = get_u32(&b[1]);
  h.sequence_num = get_u32(&b[5]);
  h.flags = b[9];
  h.seed = get_u32(&b[10]);
  return h;
}

fec::ChainSettings header_chain(const OfdmConfig& cfg) {
  fec::ChainSettings s;
  s.crc = cfg.header_crc;
  s.inner = kHeaderInner;
  return s;
}

fec::ChainSettings payload_chain(const OfdmConfig& cfg, const Mcs& mcs) {
  return {cfg.payload_crc,         mcs.outer_fec, mcs.inner_fec,          cfg.outer_interleaver,
          cfg.inner_interleaver,   cfg.scrambler, cfg.scrambler_position};
}

fec::BlockPlan header_plan(const OfdmConfig& cfg, fec::CodecCache& cache) {
  return fec::block_plan(kHeaderBytes, header_chain(cfg), cache);
}

fec::BlockPlan payload_plan(const OfdmConfig& cfg, const Mcs& mcs, std::uint64_t length,
                            fec::CodecCache& cache) {
  return fec::block_plan(length, payload_chain(cfg, mcs), cache);
}

std::size_t section_symbols(const OfdmConfig& cfg, ConstellationOrder c, std::uint64_t bits) {
  const std::size_t per_symbol =
      core::checked_mul(cfg.plan.data_carriers.size(), bits_per_point(c), "bits per symbol");
  VATEL_ENSURE(per_symbol != 0, "frame section: the carrier plan has no data carriers");
  return static_cast<std::size_t>(bits / per_symbol + (bits % per_symbol != 0));
}

ofdm_preamble::OfdmPreambleParams frame_preamble(const OfdmConfig& cfg, std::size_t num_repeats,
                                                   std::size_t repeat_len) {
  ofdm_preamble::OfdmPreambleParams p;
  p.with_training_symbol.emplace(cfg.plan.n_fft, cfg.plan.cp_len);
  p.num_repeats = num_repeats;
  p.repeat_len = repeat_len;
  return p;
}

core::Result<FrameLink> FrameLink::create(const OfdmConfig& cfg, std::vector<Mcs> table,
                                          std::shared_ptr<fec::CodecCache> cache) {
  FrameLink link{cfg, {}, cache ? std::move(cache) : std::make_shared<fec::CodecCache>()};
  if (table.empty()) return core::error("McsTable must have at least one entry");
  // -0.0 compares equal to 0 and passes; NaN does not.
  if (!(cfg.rf_hz == 0.0f))
    core::panic("OFDM frame assembly is baseband-only: got rf_hz = " + shortest(cfg.rf_hz) +
                " Hz. Modulate at rf_hz = 0.0 and upconvert the whole burst with one "
                "continuous Rotator.");
  link.mcs_table = std::move(table);
  return link;
}

}  // namespace vatel::waveform::ofdm_frame
