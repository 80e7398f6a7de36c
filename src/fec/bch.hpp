#pragma once
// Narrow-sense binary BCH codes of primitive length 255 with designed
// error-correcting capability t, shortened to n bits.  The frame chain uses
// the codes that carry exactly 120 message bits.
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <variant>
#include <vector>

#include "fec/gf.hpp"

namespace vatel::fec::bch {

struct BchError {
  enum class Kind : std::uint8_t { DesignTooLarge, BadLength, Uncorrectable };
  Kind kind;
  std::uint64_t value;  // DesignTooLarge: t; BadLength: n; Uncorrectable: a count

  // "DesignTooLarge(0)", "BadLength(260)".
  std::string debug() const;
  friend bool operator==(const BchError&, const BchError&) = default;
};

struct BchDecoded {
  std::vector<std::uint8_t> message;  // k bits: corrected, or as received on failure
  bool ok = false;
};

class Bch;
using BchResult = std::variant<Bch, BchError>;

class Bch {
 public:
  // The code of length n for capability t, or why there is none: n >= 256
  // BadLength(n); t = 0 DesignTooLarge(0); a generator of degree 255 or more
  // DesignTooLarge(t); deg g >= n BadLength(n).
  static BchResult shortened(std::uint64_t n, std::uint64_t t);

  // The code carrying 120 message bits: shortened(255, t) first (its error
  // stops the call with "valid BCH t: ..."), then shortened(deg g + 120, t)
  // ("valid shortened BCH: ...").  Valid t are 1 ..= 19.
  static Bch for_120_bit_messages(std::uint64_t t);

  std::size_t n() const noexcept { return n_; }
  std::size_t k() const noexcept { return k_; }
  std::size_t t() const noexcept { return t_; }
  std::size_t degree() const noexcept { return generator_.size() - 1; }
  // g(x) in descending powers, coefficients 0 or 1.
  const std::vector<std::uint8_t>& generator() const noexcept { return generator_; }

  // Exactly k message bits (one per byte) to n codeword bits: the message,
  // then the parity bits.
  std::vector<std::uint8_t> encode_block(std::span<const std::uint8_t> message) const;
  // Exactly n received bits to k bits and a success flag; corrects up to t
  // bit errors.
  BchDecoded decode_block(std::span<const std::uint8_t> word) const;
  // The same into a caller's k-bit buffer; returns the success flag.
  bool decode_into(std::span<const std::uint8_t> word, std::span<std::uint8_t> message) const;

 private:
  Bch(std::vector<std::uint8_t> generator, std::size_t n, std::size_t t);
  const gf::Gf256* gf_;
  std::vector<std::uint8_t> generator_;
  std::size_t n_, k_, t_;
};

}  // namespace vatel::fec::bch

namespace vatel::fec {
using bch::Bch;
using bch::BchError;
}  // namespace vatel::fec
