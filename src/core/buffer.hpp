#pragma once
// An owned, uninitialised, 64-byte aligned array of trivially copyable values.
// Hot paths write every element, so paying for zero-initialisation (as
// std::vector does) would only cost time; the binding layer hands the buffer
// to NumPy without copying.
#include <cstddef>
#include <cstdint>
#include <limits>
#include <new>
#include <span>
#include <string>
#include <type_traits>
#include <utility>

#include "core/panic.hpp"

namespace vatel::core {

template <class T>
class Buffer {
  static_assert(std::is_trivially_copyable_v<T> && std::is_trivially_destructible_v<T>);
  static constexpr std::align_val_t kAlign{64};

 public:
  using value_type = T;

  Buffer() = default;
  explicit Buffer(std::size_t n) : size_(n) {
    if (n == 0) return;
    if (n > std::numeric_limits<std::size_t>::max() / sizeof(T))
      panic("buffer of " + std::to_string(n) + " elements is too large");
    data_ = static_cast<T*>(::operator new(n * sizeof(T), kAlign));
  }
  Buffer(const Buffer&) = delete;
  Buffer& operator=(const Buffer&) = delete;
  Buffer(Buffer&& o) noexcept : data_(std::exchange(o.data_, nullptr)), size_(std::exchange(o.size_, 0)) {}
  Buffer& operator=(Buffer&& o) noexcept {
    if (this != &o) {
      reset();
      data_ = std::exchange(o.data_, nullptr);
      size_ = std::exchange(o.size_, 0);
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
    if (data_) ::operator delete(data_, kAlign);
    data_ = nullptr;
    size_ = 0;
  }
  T* data_ = nullptr;
  std::size_t size_ = 0;
};

}  // namespace vatel::core
