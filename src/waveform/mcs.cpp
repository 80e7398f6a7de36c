#include "waveform/mcs.hpp"

#include <string>

namespace vatel::waveform::ofdm_frame {

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
  if (const auto id = fec::frame::kLdpcCodes.parse(text)) return *id;
  return core::error("unknown LDPC code " + quoted(text));
}

core::Result<fec::PunctureRate> parse_rate(std::string_view text) {
  if (const auto rate = fec::frame::kPunctureRates.parse(text)) return *rate;
  return core::error("unknown puncture rate " + quoted(text));
}

namespace {

core::Result<fec::InnerFec> parse_inner(std::string_view kind, std::string_view code) {
  auto inner = fec::frame::kInnerFecKinds.parse(kind);
  if (!inner) return core::error("McsTable.add: unknown inner FEC " + quoted(kind));
  if (inner->kind == fec::InnerFec::Kind::Ldpc) {
    auto id = parse_ldpc(code);
    if (!id) return id.error();
    inner->code = id.value();
  } else if (inner->kind == fec::InnerFec::Kind::Convolutional) {
    auto rate = parse_rate(code);
    if (!rate) return rate.error();
    inner->rate = rate.value();
  }
  return *inner;
}

}  // namespace

core::Result<Mcs> mcs_from_keywords(std::string_view constellation, std::string_view inner_kind,
                                    std::string_view inner_code, std::string_view outer_kind,
                                    std::uint64_t outer_a, std::uint64_t outer_b) {
  const auto order = multicarrier::kConstellations.parse(constellation);
  if (!order) return core::error("McsTable.add: unknown constellation " + quoted(constellation));
  auto inner = parse_inner(inner_kind, inner_code);
  if (!inner) return inner.error();
  const auto outer = fec::frame::kOuterFecKinds.parse(outer_kind);
  if (!outer) return core::error("McsTable.add: unknown outer FEC " + quoted(outer_kind));
  // A code the parameters do not describe stops the first frame that needs it.
  return Mcs{{*outer, outer_a, outer_b}, inner.value(), order.value()};
}

}  // namespace vatel::waveform::ofdm_frame
