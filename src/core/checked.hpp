#pragma once
// Size arithmetic on caller-given values: every product or sum that sizes an
// allocation goes through these, so that no size wraps.
#include <cstddef>
#include <cstdint>
#include <limits>
#include <new>
#include <string>
#include <utility>

namespace vatel::core {

// A size too large to allocate because it does not even fit in a size_t: a
// product or sum of caller-given sizes that wraps, or an element count whose
// bytes do.  It is an allocation failure like the one the allocator reports
// for a size just below the wrap, so both reach the caller alike (the binding
// layer's MemoryError); its text names the size.
class SizeTooLarge : public std::bad_alloc {
 public:
  explicit SizeTooLarge(std::string message) : message_(std::move(message)) {}
  const char* what() const noexcept override { return message_.c_str(); }
  const std::string& message() const noexcept { return message_; }

 private:
  std::string message_;
};

[[noreturn]] inline void size_too_large(std::string message) { throw SizeTooLarge(std::move(message)); }

inline std::size_t checked_mul(std::size_t a, std::size_t b, const char* what = "size") {
  std::size_t r;
  if (__builtin_mul_overflow(a, b, &r))
    size_too_large(std::string(what) + " overflows: " + std::to_string(a) + " * " + std::to_string(b));
  return r;
}

inline std::size_t checked_add(std::size_t a, std::size_t b, const char* what = "size") {
  std::size_t r;
  if (__builtin_add_overflow(a, b, &r))
    size_too_large(std::string(what) + " overflows: " + std::to_string(a) + " + " + std::to_string(b));
  return r;
}

// A float count as an unsigned 64-bit value with saturation: NaN, zero and
// negatives give 0, anything from 2^64 up gives the largest value.
inline std::uint64_t saturating_u64(float x) {
  if (!(x > 0.0f)) return 0;
  if (x >= 18446744073709551616.0f) return std::numeric_limits<std::uint64_t>::max();
  return static_cast<std::uint64_t>(x);
}

}  // namespace vatel::core
