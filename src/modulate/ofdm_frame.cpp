#include "modulate/ofdm_frame.hpp"

#include <algorithm>
#include <charconv>
#include <string>

#include "core/checked.hpp"
#include "core/panic.hpp"
#include "multicarrier/symbol_window.hpp"

namespace vatel::modulate::ofdm_frame {
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

std::size_t constellation_slot(ConstellationOrder c) noexcept { return static_cast<std::size_t>(c); }

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

fec::BlockPlan header_plan(const OfdmConfig& cfg, fec::CodecCache& cache) {
  return fec::block_plan(kHeaderBytes, cfg.header_crc, fec::OuterFec::none(), kHeaderInner,
                         fec::InterleaverKind::none(), fec::InterleaverKind::none(), cache);
}

fec::BlockPlan payload_plan(const OfdmConfig& cfg, const Mcs& mcs, std::uint64_t length,
                            fec::CodecCache& cache) {
  return fec::block_plan(length, cfg.payload_crc, mcs.outer_fec, mcs.inner_fec,
                         cfg.outer_interleaver, cfg.inner_interleaver, cache);
}

std::size_t section_symbols(const OfdmConfig& cfg, ConstellationOrder c, std::uint64_t bits) {
  const std::size_t per_symbol =
      core::checked_mul(cfg.plan.data_carriers.size(), bits_per_point(c), "bits per symbol");
  VATEL_ENSURE(per_symbol != 0, "frame section: the carrier plan has no data carriers");
  return static_cast<std::size_t>(bits / per_symbol + (bits % per_symbol != 0));
}

sync::ofdm_sync::OfdmPreambleParams frame_preamble(const OfdmConfig& cfg, std::size_t num_repeats,
                                                   std::size_t repeat_len) {
  sync::ofdm_sync::OfdmPreambleParams p;
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

core::Result<OfdmFrameMod> OfdmFrameMod::create(const OfdmConfig& cfg, std::vector<Mcs> table,
                                                std::size_t num_repeats, std::size_t repeat_len,
                                                std::shared_ptr<fec::CodecCache> cache) {
  auto link = FrameLink::create(cfg, std::move(table), std::move(cache));
  if (!link) return link.error();
  OfdmFrameMod m;
  m.link_ = std::move(link).value();
  m.preamble_ = frame_preamble(cfg, num_repeats, repeat_len);
  std::size_t segment_samples = 0;
  const bool small = !__builtin_mul_overflow(num_repeats, repeat_len, &segment_samples) &&
                     segment_samples <= (std::size_t{1} << 20);
  if (small && cfg.plan.cp_len <= cfg.plan.n_fft) {
    core::Buffer<cf32> p = sync::ofdm_sync::generate_ofdm_preamble(m.preamble_, cfg);
    m.preamble_samples_.emplace(p.begin(), p.end());
  }
  m.mods_[constellation_slot(ConstellationOrder::Bpsk)].emplace(
      multicarrier::symbol_config(cfg, ConstellationOrder::Bpsk));
  for (const Mcs& e : m.link_.mcs_table) {
    auto& slot = m.mods_[constellation_slot(e.constellation)];
    if (!slot) slot.emplace(multicarrier::symbol_config(cfg, e.constellation));
  }
  return m;
}

std::size_t OfdmFrameMod::section_samples(ConstellationOrder c, std::size_t bits) const {
  return core::checked_mul(section_symbols(link_.cfg, c, bits), link_.cfg.samples_per_ofdm_symbol(),
                           "frame section length");
}

cf32* OfdmFrameMod::append_section(ConstellationOrder c, std::span<const std::uint8_t> bits,
                                   cf32* out) const {
  if (bits.empty()) return out;
  OfdmMod mod = *mods_[constellation_slot(c)];
  const core::Buffer<cf32> symbols = mod.modulate(bits);
  return std::copy(symbols.begin(), symbols.end(), out);
}

core::Buffer<cf32> OfdmFrameMod::modulate_frame(const FramePacket& frame,
                                                std::uint32_t per_frame_seed) const {
  const std::span<const std::uint8_t> payload = frame.payload;
  const core::Buffer<cf32> fresh_preamble =
      preamble_samples_ ? core::Buffer<cf32>()
                        : sync::ofdm_sync::generate_ofdm_preamble(preamble_, link_.cfg);
  const std::span<const cf32> preamble =
      preamble_samples_ ? std::span<const cf32>(*preamble_samples_) : fresh_preamble.span();

  fec::EncodedStages header;
  if (link_.cfg.header_format == fec::HeaderFormat::VatelSdr) {
    FrameHeader h;
    h.mcs_index = frame.mcs_index;
    h.length = static_cast<std::uint32_t>(payload.size());
    h.sequence_num = frame.sequence_num;
    h.flags = frame.flags;
    h.seed = per_frame_seed;
    const auto bytes = h.bytes();
    header = fec::encode_chain_stages(bytes, link_.cfg.header_crc, fec::OuterFec::none(), kHeaderInner,
                                      fec::InterleaverKind::none(), fec::InterleaverKind::none(),
                                      fec::ScramblerKind::none(),
                                      fec::ScramblerPosition::BeforeOuter, 0, *link_.cache);
  }
  VATEL_ENSURE(frame.mcs_index < link_.mcs_table.size(), "mcs_index must be in the MCS table");
  const Mcs& mcs = link_.mcs_table[frame.mcs_index];
  const fec::EncodedStages body = fec::encode_chain_stages(
      payload, link_.cfg.payload_crc, mcs.outer_fec, mcs.inner_fec, link_.cfg.outer_interleaver,
      link_.cfg.inner_interleaver, link_.cfg.scrambler, link_.cfg.scrambler_position, per_frame_seed, *link_.cache);

  std::size_t total = preamble.size();
  total = core::checked_add(total, section_samples(ConstellationOrder::Bpsk, header.coded_bits.size()),
                            "burst length");
  total = core::checked_add(total, section_samples(mcs.constellation, body.coded_bits.size()),
                            "burst length");
  core::Buffer<cf32> out(total);
  cf32* o = std::copy(preamble.begin(), preamble.end(), out.data());
  o = append_section(ConstellationOrder::Bpsk, header.coded_bits, o);
  o = append_section(mcs.constellation, body.coded_bits, o);
  VATEL_ENSURE(o == out.end(), "frame sections do not fill the burst");

  // The taper covers the training symbol and every later symbol, not the
  // repeated segment, whose periodicity the receiver's search relies on.
  const std::size_t S = link_.cfg.samples_per_ofdm_symbol();
  if (link_.cfg.plan.roll_off != 0 && S != 0) {
    const std::size_t L = std::min(link_.cfg.plan.roll_off, S / 2);
    multicarrier::SymbolWindow window(S, L);
    const std::size_t first =
        core::checked_mul(preamble_.num_repeats, preamble_.repeat_len, "preamble length");
    for (std::size_t start = first; start <= out.size() && out.size() - start >= S; start += S) {
      const std::span<cf32> symbol = out.span().subspan(start, S);
      window.process(symbol, symbol);
    }
  }
  if (link_.cfg.tx_lowpass) link_.cfg.tx_lowpass->apply(out.span());
  return out;
}

}  // namespace vatel::modulate::ofdm_frame
