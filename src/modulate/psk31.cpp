#include "modulate/psk31.hpp"

#include "codec/psk31.hpp"
#include "codec/varicode.hpp"
#include "core/checked.hpp"
#include "waveform/psk31.hpp"

namespace vatel::modulate::psk31 {

std::vector<std::uint8_t> text_bits(std::span<const std::uint8_t> text, std::size_t preamble_bits,
                                    std::size_t postamble_bits) {
  codec::varicode::VaricodeEncoder enc;
  enc.push_preamble(preamble_bits);
  for (std::uint8_t b : text) enc.push_byte(b);
  enc.push_postamble(postamble_bits);
  return enc.drain_bits();
}

Psk31ModCore::Psk31ModCore(float fs, float rf_hz, float gain, const char* who)
    : sps_(waveform::psk31::checked_sps(fs, who)), gain_(gain) {
  ramp_ = waveform::psk31::make_hann(sps_);
  if (rf_hz != 0.0f) carrier_.emplace(rf_hz, fs);  // NaN counts as set
}

core::Buffer<cf32> Psk31ModCore::symbols(std::size_t n) const {
  return core::Buffer<cf32>(core::checked_mul(n, sps_, "PSK31 output samples"));
}

void Psk31ModCore::shape(cf32* out, cf32 p, cf32 q) const {
  const float dr = q.real() - p.real(), di = q.imag() - p.imag();
  for (std::size_t s = 0; s < sps_; ++s) {
    const float w = ramp_[s];
    out[s] = {(w * dr + p.real()) * gain_, (w * di + p.imag()) * gain_};
  }
}

void Psk31ModCore::mix(core::Buffer<cf32>& out) {
  if (!carrier_ || out.empty()) return;
  dsp::mix_kernel(*carrier_, out.data(), out.data(), out.size(), 1.0f);
}

void Psk31ModCore::restart_carrier() {
  if (carrier_) carrier_->restart();
}

core::Buffer<cf32> Bpsk31Mod::modulate_bits(std::span<const std::uint8_t> bits) {
  core::Buffer<cf32> out = symbols(bits.size());
  const std::size_t n = sps();
  for (std::size_t k = 0; k < bits.size(); ++k) {
    const float p = level_;
    if (bits[k] == 0) level_ = -level_;
    shape(out.data() + k * n, {p, 0.0f}, {level_, 0.0f});
  }
  mix(out);
  return out;
}

void Bpsk31Mod::reset() {
  level_ = 1.0f;
  restart_carrier();
}

core::Buffer<cf32> Qpsk31Mod::modulate_bits(std::span<const std::uint8_t> bits) {
  core::Buffer<cf32> out = symbols(bits.size());
  const std::size_t n = sps();
  for (std::size_t k = 0; k < bits.size(); ++k) {
    const codec::psk31::CodedPair c = codec::psk31::encode_step(enc_state_, bits[k]);
    const cf32 p = phase_;
    const cf32 r = codec::psk31::QPSK31_ROTATIONS[2u * c.c0 + c.c1];
    // The rotations are exact (0 and +-1), so the plain product is exact.
    phase_ = {r.real() * p.real() - r.imag() * p.imag(), r.real() * p.imag() + r.imag() * p.real()};
    shape(out.data() + k * n, p, phase_);
  }
  mix(out);
  return out;
}

void Qpsk31Mod::reset() {
  phase_ = {1.0f, 0.0f};
  enc_state_ = 0;
  restart_carrier();
}

}  // namespace vatel::modulate::psk31
