#pragma once
// GF(2^8) with the field polynomial x^8 + x^4 + x^3 + x^2 + 1 (0x11D) and
// the primitive element alpha = x (2), as log and exp tables.
#include <array>
#include <cstdint>

#include "core/panic.hpp"

namespace vatel::fec::gf {

struct Gf256 {
  // exp[i] = alpha^(i mod 255) for i < 512: a sum of two logarithms indexes
  // the table without a reduction.
  std::array<std::uint8_t, 512> exp{};
  // log[alpha^i] = i; log[0] = 0 is never used as a logarithm.
  std::array<std::uint8_t, 256> log{};

  Gf256() noexcept;

  std::uint8_t mul(std::uint8_t a, std::uint8_t b) const noexcept {
    if (a == 0 || b == 0) return 0;
    return exp[log[a] + log[b]];
  }
  // a / b for b != 0.
  std::uint8_t div(std::uint8_t a, std::uint8_t b) const noexcept {
    if (a == 0) return 0;
    return exp[log[a] + 255u - log[b]];
  }
  std::uint8_t inv(std::uint8_t a) const {
    if (a == 0) core::panic("GF(2^8) inverse of zero");
    return exp[255u - log[a]];
  }
  // alpha^e, e >= 0.
  std::uint8_t pow_alpha(std::uint64_t e) const noexcept { return exp[e % 255]; }
};

// The process-wide tables: built by the first user (exactly one thread builds
// them, concurrent first users wait), read-only afterwards, never freed.
const Gf256& shared_tables() noexcept;

// `SHARED` names those tables; it converts to `const Gf256&` and forwards
// member access, so `SHARED->mul(a, b)` builds them on first use.
struct SharedGf256 {
  operator const Gf256&() const noexcept { return shared_tables(); }
  const Gf256* operator->() const noexcept { return &shared_tables(); }
  const Gf256& get() const noexcept { return shared_tables(); }
};
inline constexpr SharedGf256 SHARED{};

}  // namespace vatel::fec::gf

namespace vatel::fec {
using gf::Gf256;
}  // namespace vatel::fec
