#pragma once
// An owned, uninitialised, 64-byte aligned array of trivially copyable values.
// Hot paths write every element, so paying for zero-initialisation (as
// std::vector does) would only cost time; the binding layer hands the buffer
// to NumPy without copying.
#include <sys/mman.h>

#include <cstddef>
#include <cstdint>
#include <limits>
#include <new>
#include <span>
#include <string>
#include <type_traits>
#include <utility>

#include "core/checked.hpp"
#include "core/panic.hpp"

namespace vatel::core {

template <class T>
class Buffer {
  static_assert(std::is_trivially_copyable_v<T> && std::is_trivially_destructible_v<T>);
  static constexpr std::align_val_t kAlign{64};
  static constexpr std::size_t kHuge = std::size_t{2} << 20;
  static constexpr std::size_t kHugeFrom = std::size_t{4} << 20;

 public:
  using value_type = T;

  Buffer() = default;
  explicit Buffer(std::size_t n) : size_(n) {
    if (n == 0) return;
    if (n > std::numeric_limits<std::size_t>::max() / sizeof(T))
      size_too_large("buffer of " + std::to_string(n) + " elements is too large");
    const std::size_t bytes = n * sizeof(T);
    if (bytes >= kHugeFrom) {
      // Large results are written once from start to end; transparent huge
      // pages turn thousands of page faults into a few.
      const std::size_t rounded = (bytes + kHuge - 1) / kHuge * kHuge;
      data_ = static_cast<T*>(::operator new(rounded, std::align_val_t{kHuge}));
      huge_ = true;
      ::madvise(data_, rounded, MADV_HUGEPAGE);
    } else {
      data_ = static_cast<T*>(::operator new(bytes, kAlign));
    }
  }
  Buffer(const Buffer&) = delete;
  Buffer& operator=(const Buffer&) = delete;
  Buffer(Buffer&& o) noexcept
      : data_(std::exchange(o.data_, nullptr)), size_(std::exchange(o.size_, 0)),
        huge_(std::exchange(o.huge_, false)) {}
  Buffer& operator=(Buffer&& o) noexcept {
    if (this != &o) {
      reset();
      data_ = std::exchange(o.data_, nullptr);
      size_ = std::exchange(o.size_, 0);
      huge_ = std::exchange(o.huge_, false);
    }
    return *this;
  }
  ~Buffer() { reset(); }

  T* data() noexcept { return data_; }
  const T* data() const noexcept { return data_; }
  std::size_t size() const noexcept { return size_; }
  bool empty() const noexcept { return size_ == 0; }
  T& operator[](std::size_t i) noexcept { return data_[i]; }
  const T& operator[](std::size_t i) const noexcept { return data_[i]; }
  T* begin() noexcept { return data_; }
  T* end() noexcept { return data_ + size_; }
  const T* begin() const noexcept { return data_; }
  const T* end() const noexcept { return data_ + size_; }
  std::span<T> span() noexcept { return {data_, size_}; }
  std::span<const T> span() const noexcept { return {data_, size_}; }

  // Keeps the first n elements (n <= size); the storage is not reallocated.
  void truncate(std::size_t n) {
    VATEL_ENSURE(n <= size_, "Buffer::truncate beyond its size");
    size_ = n;
  }

 private:
  void reset() noexcept {
    if (data_) ::operator delete(data_, huge_ ? std::align_val_t{kHuge} : kAlign);
    data_ = nullptr;
    size_ = 0;
    huge_ = false;
  }
  T* data_ = nullptr;
  std::size_t size_ = 0;  // may be less than allocated after truncate()
  bool huge_ = false;
};

}  // namespace vatel::core
