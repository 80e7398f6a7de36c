#pragma once
// Shared helpers of the FEC tests.
#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "core/checked.hpp"
#include "core/panic.hpp"

// Expects `stmt` to stop with a Panic whose message is exactly `text`.
#define EXPECT_PANIC_TEXT(stmt, text)                                     \
  do {                                                                    \
    try {                                                                 \
      stmt;                                                               \
      ADD_FAILURE() << "no panic from " #stmt;                            \
    } catch (const ::vatel::core::Panic& p) {                             \
      EXPECT_EQ(p.message(), std::string(text));                          \
    }                                                                     \
  } while (0)

// Expects `stmt` to throw `type` (a class with message()) whose message
// contains `text`.
#define EXPECT_THROW_HAS(stmt, type, text)                                \
  do {                                                                    \
    try {                                                                 \
      stmt;                                                               \
      ADD_FAILURE() << "no " #type " from " #stmt;                        \
    } catch (const type& e) {                                             \
      EXPECT_NE(e.message().find(text), std::string::npos) << e.message(); \
    }                                                                     \
  } while (0)

// Expects `stmt` to stop with a Panic whose message contains `text`.
#define EXPECT_PANIC_HAS(stmt, text) EXPECT_THROW_HAS(stmt, ::vatel::core::Panic, text)

// Expects `stmt` to stop with a size too large to allocate (the caller's
// MemoryError) whose message contains `text`.
#define EXPECT_TOO_LARGE(stmt, text) EXPECT_THROW_HAS(stmt, ::vatel::core::SizeTooLarge, text)

namespace vatel::fec::test {

inline std::vector<std::uint8_t> random_bits(std::size_t n, std::uint32_t seed) {
  std::mt19937 rng(seed);
  std::vector<std::uint8_t> v(n);
  for (auto& b : v) b = static_cast<std::uint8_t>(rng() & 1u);
  return v;
}

inline std::vector<std::uint8_t> random_bytes(std::size_t n, std::uint32_t seed) {
  std::mt19937 rng(seed);
  std::vector<std::uint8_t> v(n);
  for (auto& b : v) b = static_cast<std::uint8_t>(rng());
  return v;
}

// Bit 0 -> +1.0, bit 1 -> -1.0.
inline std::vector<float> to_soft(const std::vector<std::uint8_t>& bits) {
  std::vector<float> s(bits.size());
  for (std::size_t i = 0; i < bits.size(); ++i) s[i] = (bits[i] & 1u) ? -1.0f : 1.0f;
  return s;
}

}  // namespace vatel::fec::test
