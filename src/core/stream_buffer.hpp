#pragma once
// The sample buffer of a stream receiver: samples appended at the back and
// consumed from the front through a read offset.  Consumed samples are only
// dropped when more are appended, once per call, so a receiver that consumes
// many short frames from one piece moves the rest of the buffer once.
#include <cstddef>
#include <span>
#include <vector>

#include "core/panic.hpp"

namespace vatel::core {

template <class T>
class StreamBuffer {
 public:
  // Drops the consumed samples, then appends `in`.
  void append(std::span<const T> in) {
    if (head_ != 0) {
      data_.erase(data_.begin(), data_.begin() + static_cast<std::ptrdiff_t>(head_));
      head_ = 0;
    }
    data_.insert(data_.end(), in.begin(), in.end());
  }

  // The samples not yet consumed.
  std::span<const T> view() const noexcept { return std::span<const T>(data_).subspan(head_); }
  std::size_t size() const noexcept { return data_.size() - head_; }

  // Consumes the first n samples of view(); more than it holds is a violated
  // invariant.
  void consume(std::size_t n) {
    VATEL_ENSURE(n <= size(), "stream buffer: consuming more samples than it holds");
    head_ += n;
  }

  // Forgets every sample; the capacity stays.
  void clear() noexcept {
    data_.clear();
    head_ = 0;
  }

 private:
  std::vector<T> data_;
  std::size_t head_ = 0;  // first sample not yet consumed
};

}  // namespace vatel::core
