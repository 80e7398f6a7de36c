#include "fec/frame.hpp"

#include <array>

namespace vatel::fec::frame {

namespace {
constexpr std::array<std::string_view, 5> kRateNames{"1/2", "2/3", "3/4", "5/6", "7/8"};
constexpr std::array<std::string_view, 3> kLdpcNames{"n512r12", "n576r23", "n512r34"};
constexpr std::array<std::string_view, 5> kRxErrorTexts{
    "no preamble found", "malformed frame header", "header CRC mismatch",
    "payload CRC mismatch", "FEC uncorrectable"};
}  // namespace

std::string_view puncture_rate_name(PunctureRate rate) noexcept {
  const auto i = static_cast<std::size_t>(rate);
  return i < kRateNames.size() ? kRateNames[i] : std::string_view{};
}

std::optional<PunctureRate> puncture_rate_from_name(std::string_view name) noexcept {
  for (std::size_t i = 0; i < kRateNames.size(); ++i)
    if (kRateNames[i] == name) return static_cast<PunctureRate>(i);
  return std::nullopt;
}

std::string_view ldpc_code_name(LdpcCodeId id) noexcept {
  const auto i = static_cast<std::size_t>(id);
  return i < kLdpcNames.size() ? kLdpcNames[i] : std::string_view{};
}

std::optional<LdpcCodeId> ldpc_code_from_name(std::string_view name) noexcept {
  for (std::size_t i = 0; i < kLdpcNames.size(); ++i)
    if (kLdpcNames[i] == name) return static_cast<LdpcCodeId>(i);
  return std::nullopt;
}

std::string_view rx_error_text(RxError error) noexcept {
  const auto i = static_cast<std::size_t>(error);
  return i < kRxErrorTexts.size() ? kRxErrorTexts[i] : std::string_view{};
}

}  // namespace vatel::fec::frame
