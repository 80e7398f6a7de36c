#pragma once
// The FT4 demodulator: 105 symbols of 576 samples, four tones.
#include "codec/ft4.hpp"
#include "demodulate/ft8.hpp"

namespace vatel::demodulate {

using Ft4Demod = ToneBurstDemod<codec::ft4::Traits>;

}  // namespace vatel::demodulate
