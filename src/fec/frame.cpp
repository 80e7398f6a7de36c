#include "fec/frame.hpp"

#include <array>

namespace vatel::fec::frame {

namespace {
constexpr std::array<std::string_view, 5> kRxErrorTexts{
    "no preamble found", "malformed frame header", "header CRC mismatch",
    "payload CRC mismatch", "FEC uncorrectable"};
}  // namespace

std::string_view puncture_rate_name(PunctureRate rate) noexcept { return kPunctureRates.name(rate); }

std::optional<PunctureRate> puncture_rate_from_name(std::string_view name) noexcept {
  return kPunctureRates.parse(name);
}

std::string_view ldpc_code_name(LdpcCodeId id) noexcept { return kLdpcCodes.name(id); }

std::optional<LdpcCodeId> ldpc_code_from_name(std::string_view name) noexcept { return kLdpcCodes.parse(name); }

std::string_view rx_error_text(RxError error) noexcept {
  const auto i = static_cast<std::size_t>(error);
  return i < kRxErrorTexts.size() ? kRxErrorTexts[i] : std::string_view{};
}

}  // namespace vatel::fec::frame
