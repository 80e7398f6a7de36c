#include "fec/crc.hpp"

#include <array>

namespace vatel::fec::crc {

namespace {

constexpr std::array<std::uint16_t, 256> make_crc16_table() {
  std::array<std::uint16_t, 256> t{};
  for (unsigned i = 0; i < 256; ++i) {
    std::uint16_t c = static_cast<std::uint16_t>(i << 8);
    for (int b = 0; b < 8; ++b)
      c = static_cast<std::uint16_t>((c & 0x8000u) ? (c << 1) ^ 0x1021u : (c << 1));
    t[i] = c;
  }
  return t;
}

constexpr std::array<std::uint32_t, 256> make_crc32_table() {
  std::array<std::uint32_t, 256> t{};
  for (std::uint32_t i = 0; i < 256; ++i) {
    std::uint32_t c = i;
    for (int b = 0; b < 8; ++b) c = (c & 1u) ? (c >> 1) ^ 0xEDB88320u : (c >> 1);
    t[i] = c;
  }
  return t;
}

constexpr auto kCrc16 = make_crc16_table();
constexpr auto kCrc32 = make_crc32_table();
static_assert(kCrc16[1] == 0x1021 && kCrc32[1] == 0x77073096u);

}  // namespace

std::uint16_t crc16(std::span<const std::uint8_t> data) noexcept {
  std::uint16_t crc = 0xFFFF;
  for (std::uint8_t b : data)
    crc = static_cast<std::uint16_t>((crc << 8) ^ kCrc16[((crc >> 8) ^ b) & 0xFFu]);
  return crc;
}

std::uint32_t crc32(std::span<const std::uint8_t> data) noexcept {
  std::uint32_t crc = 0xFFFFFFFFu;
  for (std::uint8_t b : data) crc = (crc >> 8) ^ kCrc32[(crc ^ b) & 0xFFu];
  return crc ^ 0xFFFFFFFFu;
}

void append_crc(CrcKind kind, std::vector<std::uint8_t>& bytes) {
  switch (kind) {
    case CrcKind::None: return;
    case CrcKind::Crc16: {
      const std::uint16_t c = crc16(bytes);
      bytes.push_back(static_cast<std::uint8_t>(c >> 8));
      bytes.push_back(static_cast<std::uint8_t>(c));
      return;
    }
    case CrcKind::Crc32: {
      const std::uint32_t c = crc32(bytes);
      for (int shift = 24; shift >= 0; shift -= 8)
        bytes.push_back(static_cast<std::uint8_t>(c >> shift));
      return;
    }
  }
}

bool crc_matches(CrcKind kind, std::span<const std::uint8_t> bytes) noexcept {
  const std::size_t len = crc_bytes(kind);
  if (len == 0) return true;
  if (bytes.size() < len) return false;
  const auto body = bytes.first(bytes.size() - len);
  std::uint32_t stored = 0;
  for (std::size_t i = body.size(); i < bytes.size(); ++i) stored = (stored << 8) | bytes[i];
  const std::uint32_t computed = kind == CrcKind::Crc16 ? crc16(body) : crc32(body);
  return stored == computed;
}

}  // namespace vatel::fec::crc
