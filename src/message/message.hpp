#pragma once
// The 77-bit FT8/FT4 message held as a 10-byte payload: bits 0..76 from the
// most significant bit of byte 0, the low three bits of byte 9 zero.  The
// field i3 (bits 74..76) and, for i3 = 0, n3 (bits 71..73) select the layout.
#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <variant>
#include <vector>

#include "core/result.hpp"
#include "message/callsign.hpp"
#include "message/grid.hpp"

namespace vatel::message {

using Payload = std::array<std::uint8_t, 10>;

struct Ft8Message {
  // i3 = 1 (or 2 when a callsign ends in "/P").
  struct Standard {
    std::string call_to, call_de;
    GridField extra;
    bool operator==(const Standard&) const = default;
  };
  // i3 = 0, n3 = 0: up to 13 characters of the 42-symbol alphabet.
  struct FreeText {
    std::string text;
    bool operator==(const FreeText&) const = default;
  };
  enum class Reply : std::uint8_t { None = 0, Rrr = 1, Rr73 = 2, SeventyThree = 3 };
  // i3 = 4: one hashed callsign (or CQ) and one non-standard callsign of up
  // to 11 characters sent whole.
  struct NonStd {
    std::string call_to, call_de;
    Reply reply = Reply::None;
    bool operator==(const NonStd&) const = default;
  };
  // i3 = 0, n3 = 5: the low 71 bits of nine bytes.
  struct Telemetry {
    std::array<std::uint8_t, 9> data{};
    bool operator==(const Telemetry&) const = default;
  };
  // Any other layout, kept as it came.
  struct Unknown {
    Payload payload{};
    bool operator==(const Unknown&) const = default;
  };
  using Value = std::variant<Standard, FreeText, NonStd, Telemetry, Unknown>;

  Value value;
  bool operator==(const Ft8Message&) const = default;
};

namespace message {

// Packs a message; none when a callsign or the text has no packed form.
std::optional<Payload> pack77(const Ft8Message& msg, CallsignHashTable& table);

// Reads a payload; never fails (callsign values without a text read "<?>").
Ft8Message unpack77(const Payload& payload, const CallsignHashTable& table);

// i3 and n3 of a payload.
inline std::uint8_t payload_i3(const Payload& p) { return (p[9] >> 3) & 7; }
inline std::uint8_t payload_n3(const Payload& p) {
  return static_cast<std::uint8_t>(((p[8] << 2) & 4) | (p[9] >> 6));
}

}  // namespace message

// The `extra` text of a standard message as a grid field: tokens, signed
// reports ("+07", "R-12"), anything else as a grid text.
GridField parse_extra(std::string_view extra);

// The functions a binding exposes.  Each uses a fresh callsign table, so no
// hashed callsign is remembered from one call to the next.
core::Result<Payload> ft8_pack_standard(std::string_view call_to, std::string_view call_de,
                                        std::string_view extra);
core::Result<Payload> ft8_pack_free_text(std::string_view text);
core::Result<Payload> ft8_pack_telemetry(std::span<const std::uint8_t> data);

// The fields of an unpacked message in the order a binding shows them:
// "type" first, then the keys of that type.  Values are texts, except
// "data" (9 bytes) and "payload" (10 bytes).
using Bytes = std::vector<std::uint8_t>;
using UnpackedValue = std::variant<std::string, Bytes>;
using UnpackedFields = std::vector<std::pair<std::string, UnpackedValue>>;

UnpackedFields unpacked_fields(const Ft8Message& msg);
core::Result<UnpackedFields> ft8_unpack(std::span<const std::uint8_t> payload);

}  // namespace vatel::message
