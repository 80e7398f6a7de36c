#pragma once
// Systematic Reed-Solomon codes RS(n, k) over GF(2^8), shortened from length
// 255, with the generator roots alpha^0 ... alpha^(n_parity - 1).  With
// n = 204 and n_parity = 16 this is the outer code of EN 300 744, clause 4.3.2.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "fec/gf.hpp"

namespace vatel::fec::reed_solomon {

struct RsError {
  enum class Kind : std::uint8_t { BadLength, Uncorrectable };
  Kind kind;
  std::uint64_t a;      // BadLength: n; Uncorrectable: the count
  std::uint64_t b = 0;  // BadLength: n_parity

  static RsError bad_length(std::uint64_t n, std::uint64_t n_parity) {
    return {Kind::BadLength, n, n_parity};
  }
  // "BadLength(300, 16)", "Uncorrectable(9)".
  std::string debug() const;
};

struct RsDecodeStatus {
  bool ok = false;
  std::size_t corrected = 0;  // meaningful when ok
};

struct RsDecoded {
  std::vector<std::uint8_t> message;  // k bytes: corrected, or as received on failure
  bool ok = false;
  std::size_t corrected = 0;
};

class ReedSolomon {
 public:
  // The error a construction for (n, n_parity) would stop with, if any:
  // valid when 1 <= n <= 255 and n_parity < n.
  static std::optional<RsError> check(std::uint64_t n, std::uint64_t n_parity);
  // Stops the call with "valid RS config: BadLength(n, n_parity)" when
  // check() fails.
  ReedSolomon(std::uint64_t n, std::uint64_t n_parity);

  std::size_t n() const noexcept { return n_; }
  std::size_t k() const noexcept { return k_; }
  std::size_t n_parity() const noexcept { return n_parity_; }
  // g(x) in ascending powers; generator()[n_parity] = 1.
  const std::vector<std::uint8_t>& generator() const noexcept { return generator_; }

  // The n-byte codeword of exactly k message bytes: the message, then the
  // parity bytes (the remainder of m(x) x^n_parity by g(x)).
  std::vector<std::uint8_t> encode_block(std::span<const std::uint8_t> message) const;
  // The same into a caller's n-byte buffer.
  void encode_into(std::span<const std::uint8_t> message, std::span<std::uint8_t> codeword) const;

  // Decodes exactly n received bytes (up to floor(n_parity / 2) byte errors).
  RsDecoded decode_block(std::span<const std::uint8_t> word) const;
  // The same into a caller's k-byte buffer; no allocation.
  RsDecodeStatus decode_into(std::span<const std::uint8_t> word,
                             std::span<std::uint8_t> message) const;

 private:
  const gf::Gf256& gf_;
  std::vector<std::uint8_t> generator_;
  std::size_t n_, k_, n_parity_;
  // encode_table_[f * n_parity + j] = f * generator[n_parity - 1 - j]: one
  // row per feedback byte, so an encoding step is a shift and a row XOR.
  std::vector<std::uint8_t> encode_table_;
  // syndrome_table_[j * 256 + s] = s * alpha^j: one Horner step per lookup.
  std::vector<std::uint8_t> syndrome_table_;
};

}  // namespace vatel::fec::reed_solomon

namespace vatel::fec {
using reed_solomon::ReedSolomon;
using reed_solomon::RsError;
}  // namespace vatel::fec
