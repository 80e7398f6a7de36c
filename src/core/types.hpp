#pragma once
// Sample types shared by every layer.
#include <complex>
#include <cstddef>
#include <cstdint>

namespace vatel {

// A complex sample: two 32-bit floats, real part first (NumPy complex64).
using cf32 = std::complex<float>;
static_assert(sizeof(cf32) == 8 && alignof(cf32) <= 8);

}  // namespace vatel
