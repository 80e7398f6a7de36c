#include <gtest/gtest.h>

#include <string>

#include "waveform/mcs.hpp"

namespace vatel::waveform::ofdm_frame {
namespace {

using fec::InnerFec;
using fec::LdpcCodeId;
using fec::OuterFec;
using fec::PunctureRate;
using multicarrier::ConstellationOrder;

Mcs added(std::string_view c, std::string_view ik = "none", std::string_view ic = "",
          std::string_view ok = "none", std::uint64_t a = 0, std::uint64_t b = 0) {
  auto r = mcs_from_keywords(c, ik, ic, ok, a, b);
  EXPECT_TRUE(r.ok()) << (r.ok() ? "" : r.error().message);
  return r.ok() ? r.value() : Mcs{};
}

std::string refusal(std::string_view c, std::string_view ik = "none", std::string_view ic = "",
                    std::string_view ok = "none") {
  auto r = mcs_from_keywords(c, ik, ic, ok, 0, 0);
  return r.ok() ? "accepted" : r.error().message;
}

TEST(Mcs, KeywordsAndAliases) {
  EXPECT_EQ(added("qpsk"), (Mcs{OuterFec::none(), InnerFec::none(), ConstellationOrder::Qpsk}));
  EXPECT_EQ(added("qpsk", "ldpc", "n512r12", "rs", 204, 16),
            (Mcs{OuterFec::reed_solomon(204, 16), InnerFec::ldpc(LdpcCodeId::N512R12),
                 ConstellationOrder::Qpsk}));
  EXPECT_EQ(added("qam256", "ldpc", "n576r23", "reed_solomon", 60, 10).outer_fec,
            OuterFec::reed_solomon(60, 10));
  for (const char* k5 : {"conv", "convolutional"})
    EXPECT_EQ(added("bpsk", k5, "5/6").inner_fec, InnerFec::convolutional(false, PunctureRate::R5_6));
  for (const char* k7 : {"conv_k7", "convolutional_k7", "dvb_t"})
    EXPECT_EQ(added("qam16", k7, "2/3").inner_fec, InnerFec::convolutional(true, PunctureRate::R2_3));
  // The inner code text only counts where the kind reads it.
  EXPECT_EQ(added("qam64", "none", "whatever").inner_fec, InnerFec::none());
  // The outer parameters are stored as given, used or not, valid or not.
  const Mcs none = added("bpsk", "none", "", "none", 7, 9);
  EXPECT_EQ(none.outer_fec.a, 7u);
  EXPECT_EQ(none.outer_fec.b, 9u);
  const Mcs bch0 = added("bpsk", "none", "", "bch", 0, 5);
  EXPECT_EQ(bch0.outer_fec.tag, OuterFec::Tag::Bch);
  EXPECT_EQ(bch0.outer_fec.a, 0u);
  EXPECT_EQ(bch0.outer_fec.b, 5u);
}

TEST(Mcs, RefusalsNameTheFirstBadKeyword) {
  EXPECT_EQ(refusal("QPSK"), "McsTable.add: unknown constellation \"QPSK\"");
  EXPECT_EQ(refusal(" qpsk"), "McsTable.add: unknown constellation \" qpsk\"");
  EXPECT_EQ(refusal("qpsk", "ldpc"), "unknown LDPC code \"\"");
  EXPECT_EQ(refusal("qpsk", "ldpc", "N512R12"), "unknown LDPC code \"N512R12\"");
  EXPECT_EQ(refusal("qpsk", "conv", "1/3"), "unknown puncture rate \"1/3\"");
  EXPECT_EQ(refusal("qpsk", "dvb_t", ""), "unknown puncture rate \"\"");
  EXPECT_EQ(refusal("qpsk", "turbo"), "McsTable.add: unknown inner FEC \"turbo\"");
  EXPECT_EQ(refusal("qpsk", "none", "", "BCH"), "McsTable.add: unknown outer FEC \"BCH\"");
  // The constellation is examined before the codes.
  EXPECT_EQ(refusal("qam8", "turbo", "", "golay"), "McsTable.add: unknown constellation \"qam8\"");
  EXPECT_EQ(refusal("qpsk", "turbo", "", "golay"), "McsTable.add: unknown inner FEC \"turbo\"");
}

TEST(Mcs, DefaultLadderEqualsFourAdds) {
  std::vector<Mcs> four;
  for (const char* c : {"bpsk", "qpsk", "qam16", "qam64"})
    four.push_back(added(c, "ldpc", "n512r12", "bch", 8));
  EXPECT_EQ(default_ladder(), four);
  EXPECT_EQ(default_ladder()[2].constellation, ConstellationOrder::Qam16);
}

TEST(Mcs, ParsersMatchExactly) {
  EXPECT_EQ(parse_ldpc("n512r34").value(), LdpcCodeId::N512R34);
  EXPECT_EQ(parse_rate("7/8").value(), PunctureRate::R7_8);
  EXPECT_EQ(parse_rate("1/2 ").error().message, "unknown puncture rate \"1/2 \"");
  EXPECT_EQ(parse_ldpc("n512r12\n").error().message, "unknown LDPC code \"n512r12\\n\"");
}

}  // namespace
}  // namespace vatel::waveform::ofdm_frame
