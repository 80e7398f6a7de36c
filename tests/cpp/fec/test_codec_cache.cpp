#include <gtest/gtest.h>

#include <thread>

#include "fec/codec_cache.hpp"
#include "test_helpers.hpp"

namespace vatel::fec {
namespace {

TEST(CodecCache, BuildsEachCodeOnce) {
  CodecCache cache;
  const auto a = cache.rs(204, 16);
  const auto b = cache.rs(204, 16);
  EXPECT_EQ(a.get(), b.get());
  EXPECT_EQ(cache.rs_entries(), 1u);
  const auto c = cache.rs(204, 8);
  EXPECT_NE(c.get(), a.get());
  EXPECT_EQ(cache.rs_entries(), 2u);
  EXPECT_EQ(c->k(), 196u);

  const auto l1 = cache.ldpc(LdpcCodeId::N512R12);
  const auto l2 = cache.ldpc(LdpcCodeId::N512R12);
  EXPECT_EQ(l1.get(), l2.get());
  EXPECT_EQ(cache.ldpc_entries(), 1u);
  EXPECT_EQ(cache.ldpc(LdpcCodeId::N512R34)->k(), 384u);
  EXPECT_EQ(cache.ldpc_entries(), 2u);

  EXPECT_EQ(cache.bch(8)->n(), 184u);
  EXPECT_EQ(cache.bch(8).get(), cache.bch(8).get());
  EXPECT_EQ(cache.bch_entries(), 1u);
}

TEST(CodecCache, ConcurrentRequestsShareOneCode) {
  CodecCache cache;
  std::vector<const Ldpc*> seen(4);
  std::vector<std::thread> threads;
  for (int i = 0; i < 4; ++i)
    threads.emplace_back([&, i] { seen[i] = cache.ldpc(LdpcCodeId::N576R23).get(); });
  for (auto& t : threads) t.join();
  for (auto* p : seen) EXPECT_EQ(p, seen[0]);
  EXPECT_EQ(cache.ldpc_entries(), 1u);
}

TEST(CodecCache, FailedBuildDisablesOnlyItsSection) {
  CodecCache cache;
  const auto kept = cache.rs(204, 16);
  EXPECT_PANIC_TEXT(cache.rs(300, 16), "valid RS config: BadLength(300, 16)");
  EXPECT_EQ(cache.rs_entries(), 1u);
  EXPECT_PANIC_TEXT(cache.rs(204, 16), "CodecCache: the Reed-Solomon section is unusable after a failed build");
  EXPECT_PANIC_TEXT(cache.rs(10, 2), "CodecCache: the Reed-Solomon section is unusable after a failed build");
  // Codes already handed out and the other sections still work.
  EXPECT_EQ(kept->encode_block(std::vector<std::uint8_t>(188, 0)).size(), 204u);
  EXPECT_EQ(cache.bch(2)->k(), 120u);
  EXPECT_EQ(cache.ldpc(LdpcCodeId::N512R12)->n(), 512u);

  CodecCache other;
  EXPECT_PANIC_TEXT(other.bch(0), "valid BCH t: DesignTooLarge(0)");
  EXPECT_PANIC_TEXT(other.bch(8), "CodecCache: the BCH section is unusable after a failed build");
  EXPECT_EQ(other.rs(204, 16)->n(), 204u);
  CodecCache third;
  EXPECT_PANIC_TEXT(third.bch(20), "valid shortened BCH: BadLength(260)");
  EXPECT_EQ(third.bch_entries(), 0u);
}

}  // namespace
}  // namespace vatel::fec
