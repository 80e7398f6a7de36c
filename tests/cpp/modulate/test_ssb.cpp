#include "modulate/ssb.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "../dsp/stream_check.hpp"
#include "core/cpu.hpp"

namespace vatel::modulate {
namespace {

using test::same_bits;

std::vector<float> tone(std::size_t n, double f, double fs) {
  std::vector<float> x(n);
  for (std::size_t i = 0; i < n; ++i) x[i] = static_cast<float>(std::cos(2.0 * M_PI * f * i / fs));
  return x;
}

TEST(SsbPhasingMod, MatchesFloat32Reference) {
  // fs 48 kHz, audio bandwidth 2800 Hz, IF 1500 Hz, RF 10 kHz; computed
  // independently in float32.
  const test::At<cf32> usb[] = {
      {0, {-0x1.07f0dap-15f, -0x1.f75eeap-12f}},
      {1, {0x1.6d6d48p-9f, -0x1.0fe418p-10f}},
      {2, {0x1.540efcp-8f, 0x1.a318a6p-8f}},
      {3, {-0x1.8a36ecp-8f, 0x1.87c4a2p-7f}},
      {4, {-0x1.cffc24p-7f, 0x1.13cd4ep-8f}},
      {5, {-0x1.804e84p-6f, -0x1.e2e8cp-11f}},
      {1021, {0x1.b7c98ap-3f, -0x1.0c7d24p-2f}},
      {1022, {0x1.56f64p-2f, 0x1.0ba7ep-4f}},
      {1023, {0x1.801cep-4f, 0x1.62cea4p-2f}},
      {1024, {-0x1.32f8e2p-2f, 0x1.e0b75ap-3f}},
      {1025, {-0x1.57e9d8p-2f, -0x1.accdbp-3f}},
      {2046, {0x1.913f88p-4f, -0x1.4e80eap-3f}},
      {2047, {0x1.a5c9c6p-3f, 0x1.2b662p-5f}},
      {2048, {0x1.ad51bep-6f, 0x1.ee2644p-3f}},
      {2049, {-0x1.1599dap-2f, 0x1.7655c6p-4f}},
      {2099, {-0x1.1907d8p-2f, 0x1.361318p-2f}},
  };
  const test::At<cf32> lsb[] = {
      {0, {-0x1.be39c6p-13f, -0x1.c46d9ep-12f}},
      {1, {0x1.2c721ep-9f, -0x1.f0fep-10f}},
      {2, {0x1.a31898p-8f, 0x1.540f0ep-8f}},
      {3, {-0x1.e1749ep-8f, 0x1.6e9572p-7f}},
      {4, {-0x1.4cdf34p-7f, -0x1.5f6b26p-7f}},
      {5, {0x1.804e84p-6f, -0x1.e2e4e4p-11f}},
      {1021, {0x1.5679f8p-2f, -0x1.c0f408p-5f}},
      {1022, {0x1.0b601ep-4f, 0x1.56f9bep-2f}},
      {1023, {-0x1.634e3p-2f, 0x1.78ac16p-4f}},
      {1024, {-0x1.232f68p-3f, -0x1.69ac12p-2f}},
      {1025, {0x1.57f518p-2f, -0x1.aca998p-3f}},
      {2046, {0x1.54eb7cp-3f, 0x1.7b0834p-4f}},
      {2047, {-0x1.247966p-4f, 0x1.92a4f2p-3f}},
      {2048, {-0x1.ee20ap-3f, -0x1.aef02cp-6f}},
      {2049, {-0x1.cd186ap-5f, -0x1.1f399cp-2f}},
      {2099, {-0x1.18e688p-2f, -0x1.363148p-2f}},
  };
  const auto x = test::test_audio(2100);
  SsbPhasingMod mu(48000.0f, 2800.0f, 1500.0f, 10000.0f, true);
  SsbPhasingMod ml(48000.0f, 2800.0f, 1500.0f, 10000.0f, false);
  auto yu = mu.process(x);
  auto yl = ml.process(x);
  for (const auto& e : usb) EXPECT_EQ(yu[e.i], e.v) << e.i;
  for (const auto& e : lsb) EXPECT_EQ(yl[e.i], e.v) << e.i;
}

TEST(SsbPhasingMod, SidebandsAreConjugateAtZeroRf) {
  const auto x = test::test_audio(3000);
  SsbPhasingMod mu(48000.0f, 2800.0f, 1500.0f, 0.0f, true);
  SsbPhasingMod ml(48000.0f, 2800.0f, 1500.0f, 0.0f, false);
  auto yu = mu.process(x);
  auto yl = ml.process(x);
  for (std::size_t i = 0; i < x.size(); ++i) ASSERT_EQ(yu[i], std::conj(yl[i])) << i;
}

TEST(SsbPhasingMod, ZeroIfIsLowpassedAudioOnTheCarrier) {
  const auto x = test::test_audio(1500);
  SsbPhasingMod mod(48000.0f, 3000.0f, 0.0f, 5000.0f, true);
  dsp::AudioLowpass lp(48000.0f, 3000.0f);
  dsp::Rotator rf(5000.0f, 48000.0f);
  auto y = mod.process(x);
  for (std::size_t i = 0; i < x.size(); ++i) {
    const float a = lp.next(x[i]);
    const cf32 r = rf.next();
    // Q is +0 here, so the fused form reduces to these products exactly.
    ASSERT_EQ(y[i], cf32(std::fma(a, r.real(), -(0.0f * r.imag())), std::fma(0.0f, r.real(), a * r.imag())))
        << i;
  }
}

TEST(SsbPhasingMod, OneSidebandOnly) {
  // A 1 kHz tone, IF 1500 Hz, audio corner 1200 Hz: the image at IF + 1 kHz
  // is filtered out and a single tone remains, at RF + 500 Hz for usb and
  // at RF - 500 Hz for the other sign.
  const double fs = 48000.0, rf = 10000.0;
  const auto x = tone(48000, 1000.0, fs);
  for (bool usb : {true, false}) {
    SsbPhasingMod mod(48000.0f, 1200.0f / 0.9f, 1500.0f, 10000.0f, usb);
    auto y = mod.process(x);
    const double wanted = usb ? rf + 500.0 : rf - 500.0, image = usb ? rf + 2500.0 : rf - 2500.0;
    const double a_wanted = test::phasor_amplitude(y.span(), wanted, fs, 4800);
    const double a_mirror = test::phasor_amplitude(y.span(), 2.0 * rf - wanted, fs, 4800);
    const double a_image = test::phasor_amplitude(y.span(), image, fs, 4800);
    EXPECT_NEAR(a_wanted, 0.5, 0.02) << usb;
    EXPECT_LT(a_mirror, 1e-3) << usb;
    EXPECT_LT(a_image, 0.5 / 15.0) << usb;
  }
}

TEST(SsbPhasingMod, BlockSplitAndEmptyInput) {
  const auto x = test::test_audio(4200);
  SsbPhasingMod whole(48000.0f, 2800.0f, 1500.0f, 9000.0f, false);
  SsbPhasingMod pieced(48000.0f, 2800.0f, 1500.0f, 9000.0f, false);
  auto y = whole.process(x);
  EXPECT_EQ(pieced.process(std::span<const float>{}).size(), 0u);
  auto z = test::in_pieces([&](std::span<const float> s) { return pieced.process(s); }, x, {1000, 24, 1, 3000});
  EXPECT_TRUE(same_bits(y, z));
}

TEST(SsbPhasingMod, PortableAndFmaKernelsAgree) {
  if (!core::cpu_has_fma()) GTEST_SKIP() << "no FMA on this CPU";
  const auto x = test::test_audio(3000);
  for (float sign : {1.0f, -1.0f}) {
    dsp::Rotator ia(1500.0f, 48000.0f), ra(9000.0f, 48000.0f), ib = ia, rb = ra;
    dsp::AudioLowpass la(48000.0f, 2800.0f), qa = la, lb = la, qb = la;
    std::vector<cf32> ya(x.size()), yb(x.size());
    ssb_phasing_mod_kernel_portable(ia, ra, la, qa, sign, x.data(), ya.data(), x.size());
    ssb_phasing_mod_kernel_fma(ib, rb, lb, qb, sign, x.data(), yb.data(), x.size());
    EXPECT_TRUE(same_bits(ya, yb)) << sign;
  }
}

}  // namespace
}  // namespace vatel::modulate
