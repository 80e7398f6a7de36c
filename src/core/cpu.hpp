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

// Defines `name` (dispatching), `name##_portable` and `name##_fma` from the
// always-inline template `name##_body`, all with the signature
// `ret name(params)`; `args` forwards the parameters.
#define VATEL_FMA_KERNEL(ret, name, params, args)                                 \
  ret name##_portable params { return name##_body args; }                         \
  VATEL_TARGET_FMA ret name##_fma params { return name##_body args; }             \
  ret name params {                                                               \
    static const bool hw = ::vatel::core::cpu_has_fma();                          \
    return hw ? name##_fma args : name##_portable args;                           \
  }

// The target of kernels that only want wider vectors: AVX2 without FMA.
// GCC's vectoriser turns interleaved complex products into fused
// multiply-add/subtract instructions whenever FMA is enabled, even under
// -ffp-contract=off, so these builds leave it out.
#define VATEL_TARGET_AVX2 __attribute__((target("avx2")))

// Defines `name` (dispatching), `name##_portable` and `name##_avx2` from
// `name##_body`, as VATEL_FMA_KERNEL does.
#define VATEL_AVX2_KERNEL(ret, name, params, args)                                \
  ret name##_portable params { return name##_body args; }                         \
  VATEL_TARGET_AVX2 ret name##_avx2 params { return name##_body args; }           \
  ret name params {                                                               \
    static const bool hw = ::vatel::core::cpu_has_fma();                          \
    return hw ? name##_avx2 args : name##_portable args;                          \
  }
