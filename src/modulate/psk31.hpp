#pragma once
// BPSK31 and QPSK31 modulators at 31.25 symbols per second.  Every symbol
// moves from the previous constellation point to the new one along a
// half-Hann ramp, is scaled by the gain and, with a non-zero RF frequency,
// mixed onto the carrier.  The differential state, the QPSK31 encoder
// register and the carrier oscillator all run on from call to call, so a
// message modulated in pieces is the same signal as one modulated at once.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "core/buffer.hpp"
#include "core/types.hpp"
#include "dsp/rotator.hpp"

namespace vatel::modulate::psk31 {

// The Varicode bits of a text message: the preamble zeros, the codes with
// their separators and the postamble ones; either modulator's modulate_bits
// turns them into the message's waveform.
std::vector<std::uint8_t> text_bits(std::span<const std::uint8_t> text, std::size_t preamble_bits,
                                    std::size_t postamble_bits);

// Ramp, gain and carrier shared by both modulators.
class Psk31ModCore {
 public:
  Psk31ModCore(float fs, float rf_hz, float gain, const char* who);
  void set_gain(float g) { gain_ = g; }
  std::size_t sps() const { return sps_; }

 protected:
  // The output of n symbols, its samples uninitialised.
  core::Buffer<cf32> symbols(std::size_t n) const;
  // Writes symbol k's sps samples moving from p to q.
  void shape(cf32* out, cf32 p, cf32 q) const;
  // Mixes the whole output onto the carrier, continuing its phase.
  void mix(core::Buffer<cf32>& out);
  void restart_carrier();

 private:
  std::vector<float> ramp_;
  std::size_t sps_;
  float gain_;
  std::optional<dsp::Rotator> carrier_;
};

class Bpsk31Mod : public Psk31ModCore {
 public:
  Bpsk31Mod(float fs, float rf_hz, float gain) : Psk31ModCore(fs, rf_hz, gain, "Bpsk31Mod") {}
  void set_gain(float g) { Psk31ModCore::set_gain(g); }
  // A zero bit reverses the phase, any other value keeps it.
  core::Buffer<cf32> modulate_bits(std::span<const std::uint8_t> bits);
  // Back to level +1 with the carrier at its start.
  void reset();

 private:
  float level_ = 1.0f;
};

class Qpsk31Mod : public Psk31ModCore {
 public:
  Qpsk31Mod(float fs, float rf_hz, float gain) : Psk31ModCore(fs, rf_hz, gain, "Qpsk31Mod") {}
  void set_gain(float g) { Psk31ModCore::set_gain(g); }
  // Each bit is coded into a pair that selects one of four phase rotations.
  core::Buffer<cf32> modulate_bits(std::span<const std::uint8_t> bits);
  // Back to phase 1 + 0j, a cleared encoder and the carrier at its start.
  void reset();

 private:
  cf32 phase_{1.0f, 0.0f};
  std::uint8_t enc_state_ = 0;
};

}  // namespace vatel::modulate::psk31
