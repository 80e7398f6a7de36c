#pragma once
// The error locator of a binary BCH or a Reed-Solomon word over GF(2^8):
// Lambda(x) from the syndromes by Berlekamp-Massey, and its roots by Chien
// search.  The codes differ only in which syndromes they feed in (BCH
// S_1 ... S_2t, RS S_0 ... S_(2t - 1)) and in what they do with the roots.
#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

#include "fec/gf.hpp"

namespace vatel::fec::error_locator {

struct ErrorLocator {
  // Lambda_0 ... in ascending powers, Lambda_0 = 1; room for any length the
  // iteration reaches with up to 255 syndromes.
  std::array<std::uint8_t, 512> lambda{};
  std::size_t degree = 0;  // of the highest non-zero coefficient
};

// Berlekamp-Massey over the syndromes in order (general form, no shortcut
// for binary codes); at most 255 of them.
ErrorLocator berlekamp_massey(const gf::Gf256& gf, std::span<const std::uint8_t> syndromes);

// The positions p in 0 ..= 254, ascending, with Lambda(alpha^-p) = 0, into
// roots; the search stops once it has found as many as the degree, which is
// all a polynomial of that degree has.  Returns the count.
std::size_t chien_search(const gf::Gf256& gf, const ErrorLocator& locator, std::array<std::uint8_t, 256>& roots);

}  // namespace vatel::fec::error_locator
