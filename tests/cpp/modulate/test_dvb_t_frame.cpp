#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "core/checked.hpp"
#include "modulate/dvb_t_frame.hpp"
#include "modulate/dvb_t_super_frame.hpp"
#include "multicarrier/tx_lowpass.hpp"

using namespace vatel;
using namespace vatel::modulate;
namespace dvb_t = vatel::waveform::dvb_t;

namespace {
dvb_t::DvbTFrameParams params(dvb_t::ConstellationOrder c, fec::PunctureRate r) {
  return {dvb_t::DvbTGuard::G1_32, c, r, 0, 0};
}
}  // namespace

TEST(DvbTFrameMod, CellMappingUsesTheDvbTLevelsAtUnitPower) {
  using C = dvb_t::ConstellationOrder;
  // 64-QAM: I from bits 0, 2, 4 and Q from 1, 3, 5; 000 is +7, 111 is -3.
  const std::vector<std::uint8_t> bits = {0, 1, 0, 1, 0, 1,  1, 0, 1, 0, 1, 0};
  cf32 out[2];
  dvb_t_frame::map_cells(bits.data(), 2, C::Qam64, out);
  const float s = static_cast<float>(1.0 / std::sqrt(42.0));
  EXPECT_EQ(out[0], cf32(7.0f * s, -3.0f * s));
  EXPECT_EQ(out[1], cf32(-3.0f * s, 7.0f * s));
  for (C c : {C::Qpsk, C::Qam16, C::Qam64}) {
    const auto levels = dvb_t::dvb_t_axis_levels(c);
    double power = 0;
    for (float a : levels) power += 2.0 * a * a;
    EXPECT_NEAR(power / static_cast<double>(levels.size()), 1.0, 1e-6);
  }
  EXPECT_THROW(dvb_t::dvb_t_axis_levels(C::Qam256), core::Panic);
}

TEST(DvbTFrameMod, FrameFillStopsAtTheFirstPacketThatDoesNotFit) {
  fec::CodecCache cache;
  const auto p = params(dvb_t::ConstellationOrder::Qpsk, fec::PunctureRate::R1_2);
  const dvb_t::DvbTFrameFill fill = dvb_t::dvb_t_frame_fill_with(p, 1, 68, cache);
  EXPECT_EQ(fill.capacity, 68u * 1512u * 2u);
  EXPECT_LE(fill.coded_bits, fill.capacity);
  EXPECT_EQ(fill.coded_bits,
            dvb_t::dvb_t_block_plan(p.code_rate, fill.packets * 188, cache).coded_bits);
  EXPECT_GT(dvb_t::dvb_t_block_plan(p.code_rate, (fill.packets + 1) * 188, cache).coded_bits,
            fill.capacity);
  // Too few symbols for the start count: the start count comes back.
  const dvb_t::DvbTFrameFill small = dvb_t::dvb_t_frame_fill_with(p, 500, 68, cache);
  EXPECT_EQ(small.packets, 500u);
  EXPECT_EQ(small.coded_bits, dvb_t::dvb_t_block_plan(p.code_rate, 500 * 188, cache).coded_bits);
  EXPECT_THROW(dvb_t::dvb_t_frame_fill_with(p, 1, std::uint64_t{1} << 62, cache), core::SizeTooLarge);
}

TEST(DvbTFrameMod, CodedFrameFillsTheCapacityByRepeatingTheStream) {
  const DvbTFrameMod m(params(dvb_t::ConstellationOrder::Qam16, fec::PunctureRate::R2_3));
  const auto coded = m.code({});
  ASSERT_EQ(coded.n_symbols, 68u);
  ASSERT_EQ(coded.bits.size(), 68u * 1512u * 4u);
  fec::CodecCache cache;
  const dvb_t::DvbTFrameFill fill = dvb_t::dvb_t_frame_fill_with(m.params(), 1, 68, cache);
  for (std::size_t i = fill.coded_bits; i < coded.bits.size(); ++i)
    ASSERT_EQ(coded.bits[i], coded.bits[i - fill.coded_bits]);
}

TEST(DvbTFrameMod, BuildersLeaveTheOriginalAlone) {
  const DvbTFrameMod m(params(dvb_t::ConstellationOrder::Qpsk, fec::PunctureRate::R1_2));
  const auto lp = m.with_tx_lowpass(4, 60.0f);
  ASSERT_TRUE(lp.ok());
  EXPECT_FALSE(m.tx_lowpass().has_value());
  EXPECT_EQ(lp.value().tx_lowpass()->num_taps, 4u);
  EXPECT_EQ(multicarrier::tx_lowpass_designed_taps(lp.value().tx_lowpass()->num_taps), 5u);
  EXPECT_FALSE(m.with_tx_lowpass(4098, 60.0f).ok());
  EXPECT_EQ(m.with_symbol_window(7).roll_off(), 7u);
  EXPECT_EQ(m.roll_off(), 0u);
  EXPECT_EQ(dvb_t_super_frame::split_lengths(10), (std::array<std::size_t, 4>{3, 3, 2, 2}));
  const DvbTSuperFrameMod sf({0xABCD, dvb_t::DvbTGuard::G1_4, dvb_t::ConstellationOrder::Qam64,
                              fec::PunctureRate::R7_8});
  for (std::size_t i = 0; i < 4; ++i) {
    const DvbTFrameMod frame = sf.frame_mod(i);
    const auto& p = frame.params();
    EXPECT_EQ(p.frame_number, i);
    EXPECT_EQ(p.cell_id, i % 2 == 0 ? 0xAB : 0xCD);
    EXPECT_EQ(p.guard, dvb_t::DvbTGuard::G1_4);
  }
}
