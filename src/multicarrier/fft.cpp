#include "multicarrier/fft.hpp"

#include <fftw3.h>

#include <algorithm>
#include <climits>
#include <functional>
#include <mutex>
#include <string>

#include "core/panic.hpp"

namespace vatel::multicarrier {
namespace detail {
namespace {

std::mutex& planner_mutex() {
  static std::mutex m;
  return m;
}

fftwf_complex* as_fftw(cf32* p) noexcept { return reinterpret_cast<fftwf_complex*>(p); }

}  // namespace

struct FftwPlan {
  fftwf_plan plan = nullptr;
  ~FftwPlan() {
    std::lock_guard lock(planner_mutex());
    fftwf_destroy_plan(plan);
  }
};

std::shared_ptr<FftwPlan> make_plan(std::size_t n, bool inverse, cf32* in, cf32* out) {
  VATEL_ENSURE(n <= static_cast<std::size_t>(INT_MAX),
               "FFT length " + std::to_string(n) + " exceeds the FFT library's limit");
  auto plan = std::make_shared<FftwPlan>();
  {
    std::lock_guard lock(planner_mutex());
    plan->plan = fftwf_plan_dft_1d(static_cast<int>(n), as_fftw(in), as_fftw(out),
                                   inverse ? FFTW_BACKWARD : FFTW_FORWARD,
                                   FFTW_ESTIMATE | FFTW_PRESERVE_INPUT);
  }
  VATEL_ENSURE(plan->plan != nullptr, "the FFT library made no plan for length " + std::to_string(n));
  return plan;
}

void execute(const FftwPlan& plan, cf32* in, cf32* out) noexcept {
  fftwf_execute_dft(plan.plan, as_fftw(in), as_fftw(out));
}

bool plan_aligned(const cf32* p) noexcept {
  // Plans are made on 64-byte aligned buffers; FFTW needs the same
  // alignment modulo its SIMD width at execution.
  return fftwf_alignment_of(reinterpret_cast<float*>(const_cast<cf32*>(p))) == 0;
}

}  // namespace detail

namespace detail {

PlannedTransform::PlannedTransform(std::size_t n, bool inverse) : in_(n), work_(n), n_(n) {
  if (n != 0) plan_ = make_plan(n, inverse, in_.data(), work_.data());
}

void PlannedTransform::run_from(const cf32* input, cf32* out) noexcept {
  // The plans are made with FFTW_PRESERVE_INPUT: the input is only read.
  execute(*plan_, const_cast<cf32*>(input), out);
}

void PlannedTransform::run(const cf32* input, cf32* out) noexcept {
  std::copy_n(input, n_, in_.data());
  execute(*plan_, in_.data(), out);
}

}  // namespace detail

std::size_t FftBlock::process(std::span<const cf32> input, std::span<cf32> output) noexcept {
  const std::size_t n = t_.size();
  if (input.size() < n || output.size() < n || n == 0) return 0;
  cf32* out = output.data();
  // An input aligned like the plan's buffers and apart from the output is
  // transformed where it lies (the plans preserve their input), which saves
  // the copy; the plans are out of place, so an overlapping one is copied.
  const cf32* in = input.data();
  const std::less<const cf32*> below;  // a total order on unrelated arrays as well
  const bool apart = !below(in, out + n) || !below(out, in + n);
  if (apart && detail::plan_aligned(out) && detail::plan_aligned(in))
    t_.run_from(in, out);
  else if (detail::plan_aligned(out))
    t_.run(input.data(), out);
  else
    std::copy_n(t_.run(input.data()), n, out);
  return n;
}

std::size_t IfftBlock::process(std::span<const cf32> input, std::span<cf32> output) noexcept {
  const std::size_t n = t_.size();
  if (input.size() < n || output.size() < n || n == 0) return 0;
  const float s = scale_;
  float* o = reinterpret_cast<float*>(output.data());
  const float* w = reinterpret_cast<const float*>(t_.run(input.data()));
  for (std::size_t i = 0; i < 2 * n; ++i) o[i] = w[i] * s;
  return n;
}

}  // namespace vatel::multicarrier
