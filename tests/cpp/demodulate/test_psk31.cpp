#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <vector>

#include "core/panic.hpp"
#include "demodulate/psk31.hpp"
#include "modulate/psk31.hpp"
#include "waveform/psk31.hpp"

namespace vatel::demodulate::psk31 {
namespace {

using waveform::psk31::make_hann;
using waveform::psk31::samples_per_symbol;

TEST(Psk31Ramp, SmallLengthsAndEnds) {
  EXPECT_TRUE(make_hann(0).empty());
  EXPECT_EQ(make_hann(1), std::vector<float>{1.0f});
  EXPECT_EQ(make_hann(2), (std::vector<float>{0.0f, 1.0f}));
  const auto w3 = make_hann(3);
  ASSERT_EQ(w3.size(), 3u);
  EXPECT_EQ(w3[0], 0.0f);
  EXPECT_NEAR(w3[1], 0.5f, 1e-7f);
  EXPECT_EQ(w3[2], 1.0f);
  const auto w = make_hann(256);
  for (std::size_t i = 1; i < w.size(); ++i) EXPECT_GE(w[i], w[i - 1]);
}

TEST(Psk31Timing, SamplesPerSymbol) {
  struct Case {
    float fs;
    std::size_t sps;
  };
  const Case cases[] = {{8000.0f, 256},   {48000.0f, 1536}, {44100.0f, 1411}, {11025.0f, 353},
                        {15.625f, 1},     {15.62f, 0},      {-8000.0f, 0},    {NAN, 0},
                        {INFINITY, std::numeric_limits<std::size_t>::max()}};
  for (const Case& c : cases) EXPECT_EQ(samples_per_symbol(c.fs), c.sps) << c.fs;
  EXPECT_THROW(Bpsk31Demod(1e12f, 0.0f, 1.0f), core::Panic);
  EXPECT_THROW(modulate::psk31::Qpsk31Mod(INFINITY, 0.0f, 1.0f), core::Panic);
}

TEST(Psk31Demod, StopsWhenTheOutputIsFull) {
  modulate::psk31::Bpsk31Mod mod(1000.0f, 0.0f, 1.0f);
  const std::vector<std::uint8_t> bits(10, 1);
  const auto iq = mod.modulate_bits(bits);
  Bpsk31Demod demod(1000.0f, 0.0f, 1.0f);
  float out[3];
  EXPECT_EQ(demod.process(iq.span(), std::span<float>(out, 3)), 3u);
  // The samples after the third symbol were not taken: the next call
  // starts on them at a symbol boundary.
  float more[8];
  EXPECT_EQ(demod.process(iq.span().subspan(3 * 32), std::span<float>(more, 8)), 7u);
  Qpsk31Demod q(1000.0f, 0.0f, 1.0f);
  float one[1];
  EXPECT_EQ(q.process(iq.span(), std::span<float>(one, 1)), 0u);
}

}  // namespace
}  // namespace vatel::demodulate::psk31
