#include "modulate/ofdm_frame.hpp"

#include <algorithm>
#include <string>

#include "core/checked.hpp"
#include "core/panic.hpp"
#include "multicarrier/symbol_window.hpp"

namespace vatel::modulate::ofdm_frame {

using namespace waveform::ofdm_frame;

namespace {

std::size_t constellation_slot(ConstellationOrder c) noexcept { return static_cast<std::size_t>(c); }

}  // namespace

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
    core::Buffer<cf32> p = waveform::ofdm_preamble::generate_ofdm_preamble(m.preamble_, cfg);
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
                        : waveform::ofdm_preamble::generate_ofdm_preamble(preamble_, link_.cfg);
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
    header = fec::encode_chain_stages(bytes, header_chain(link_.cfg), 0, *link_.cache);
  }
  VATEL_ENSURE(frame.mcs_index < link_.mcs_table.size(), "mcs_index must be in the MCS table");
  const Mcs& mcs = link_.mcs_table[frame.mcs_index];
  const fec::EncodedStages body = fec::encode_chain_stages(payload, payload_chain(link_.cfg, mcs),
                                                           per_frame_seed, *link_.cache);

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
