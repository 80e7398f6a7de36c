#include "core/cpu.hpp"

namespace vatel::core {

bool cpu_has_fma() noexcept {
  __builtin_cpu_init();
  return __builtin_cpu_supports("fma") && __builtin_cpu_supports("avx2");
}

}  // namespace vatel::core
