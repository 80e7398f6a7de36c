#pragma once
// Phasing-method SSB modulator: the audio is shifted by a quadrature IF
// oscillator at audio_if_hz, each branch is low-passed, and the pair
// I + j*s*Q is mixed up to rf_hz; s = +1 keeps the upper sideband, -1 the
// lower.
#include <span>

#include "core/buffer.hpp"
#include "core/types.hpp"
#include "dsp/biquad.hpp"
#include "dsp/rotator.hpp"

namespace vatel::modulate {

class SsbPhasingMod {
 public:
  SsbPhasingMod(float fs, float audio_bw_hz, float audio_if_hz, float rf_hz, bool usb)
      : if_osc_(audio_if_hz, fs),
        rf_osc_(rf_hz, fs),
        i_lowpass_(fs, audio_bw_hz),
        q_lowpass_(fs, audio_bw_hz),
        usb_(usb) {}

  // One sample per audio sample.
  core::Buffer<cf32> process(std::span<const float> audio);

 private:
  dsp::Rotator if_osc_;
  dsp::Rotator rf_osc_;
  dsp::AudioLowpass i_lowpass_;
  dsp::AudioLowpass q_lowpass_;
  bool usb_;
};

// Kernel; sign is +1 (upper sideband) or -1 (portable and FMA builds give
// identical bits).
void ssb_phasing_mod_kernel(dsp::Rotator& if_osc, dsp::Rotator& rf_osc, dsp::AudioLowpass& i_lowpass,
                            dsp::AudioLowpass& q_lowpass, float sign, const float* audio, cf32* out,
                            std::size_t n);
void ssb_phasing_mod_kernel_portable(dsp::Rotator& if_osc, dsp::Rotator& rf_osc, dsp::AudioLowpass& i_lowpass,
                                     dsp::AudioLowpass& q_lowpass, float sign, const float* audio, cf32* out,
                                     std::size_t n);
void ssb_phasing_mod_kernel_fma(dsp::Rotator& if_osc, dsp::Rotator& rf_osc, dsp::AudioLowpass& i_lowpass,
                                dsp::AudioLowpass& q_lowpass, float sign, const float* audio, cf32* out,
                                std::size_t n);

}  // namespace vatel::modulate
