#include "demodulate/ssb.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "../dsp/stream_check.hpp"
#include "core/cpu.hpp"
#include "modulate/ssb.hpp"

namespace vatel::demodulate {
namespace {

using test::same_bits;

TEST(SsbProductDemod, MatchesFloat32Reference) {
  // BFO 1500 Hz, audio bandwidth 2800 Hz at 48 kHz; computed independently.
  const test::At<float> expected[] = {
      {0, -0x1.27b332p-11f},
      {1, -0x1.daca34p-9f},
      {2, -0x1.58df4ap-7f},
      {3, -0x1.2daf6cp-6f},
      {4, -0x1.59b0ep-6f},
      {5, -0x1.ae591ep-7f},
      {1021, 0x1.614b46p-2f},
      {1022, 0x1.3009aap-2f},
      {1023, 0x1.033448p-2f},
      {1024, 0x1.ba34a2p-3f},
      {1025, 0x1.7b98fep-3f},
      {2046, -0x1.18194cp-4f},
      {2047, -0x1.f5bb32p-5f},
      {2048, -0x1.463abep-4f},
      {2049, -0x1.f97488p-4f},
      {2099, 0x1.83b234p-2f},
  };
  SsbProductDemod d(48000.0f, 1500.0f, 2800.0f);
  auto y = d.process(test::test_iq(2100));
  for (const auto& e : expected) EXPECT_EQ(y[e.i], e.v) << e.i;
}

TEST(SsbProductDemod, ZeroBfoTakesTheRealPart) {
  const auto z = test::test_iq(2000);
  SsbProductDemod d(48000.0f, 0.0f, 3000.0f);
  dsp::AudioLowpass lp(48000.0f, 3000.0f);
  dsp::DcBlocker dc(48000.0f);
  auto y = d.process(z);
  for (std::size_t i = 0; i < z.size(); ++i) ASSERT_EQ(y[i], dc.next(lp.next(z[i].real()))) << i;
  // A constant input then decays to zero.
  auto c = d.process(std::vector<cf32>(60000, cf32(0.7f, 0.2f)));
  EXPECT_NEAR(c[c.size() - 1], 0.0f, 1e-4f);
}

TEST(SsbProductDemod, RecoversAudioFromEitherSideband) {
  // IF 1500 Hz with an audio corner of 1200 Hz: the 1 kHz tone leaves the
  // modulator as one tone at RF + 500 Hz (usb) or RF - 500 Hz; a BFO at
  // RF + IF or RF - IF brings it back to 1 kHz.
  const double fs = 48000.0;
  std::vector<float> audio(48000);
  for (std::size_t i = 0; i < audio.size(); ++i) audio[i] = static_cast<float>(std::cos(2.0 * M_PI * 1000.0 * i / fs));
  for (bool usb : {true, false}) {
    modulate::SsbPhasingMod mod(48000.0f, 1200.0f / 0.9f, 1500.0f, 10000.0f, usb);
    SsbProductDemod demod(48000.0f, usb ? 11500.0f : 8500.0f, 3000.0f);
    auto y = demod.process(mod.process(audio).span());
    EXPECT_NEAR(test::tone_amplitude(y.span(), 1000.0, fs, 9600), 0.5, 0.02) << usb;
    EXPECT_LT(test::tone_amplitude(y.span(), 2000.0, fs, 9600), 0.01) << usb;
  }
}

TEST(SsbProductDemod, BlockSplit) {
  const auto z = test::test_iq(4500);
  SsbProductDemod whole(48000.0f, 1700.0f, 2400.0f), pieced(48000.0f, 1700.0f, 2400.0f);
  auto y = whole.process(z);
  EXPECT_EQ(pieced.process(std::span<const cf32>{}).size(), 0u);
  auto w = test::in_pieces([&](std::span<const cf32> s) { return pieced.process(s); }, z, {1023, 1, 2, 4000});
  EXPECT_TRUE(same_bits(y, w));
}

TEST(SsbProductDemod, PortableAndFmaKernelsAgree) {
  if (!core::cpu_has_fma()) GTEST_SKIP() << "no FMA on this CPU";
  const auto z = test::test_iq(3000);
  dsp::Rotator ra(1700.0f, 48000.0f), rb = ra;
  dsp::AudioLowpass la(48000.0f, 2400.0f), lb = la;
  dsp::DcBlocker da(48000.0f), db = da;
  std::vector<float> ya(z.size()), yb(z.size());
  ssb_product_demod_kernel_portable(ra, la, da, z.data(), ya.data(), z.size());
  ssb_product_demod_kernel_fma(rb, lb, db, z.data(), yb.data(), z.size());
  EXPECT_TRUE(same_bits(ya, yb));
}

}  // namespace
}  // namespace vatel::demodulate
