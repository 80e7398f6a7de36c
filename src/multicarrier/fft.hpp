#pragma once
// Forward and inverse FFT blocks of one fixed length on FFTW (single
// precision).  The forward transform is unnormalised; the inverse is scaled
// by 1/n, so an IfftBlock followed by an FftBlock restores its input.
//
// Each block plans its own transform (FFTW_ESTIMATE, so planning is quick and
// leaves the buffers alone) and never shares a plan with another block; a
// copy of a block shares its plan, which is safe because the plan only runs
// through FFTW's new-array execute.  The planner is not thread-safe, so every
// planner and plan-destruction call holds one process-wide mutex.
#include <cstddef>
#include <memory>
#include <new>
#include <span>
#include <utility>
#include <vector>

#include "core/block.hpp"
#include "core/types.hpp"

namespace vatel::multicarrier {

// 64-byte aligned storage, so that FFTW's vector kernels apply to every
// block buffer (a plan is made for one alignment).
template <class T>
struct AlignedAllocator {
  using value_type = T;
  static constexpr std::align_val_t kAlign{64};
  AlignedAllocator() = default;
  template <class U>
  AlignedAllocator(const AlignedAllocator<U>&) noexcept {}
  T* allocate(std::size_t n) {
    if (n > static_cast<std::size_t>(-1) / sizeof(T)) throw std::bad_array_new_length();
    return static_cast<T*>(::operator new(n * sizeof(T), kAlign));
  }
  void deallocate(T* p, std::size_t) noexcept { ::operator delete(p, kAlign); }
  friend bool operator==(const AlignedAllocator&, const AlignedAllocator&) { return true; }
};
using AlignedSamples = std::vector<cf32, AlignedAllocator<cf32>>;

namespace detail {
struct FftwPlan;  // fftwf_plan behind a handle that destroys it under the mutex
// An out-of-place plan from `in` to `out` (FFTW's in-place kernels for one
// transform are about half as fast).
std::shared_ptr<FftwPlan> make_plan(std::size_t n, bool inverse, cf32* in, cf32* out);
// Runs the plan from `in` to `out` (distinct arrays, aligned like the
// planned ones); `in` is left unchanged.
void execute(const FftwPlan& plan, cf32* in, cf32* out) noexcept;
// True when `p` has the alignment the plans are made for.
bool plan_aligned(const cf32* p) noexcept;

// The buffers and plan of one transform length, shared by both blocks.  A
// copy gets buffers of its own and shares the plan; a moved-from one has
// length 0 and transforms nothing.
class PlannedTransform {
 public:
  PlannedTransform(std::size_t n, bool inverse);
  PlannedTransform(const PlannedTransform& o)
      : in_(o.in_.size()), work_(o.work_.size()), plan_(o.plan_), n_(o.n_) {}
  PlannedTransform& operator=(const PlannedTransform& o) {
    if (this != &o) *this = PlannedTransform(o);
    return *this;
  }
  PlannedTransform(PlannedTransform&& o) noexcept
      : in_(std::move(o.in_)), work_(std::move(o.work_)), plan_(std::move(o.plan_)),
        n_(std::exchange(o.n_, 0)) {}
  PlannedTransform& operator=(PlannedTransform&& o) noexcept {
    in_ = std::move(o.in_);
    work_ = std::move(o.work_);
    plan_ = std::move(o.plan_);
    n_ = std::exchange(o.n_, 0);
    return *this;
  }

  std::size_t size() const noexcept { return n_; }
  // Copies n values of `input` into the plan's input buffer (the caller's
  // input stays untouched) and transforms them into `out`, which must be
  // aligned like the plan's buffers.
  void run(const cf32* input, cf32* out) noexcept;
  // Transforms n values of `input`, which must be aligned like the plan's
  // buffers and lie apart from `out`, without copying them (and without
  // writing to them).
  void run_from(const cf32* input, cf32* out) noexcept;
  // The same as run(input, out) into the work buffer, which it returns.
  const cf32* run(const cf32* input) noexcept {
    run(input, work_.data());
    return work_.data();
  }

 private:
  AlignedSamples in_;
  AlignedSamples work_;  // the result when the caller's output does not suit the plan
  std::shared_ptr<FftwPlan> plan_;
  std::size_t n_ = 0;
};
}  // namespace detail

class FftBlock {
 public:
  using Input = cf32;
  using Output = cf32;

  explicit FftBlock(std::size_t n) : t_(n, false) {}

  // X[k] = sum_t x[t] e^(-j 2 pi k t / n) of input[0..n) into output[0..n);
  // returns n, or 0 without writing when a slice is shorter than n.
  std::size_t process(std::span<const cf32> input, std::span<cf32> output) noexcept;
  std::size_t size() const noexcept { return t_.size(); }

 private:
  detail::PlannedTransform t_;
};

class IfftBlock {
 public:
  using Input = cf32;
  using Output = cf32;

  explicit IfftBlock(std::size_t n) : t_(n, true), scale_(1.0f / static_cast<float>(n)) {}

  // x[t] = (1/n) sum_k X[k] e^(+j 2 pi k t / n); returns n, or 0 without
  // writing when a slice is shorter than n.
  std::size_t process(std::span<const cf32> input, std::span<cf32> output) noexcept;
  std::size_t size() const noexcept { return t_.size(); }
  float scale() const noexcept { return scale_; }

 private:
  detail::PlannedTransform t_;
  float scale_ = 1.0f;
};

static_assert(core::Block<FftBlock>);
static_assert(core::Block<IfftBlock>);

}  // namespace vatel::multicarrier
