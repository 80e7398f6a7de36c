#pragma once
// Helpers shared by the tests of stateful sample-stream objects: the
// deterministic inputs of the float32 reference tables, running an object
// over a signal cut into pieces, bit-exact comparison and tone measurement.
#include <cmath>
#include <complex>
#include <cstdint>
#include <cstring>
#include <span>
#include <vector>

#include "core/types.hpp"

namespace vatel::test {

// Audio in [-1, 1] and IQ samples, each value exact in float32.
inline std::vector<float> test_audio(std::size_t n) {
  std::vector<float> x(n);
  for (std::size_t i = 0; i < n; ++i)
    x[i] = static_cast<float>(static_cast<std::int64_t>((i * 7919) % 2001) - 1000) / 1000.0f;
  return x;
}

inline std::vector<cf32> test_iq(std::size_t n) {
  std::vector<cf32> z(n);
  for (std::size_t i = 0; i < n; ++i)
    z[i] = {static_cast<float>(static_cast<std::int64_t>((i * 7919) % 2001) - 1000) / 1000.0f,
            static_cast<float>(static_cast<std::int64_t>((i * 104729 + 17) % 1999) - 999) / 1000.0f};
  return z;
}

// Expected output value at an index.
template <class T>
struct At {
  std::size_t i;
  T v;
};

// Feeds x to process() in consecutive pieces whose sizes cycle through
// `sizes`, and concatenates the outputs.
template <class Fn, class In>
auto in_pieces(Fn&& process, const std::vector<In>& x, std::vector<std::size_t> sizes) {
  using Out = std::remove_cvref_t<decltype(*process(std::span<const In>{}).data())>;
  std::vector<Out> out;
  std::size_t at = 0, k = 0;
  while (at < x.size()) {
    const std::size_t len = std::min(sizes[k++ % sizes.size()], x.size() - at);
    auto piece = process(std::span<const In>(x.data() + at, len));
    out.insert(out.end(), piece.begin(), piece.end());
    at += len;
  }
  return out;
}

template <class T>
bool same_bits(std::span<const T> a, std::span<const T> b) {
  return a.size() == b.size() && std::memcmp(a.data(), b.data(), a.size() * sizeof(T)) == 0;
}

template <class A, class B>
bool same_bits(const A& a, const B& b) {
  using T = std::remove_cvref_t<decltype(*a.data())>;
  return same_bits(std::span<const T>(a.data(), a.size()), std::span<const T>(b.data(), b.size()));
}

// Amplitude of the component of frequency f in y[from..], by correlation.
inline double tone_amplitude(std::span<const float> y, double f, double fs, std::size_t from) {
  double c = 0.0, s = 0.0;
  for (std::size_t i = from; i < y.size(); ++i) {
    c += y[i] * std::cos(2.0 * M_PI * f * i / fs);
    s += y[i] * std::sin(2.0 * M_PI * f * i / fs);
  }
  return 2.0 * std::hypot(c, s) / static_cast<double>(y.size() - from);
}

// Magnitude of the complex component e^{j 2 pi f n / fs} in z[from..].
inline double phasor_amplitude(std::span<const cf32> z, double f, double fs, std::size_t from) {
  std::complex<double> acc = 0.0;
  for (std::size_t i = from; i < z.size(); ++i)
    acc += std::complex<double>(z[i]) * std::polar(1.0, -2.0 * M_PI * f * i / fs);
  return std::abs(acc) / static_cast<double>(z.size() - from);
}

}  // namespace vatel::test
