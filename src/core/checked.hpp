#pragma once
// Size arithmetic on caller-given values: every product or sum that sizes an
// allocation goes through these, so that no size wraps.
#include <cstddef>
#include <string>

#include "core/panic.hpp"

namespace vatel::core {

inline std::size_t checked_mul(std::size_t a, std::size_t b, const char* what = "size") {
  std::size_t r;
  if (__builtin_mul_overflow(a, b, &r))
    panic(std::string(what) + " overflows: " + std::to_string(a) + " * " + std::to_string(b));
  return r;
}

inline std::size_t checked_add(std::size_t a, std::size_t b, const char* what = "size") {
  std::size_t r;
  if (__builtin_add_overflow(a, b, &r))
    panic(std::string(what) + " overflows: " + std::to_string(a) + " + " + std::to_string(b));
  return r;
}

}  // namespace vatel::core
