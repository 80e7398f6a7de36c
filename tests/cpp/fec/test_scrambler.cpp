#include <gtest/gtest.h>

#include "fec/bits.hpp"
#include "fec/scrambler.hpp"
#include "test_helpers.hpp"

namespace vatel::fec {
namespace {

using Bytes = std::vector<std::uint8_t>;

TEST(DvbTEnergyDispersal, SequenceFromTheStandardStart) {
  Bytes zeros(8, 0);
  DvbTEnergyDispersal prbs;
  prbs.feed_in_place(zeros);
  EXPECT_EQ(zeros, (Bytes{0x03, 0xF6, 0x08, 0x34, 0x30, 0xB8, 0xA3, 0x93}));
}

TEST(DvbTEnergyDispersal, RegisterRunsOnAcrossCalls) {
  Bytes whole(40, 0), parts(40, 0);
  DvbTEnergyDispersal a, b;
  a.feed_in_place(whole);
  b.feed_in_place(std::span(parts).first(13));
  b.feed_in_place(std::span(parts).subspan(13));
  EXPECT_EQ(whole, parts);
  // The generator 1 + x^14 + x^15 has period 2^15 - 1 bits.
  DvbTEnergyDispersal d;
  Bytes period(32767, 0);
  d.feed_in_place(period);
  // 32767 bytes = 8 * 32767 bits, a whole number of periods.
  EXPECT_EQ(d.reg, DvbTEnergyDispersal::kInitial);
}

TEST(PnScrambler, KnownSequenceAndInverse) {
  const auto kind = ScramblerKind::lfsr(0x9, 4, LfsrSeed::fixed(1));
  Bytes zeros(4, 0);
  scrambler::scramble_bytes(kind, 0, zeros);
  EXPECT_EQ(zeros, (Bytes{0xF1, 0x9A, 0x78, 0x4D}));

  // A fixed seed of 0 behaves as 1; the per-frame seed is masked the same way.
  Bytes z0(4, 0), zr(4, 0);
  scrambler::scramble_bytes(ScramblerKind::lfsr(0x9, 4, LfsrSeed::fixed(0)), 0, z0);
  scrambler::scramble_bytes(ScramblerKind::lfsr(0x9, 4, LfsrSeed::per_frame_random()), 0x10, zr);
  EXPECT_EQ(z0, zeros);
  EXPECT_EQ(zr, zeros);

  const auto data = test::random_bytes(100, 3);
  for (const auto& k : {ScramblerKind::lfsr(0x80000057u, 32, LfsrSeed::fixed(0xDEADBEEF)),
                        ScramblerKind::lfsr(0x6000, 15, LfsrSeed::per_frame_random()),
                        ScramblerKind::dvb_t_energy_dispersal(), ScramblerKind::none()}) {
    Bytes x = data;
    scrambler::scramble_bytes(k, 77, x);
    if (k.kind != ScramblerKind::Kind::None) {
      EXPECT_NE(x, data);
    }
    scrambler::scramble_bytes(k, 77, x);
    EXPECT_EQ(x, data);
  }
}

TEST(PnScrambler, Panics) {
  Bytes b(2, 0);
  EXPECT_PANIC_TEXT(scrambler::scramble_bytes(ScramblerKind::lfsr(0x9, 33, LfsrSeed::fixed(1)), 0, b),
                    "LFSR width must be in 2..=32");
  EXPECT_PANIC_TEXT(scrambler::scramble_bytes(ScramblerKind::lfsr(0x1, 1, LfsrSeed::fixed(1)), 0, b),
                    "LFSR width must be in 2..=32");
  EXPECT_PANIC_TEXT(scrambler::scramble_bytes(ScramblerKind::lfsr(0x10, 4, LfsrSeed::fixed(1)), 0, b),
                    "LFSR taps must fit in `width` bits");
}

TEST(PnScrambler, BitStreamAndSoftInverse) {
  const auto s = PnScrambler::from_kind(ScramblerKind::lfsr(0x9, 4, LfsrSeed::fixed(1)), 0);
  // 0xF1 = 11110001: coded bit 8q + j takes key bit 8q + 7 - j.
  Bytes bits(13, 0);
  scrambler::scramble_bits(s, bits);
  EXPECT_EQ(bits, (Bytes{1, 1, 1, 1, 0, 0, 0, 1, 1, 0, 0, 1, 1}));

  const auto data = test::random_bits(61, 9);
  Bytes x = data;
  scrambler::scramble_bits(s, x);
  auto soft = test::to_soft(x);
  scrambler::descramble_soft(s, soft);
  EXPECT_EQ(soft, test::to_soft(data));
}

TEST(Bits, PackingMostSignificantFirst) {
  EXPECT_EQ(bits::bytes_to_bits(Bytes{0xA5, 0x01}),
            (Bytes{1, 0, 1, 0, 0, 1, 0, 1, 0, 0, 0, 0, 0, 0, 0, 1}));
  // Only the lowest bit of each input byte counts.
  EXPECT_EQ(bits::bits_to_bytes(Bytes{3, 0, 1, 0, 0, 1, 0, 0xFF}), (Bytes{0xA5}));
  EXPECT_EQ(bits::pack_bits_padded(Bytes(12, 1)), (Bytes{0xFF, 0xF0}));
  EXPECT_PANIC_HAS(bits::bits_to_bytes(Bytes(12, 1)), "bit count must be a whole number of bytes");
  const auto data = test::random_bytes(33, 1);
  EXPECT_EQ(bits::bits_to_bytes(bits::bytes_to_bits(data)), data);
}

}  // namespace
}  // namespace vatel::fec
