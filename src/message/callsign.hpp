#pragma once
// Callsigns of the FT8/FT4 77-bit message: the 28-bit callsign field (tokens,
// directed CQ, hashed and standard callsigns) and the table that remembers
// the callsigns whose hashes travel in place of the text.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>

namespace vatel::message {

// The three hashes of one callsign text.
struct CallsignHashes {
  std::uint32_t h22 = 0;
  std::uint16_t h12 = 0;
  std::uint16_t h10 = 0;
};

// Hashes of a callsign: the first 11 characters read as a base-38 number,
// padded with spaces, times 47055833459 modulo 2^64; the top 22, 12 and 10
// bits of the product are the hashes.
CallsignHashes callsign_hashes(std::string_view text);

// Remembers callsigns by their 22-bit hash, so that a hashed field can be
// shown as the callsign that produced it.
class CallsignHashTable {
 public:
  // Records text under its 22-bit hash (replacing an earlier entry) and
  // returns its three hashes.
  CallsignHashes save(std::string_view text);
  // The text recorded under a 22-bit hash, or nullptr.
  const std::string* find(std::uint32_t h22) const;
  std::size_t size() const noexcept { return map_.size(); }

 private:
  std::unordered_map<std::uint32_t, std::string> map_;
};

namespace callsign {

// Ranges of the 28-bit field.
inline constexpr std::uint32_t kNTokens = 2063592;   // first hashed value
inline constexpr std::uint32_t kMax22 = 4194304;     // 2^22 hashes
inline constexpr std::uint32_t kStandard = kNTokens + kMax22;  // 6257896
inline constexpr std::uint32_t kCqLetters = 1003;    // first directed CQ with letters
inline constexpr std::uint32_t kReserved = 532444;   // first reserved value

struct Packed28 {
  std::uint32_t value = 0;
  bool suffix = false;  // a trailing "/R" or "/P" was removed
};

// Packs a callsign or token; none when the text has no 28-bit form.
std::optional<Packed28> pack28(std::string_view text, CallsignHashTable& table);

// The text of a 28-bit value; none when the value has no text.
std::optional<std::string> unpack28(std::uint32_t value, bool suffix, std::uint8_t i3,
                                    const CallsignHashTable& table);

}  // namespace callsign
}  // namespace vatel::message
