#pragma once
// CPU feature choice, made in one place.  Kernels that use fused
// multiply-adds come in two builds from one template body: a portable one
// (std::fma, exactly rounded by the C library) and one compiled for FMA/AVX2.
// Both give identical bits; the FMA build is only faster.
#include <cmath>

namespace vatel::core {

// True when the CPU executes FMA and AVX2 instructions.
bool cpu_has_fma() noexcept;

}  // namespace vatel::core

// The target of the hardware build of a kernel.
#define VATEL_TARGET_FMA __attribute__((target("avx2,fma")))
#define VATEL_INLINE [[gnu::always_inline]] inline

// Defines `name` (dispatching), `name##_portable` and `name##_<suffix>` (built
// for `target`) from the always-inline template `name##_body`, all with the
// signature `ret name(params)`; `args` forwards the parameters.
#define VATEL_DISPATCH_KERNEL(target, suffix, ret, name, params, args)            \
  ret name##_portable params { return name##_body args; }                         \
  target ret name##_##suffix params { return name##_body args; }                  \
  ret name params {                                                               \
    static const bool hw = ::vatel::core::cpu_has_fma();                          \
    return hw ? name##_##suffix args : name##_portable args;                      \
  }

#define VATEL_FMA_KERNEL(ret, name, params, args) \
  VATEL_DISPATCH_KERNEL(VATEL_TARGET_FMA, fma, ret, name, params, args)

// The target of kernels that only want wider vectors: AVX2 without FMA.
// GCC's vectoriser turns interleaved complex products into fused
// multiply-add/subtract instructions whenever FMA is enabled, even under
// -ffp-contract=off, so these builds leave it out.
#define VATEL_TARGET_AVX2 __attribute__((target("avx2")))

// Defines `name`, `name##_portable` and `name##_avx2`, as VATEL_FMA_KERNEL does.
#define VATEL_AVX2_KERNEL(ret, name, params, args) \
  VATEL_DISPATCH_KERNEL(VATEL_TARGET_AVX2, avx2, ret, name, params, args)
