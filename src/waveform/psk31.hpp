#pragma once
// What a PSK31 transmitter and receiver agree on: 31.25 symbols per second,
// the symbol length in samples at a sample rate, and the half-Hann ramp along
// which a symbol moves from one point to the next (the transmitter's pulse,
// against which the receiver integrates each symbol).
#include <cstddef>
#include <vector>

namespace vatel::waveform::psk31 {

inline constexpr float kSymbolRate = 31.25f;

// Above this the ramp alone would take more memory than any real sample rate
// needs (fs beyond 500 MHz); constructors refuse it.
inline constexpr std::size_t kMaxSps = std::size_t{1} << 24;

// round(fs / 31.25) in floats, half away from zero, converted with
// saturation: 0 for a negative or NaN quotient.
std::size_t samples_per_symbol(float fs);

// The half-Hann ramp 0.5 - 0.5 cos(i pi / (n - 1)), rising from 0 to 1 over
// n samples; [1.0] for n = 1, empty for n = 0.
std::vector<float> make_hann(std::size_t n);

// Panics unless sps fits kMaxSps; names the sample rate it came from.
std::size_t checked_sps(float fs, const char* who);

}  // namespace vatel::waveform::psk31
