#pragma once
// The FT4 modulator: 105 channel symbols of 576 samples, four tones
// 20.833334 Hz apart (12000 / 576 in single precision).
#include "codec/ft4.hpp"
#include "modulate/ft8.hpp"

namespace vatel::modulate {

using Ft4Mod = ToneBurstMod<codec::ft4::Traits>;

}  // namespace vatel::modulate
