#include "multicarrier/fft.hpp"

#include <fftw3.h>

#include <algorithm>
#include <climits>
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

FftBlock::FftBlock(std::size_t n) : in_(n), work_(n), n_(n) {
  if (n != 0) plan_ = detail::make_plan(n, false, in_.data(), work_.data());
}

std::size_t FftBlock::process(std::span<const cf32> input, std::span<cf32> output) noexcept {
  if (input.size() < n_ || output.size() < n_ || n_ == 0) return 0;
  cf32* out = output.data();
  std::copy_n(input.data(), n_, in_.data());
  if (detail::plan_aligned(out)) {
    detail::execute(*plan_, in_.data(), out);
  } else {
    detail::execute(*plan_, in_.data(), work_.data());
    std::copy_n(work_.data(), n_, out);
  }
  return n_;
}

IfftBlock::IfftBlock(std::size_t n)
    : in_(n), work_(n), n_(n), scale_(1.0f / static_cast<float>(n)) {
  if (n != 0) plan_ = detail::make_plan(n, true, in_.data(), work_.data());
}

std::size_t IfftBlock::process(std::span<const cf32> input, std::span<cf32> output) noexcept {
  if (input.size() < n_ || output.size() < n_ || n_ == 0) return 0;
  std::copy_n(input.data(), n_, in_.data());
  detail::execute(*plan_, in_.data(), work_.data());
  const float s = scale_;
  float* o = reinterpret_cast<float*>(output.data());
  const float* w = reinterpret_cast<const float*>(work_.data());
  for (std::size_t i = 0; i < 2 * n_; ++i) o[i] = w[i] * s;
  return n_;
}

}  // namespace vatel::multicarrier
