#pragma once
// BPSK31 and QPSK31 demodulators: mix to baseband, integrate each symbol
// against the modulator's half-Hann ramp (waveform/psk31.hpp) after removing
// the previous symbol's share of the transition, detect the phase change
// differentially and keep a slow decision-directed phase correction.  Symbol
// timing is the sample count since construction or reset; there is no timing
// recovery and no gain control.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "core/buffer.hpp"
#include "core/types.hpp"
#include "dsp/rotator.hpp"
#include "waveform/psk31.hpp"

namespace vatel::demodulate::psk31 {

// The state and symbol step shared by both demodulators.
class Psk31DemodCore {
 public:
  Psk31DemodCore(float fs, float rf_hz, float gain, const char* who);
  void reset();
  void set_gain(float g) { gain_ = g; }
  std::size_t sps() const { return sps_; }

 protected:
  // Takes one sample; true when it completed a symbol, whose differential
  // product is then in d.  The loop's decision is left to the caller.
  bool take(cf32 x, float scale, cf32& d);
  void correct(cf32 d, cf32 decision);
  float scale() const { return gain_ / energy_; }
  void ensure_ramp() const;

 private:
  std::vector<float> ramp_;
  std::optional<dsp::Rotator> mixer_;
  std::size_t sps_;
  std::size_t pos_ = 0;
  cf32 acc_{0.0f, 0.0f};
  cf32 prev_{1.0f, 0.0f};
  float gain_;
  float energy_ = 0.0f;
  float loop_phase_ = 0.0f;
  float loop_gain_ = 0.05f;
};

class Bpsk31Demod : public Psk31DemodCore {
 public:
  using Input = cf32;
  using Output = float;
  Bpsk31Demod(float fs, float rf_hz, float gain) : Psk31DemodCore(fs, rf_hz, gain, "Bpsk31Demod") {}
  // Named here so that each class has its own members to bind.
  void reset() { Psk31DemodCore::reset(); }
  void set_gain(float g) { Psk31DemodCore::set_gain(g); }
  // One soft value (the real part of the differential product, positive for
  // no reversal) per completed symbol; stops when the output is full.
  std::size_t process(std::span<const cf32> in, std::span<float> out);
};

class Qpsk31Demod : public Psk31DemodCore {
 public:
  using Input = cf32;
  using Output = float;
  Qpsk31Demod(float fs, float rf_hz, float gain) : Psk31DemodCore(fs, rf_hz, gain, "Qpsk31Demod") {}
  // Named here so that each class has its own members to bind.
  void reset() { Psk31DemodCore::reset(); }
  void set_gain(float g) { Psk31DemodCore::set_gain(g); }
  // One (re, im) pair per completed symbol; takes a sample only while two
  // output places are free.
  std::size_t process(std::span<const cf32> in, std::span<float> out);
};

// Hard decisions: 1 where the value is >= 0 (also -0.0), else 0 (NaN too).
struct Bpsk31Decider {
  core::Buffer<std::uint8_t> process(std::span<const float> soft) const;
};

}  // namespace vatel::demodulate::psk31
