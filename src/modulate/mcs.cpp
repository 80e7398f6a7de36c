#include "modulate/mcs.hpp"

#include <string>

namespace vatel::modulate::ofdm_frame {

using multicarrier::quoted;

std::vector<Mcs> default_ladder() {
  using multicarrier::ConstellationOrder;
  std::vector<Mcs> ladder;
  for (const ConstellationOrder c : {ConstellationOrder::Bpsk, ConstellationOrder::Qpsk,
                                     ConstellationOrder::Qam16, ConstellationOrder::Qam64})
    ladder.push_back({fec::OuterFec::bch(8), fec::InnerFec::ldpc(fec::LdpcCodeId::N512R12), c});
  return ladder;
}

core::Result<fec::LdpcCodeId> parse_ldpc(std::string_view text) {
  if (const auto id = fec::frame::ldpc_code_from_name(text)) return *id;
  return core::error("unknown LDPC code " + quoted(text));
}

core::Result<fec::PunctureRate> parse_rate(std::string_view text) {
  if (const auto rate = fec::frame::puncture_rate_from_name(text)) return *rate;
  return core::error("unknown puncture rate " + quoted(text));
}

namespace {

core::Result<fec::InnerFec> parse_inner(std::string_view kind, std::string_view code) {
  if (kind == "none") return fec::InnerFec::none();
  if (kind == "ldpc") {
    auto id = parse_ldpc(code);
    if (!id) return id.error();
    return fec::InnerFec::ldpc(id.value());
  }
  const bool k5 = kind == "conv" || kind == "convolutional";
  const bool k7 = kind == "conv_k7" || kind == "convolutional_k7" || kind == "dvb_t";
  if (k5 || k7) {
    auto rate = parse_rate(code);
    if (!rate) return rate.error();
    return fec::InnerFec::convolutional(k7, rate.value());
  }
  return core::error("McsTable.add: unknown inner FEC " + quoted(kind));
}

}  // namespace

core::Result<Mcs> mcs_from_keywords(std::string_view constellation, std::string_view inner_kind,
                                    std::string_view inner_code, std::string_view outer_kind,
                                    std::uint64_t outer_a, std::uint64_t outer_b) {
  const auto order = multicarrier::parse_constellation(constellation);
  if (!order) return core::error("McsTable.add: unknown constellation " + quoted(constellation));
  auto inner = parse_inner(inner_kind, inner_code);
  if (!inner) return inner.error();
  // A code the parameters do not describe stops the first frame that needs it.
  fec::OuterFec outer{fec::OuterFec::Tag::None, outer_a, outer_b};
  if (outer_kind == "bch")
    outer.tag = fec::OuterFec::Tag::Bch;
  else if (outer_kind == "rs" || outer_kind == "reed_solomon")
    outer.tag = fec::OuterFec::Tag::ReedSolomon;
  else if (outer_kind != "none")
    return core::error("McsTable.add: unknown outer FEC " + quoted(outer_kind));
  return Mcs{outer, inner.value(), order.value()};
}

}  // namespace vatel::modulate::ofdm_frame
