#include "demodulate/psk31.hpp"

#include <cmath>

#include "core/panic.hpp"

namespace vatel::demodulate::psk31 {
namespace {

constexpr float kPi = 3.1415927f;

}  // namespace

Psk31DemodCore::Psk31DemodCore(float fs, float rf_hz, float gain, const char* who)
    : sps_(waveform::psk31::checked_sps(fs, who)), gain_(gain) {
  ramp_ = waveform::psk31::make_hann(sps_);
  for (float w : ramp_) energy_ += w * w;
  if (rf_hz != 0.0f) mixer_.emplace(-rf_hz, fs);
}

void Psk31DemodCore::reset() {
  pos_ = 0;
  acc_ = {0.0f, 0.0f};
  prev_ = {1.0f, 0.0f};
  loop_phase_ = 0.0f;
  if (mixer_) mixer_->restart();
}

void Psk31DemodCore::ensure_ramp() const {
  if (ramp_.empty()) core::panic("index out of bounds: the len is 0 but the index is 0");
}

bool Psk31DemodCore::take(cf32 x, float scale, cf32& d) {
  float yr = x.real(), yi = x.imag();
  if (mixer_) {
    const cf32 p = mixer_->next();
    yr = p.real() * x.real() - p.imag() * x.imag();
    yi = p.real() * x.imag() + p.imag() * x.real();
  }
  const float w = ramp_[pos_];
  const float keep = 1.0f - w;
  const float ar = acc_.real() + w * (yr - keep * prev_.real());
  const float ai = acc_.imag() + w * (yi - keep * prev_.imag());
  acc_ = {ar, ai};
  if (++pos_ != sps_) return false;

  const float a_re = ar * scale, a_im = ai * scale;
  float s, c;
  ::sincosf(loop_phase_, &s, &c);
  const float z_re = c * a_re + s * a_im;
  const float z_im = c * a_im - s * a_re;
  d = {z_re * prev_.real() + z_im * prev_.imag(), z_im * prev_.real() - z_re * prev_.imag()};
  prev_ = {z_re, z_im};
  acc_ = {0.0f, 0.0f};
  pos_ = 0;
  return true;
}

void Psk31DemodCore::correct(cf32 d, cf32 decision) {
  const float dr = d.real(), di = d.imag();
  const float mag2 = dr * dr + di * di;
  float e = 0.0f;
  if (mag2 > 1e-6f) e = (di * decision.real() - dr * decision.imag()) / std::sqrt(mag2);
  loop_phase_ += loop_gain_ * e;
  if (loop_phase_ > kPi) loop_phase_ -= 6.2831855f;
  if (loop_phase_ < -kPi) loop_phase_ += 6.2831855f;
}

std::size_t Bpsk31Demod::process(std::span<const cf32> in, std::span<float> out) {
  if (in.empty() || out.empty()) return 0;
  ensure_ramp();
  const float k = scale();
  std::size_t written = 0;
  for (std::size_t i = 0; i < in.size() && written < out.size(); ++i) {
    cf32 d;
    if (!take(in[i], k, d)) continue;
    out[written++] = d.real();
    correct(d, {d.real() >= 0.0f ? 1.0f : -1.0f, 0.0f});
  }
  return written;
}

std::size_t Qpsk31Demod::process(std::span<const cf32> in, std::span<float> out) {
  if (in.empty()) return 0;
  if (out.size() < 2) return 0;
  ensure_ramp();
  const float k = scale();
  std::size_t written = 0;
  for (std::size_t i = 0; i < in.size() && out.size() - written >= 2; ++i) {
    cf32 d;
    if (!take(in[i], k, d)) continue;
    out[written++] = d.real();
    out[written++] = d.imag();
    // The nearest axis point; NaN parts fall to the negative imaginary axis.
    cf32 decision;
    if (std::fabs(d.real()) >= std::fabs(d.imag()))
      decision = {d.real() < 0.0f ? -1.0f : 1.0f, 0.0f};
    else
      decision = {0.0f, d.imag() >= 0.0f ? 1.0f : -1.0f};
    correct(d, decision);
  }
  return written;
}

core::Buffer<std::uint8_t> Bpsk31Decider::process(std::span<const float> soft) const {
  core::Buffer<std::uint8_t> out(soft.size());
  for (std::size_t i = 0; i < soft.size(); ++i) out[i] = soft[i] >= 0.0f ? 1 : 0;
  return out;
}

}  // namespace vatel::demodulate::psk31
