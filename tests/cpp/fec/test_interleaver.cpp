#include <gtest/gtest.h>

#include <cstdint>
#include <limits>

#include "fec/bits.hpp"
#include "fec/interleaver.hpp"
#include "test_helpers.hpp"

namespace vatel::fec {
namespace {

using Bytes = std::vector<std::uint8_t>;
using interleaver::deinterleave_bits;
using interleaver::deinterleave_soft;
using interleaver::interleave_bits;

TEST(BlockInterleaver, WritesRowsReadsColumns) {
  const Bytes in{10, 11, 12, 13, 14, 15};
  EXPECT_EQ(interleaver::block_interleave<std::uint8_t>(2, 3, in), (Bytes{10, 13, 11, 14, 12, 15}));
  const auto seven = interleave_bits(InterleaverKind::block(2, 3), Bytes{1, 1, 1, 1, 1, 1, 1});
  EXPECT_EQ(seven, (Bytes{1, 1, 1, 1, 1, 1, 1, 0, 0, 0, 0, 0}));
}

TEST(BlockInterleaver, InvertsExactlyAndPassesATailUnchanged) {
  struct Dims { std::uint64_t rows, cols; std::size_t len; };
  for (const Dims d : {Dims{2, 3, 7}, Dims{1, 9, 20}, Dims{8, 8, 64}, Dims{13, 7, 500}}) {
    const auto bits = test::random_bits(d.len, 11);
    const auto kind = InterleaverKind::block(d.rows, d.cols);
    const auto mixed = interleave_bits(kind, bits);
    ASSERT_EQ(mixed.size() % (d.rows * d.cols), 0u);
    auto back = deinterleave_bits(kind, mixed);
    back.resize(d.len);
    EXPECT_EQ(back, bits);
    const auto soft = deinterleave_soft(kind, test::to_soft(mixed));
    EXPECT_EQ(soft, test::to_soft(deinterleave_bits(kind, mixed)));
  }
  // A final incomplete block is passed on unchanged.
  const Bytes odd{1, 2, 3, 4, 5, 6, 7, 8};
  EXPECT_EQ(interleaver::block_deinterleave<std::uint8_t>(2, 3, odd),
            (Bytes{1, 3, 5, 2, 4, 6, 7, 8}));
}

TEST(ConvInterleaver, DvbTDimensionsRoundTrip) {
  const Bytes bits{1, 0, 1, 1, 0, 0, 1, 0, 1, 1};
  const auto kind = InterleaverKind::convolutional(12, 17);
  const auto mixed = interleave_bits(kind, bits);
  EXPECT_EQ(mixed.size(), 8u * (12 + 2244));
  const auto back = deinterleave_bits(kind, mixed);
  ASSERT_EQ(back.size(), 12u * 8);
  auto expected = bits;
  expected.resize(96, 0);
  EXPECT_EQ(back, expected);
  // Soft values travel in groups of eight, as the bytes they were packed into.
  EXPECT_EQ(deinterleave_soft(kind, test::to_soft(mixed)), test::to_soft(expected));
  // An empty input still carries the flush.
  EXPECT_EQ(interleave_bits(kind, Bytes{}).size(), 8u * 2244);
}

TEST(ConvInterleaver, IndexFormMatchesTheBranchQueues) {
  struct Dims { std::uint64_t i, m; };
  for (const Dims d : {Dims{12, 17}, Dims{3, 2}, Dims{1, 5}, Dims{5, 1}}) {
    const auto bits = test::random_bits(8 * 23, 4);
    const auto mixed = interleave_bits(InterleaverKind::convolutional(d.i, d.m), bits);
    // The same through the byte queues, fed in two pieces.
    auto packed = bits::pack_bits_padded(bits);
    packed.resize((packed.size() + d.i - 1) / d.i * d.i, 0);
    packed.resize(packed.size() + d.i * (d.i - 1) * d.m, 0);
    ConvInterleaver ci(d.i, d.m);
    auto first = ci.feed(std::span(packed).first(7));
    const auto rest = ci.feed(std::span(packed).subspan(7));
    first.insert(first.end(), rest.begin(), rest.end());
    EXPECT_EQ(bits::bytes_to_bits(first), mixed);

    ConvDeinterleaver cd(d.i, d.m);
    const auto through = cd.feed(first);
    const std::size_t delay = d.i * (d.i - 1) * d.m;
    const Bytes kept(through.begin() + static_cast<std::ptrdiff_t>(delay), through.end());
    EXPECT_EQ(bits::bytes_to_bits(kept), deinterleave_bits(InterleaverKind::convolutional(d.i, d.m), mixed));
  }
}

TEST(ConvInterleaver, ByteLeavesBranchJAfterJTimesMTimesI) {
  ConvInterleaver ci(3, 2);
  Bytes in(40, 0);
  in[4] = 0xAB;  // branch 1
  const auto out = ci.feed(in);
  for (std::size_t q = 0; q < out.size(); ++q) EXPECT_EQ(out[q], q == 4 + 1 * 2 * 3 ? 0xAB : 0) << q;
}

TEST(ConvInterleaver, ShortStreamsDeinterleaveToNothing) {
  const auto kind = InterleaverKind::convolutional(3, 2);  // delay 12 bytes
  EXPECT_TRUE(deinterleave_bits(kind, Bytes(12 * 8, 1)).empty());
  EXPECT_TRUE(deinterleave_soft(kind, std::vector<float>(12 * 8 + 7, 1.0f)).empty());
  EXPECT_EQ(deinterleave_bits(kind, Bytes(13 * 8 + 5, 1)).size(), 8u);
}

TEST(Interleavers, ZeroDimensionsPanic) {
  const Bytes b(8, 1);
  EXPECT_PANIC_TEXT(interleave_bits(InterleaverKind::block(0, 3), b),
                    "interleaver dimensions must be nonzero");
  EXPECT_PANIC_TEXT(deinterleave_bits(InterleaverKind::block(3, 0), b),
                    "interleaver dimensions must be nonzero");
  EXPECT_PANIC_TEXT(interleave_bits(InterleaverKind::convolutional(0, 3), b),
                    "convolutional interleaver dimensions must be nonzero");
  EXPECT_PANIC_TEXT(deinterleave_soft(InterleaverKind::convolutional(3, 0), std::vector<float>(8)),
                    "convolutional interleaver dimensions must be nonzero");
  EXPECT_PANIC_TEXT(ConvInterleaver(0, 17), "convolutional interleaver dimensions must be nonzero");
  EXPECT_PANIC_TEXT(ConvDeinterleaver(12, 0), "convolutional interleaver dimensions must be nonzero");
}

// Dimensions whose product does not fit in 64 bits stop as a size too large
// to allocate instead of wrapping to a zero block size or a small delay.
TEST(Interleavers, OverflowingDimensionsAreTooLargeToAllocate) {
  const std::uint64_t big = std::uint64_t{1} << 32;
  const Bytes b(8, 1);
  EXPECT_TOO_LARGE(interleave_bits(InterleaverKind::block(big, big), b), "overflows");
  EXPECT_TOO_LARGE(deinterleave_soft(InterleaverKind::block(big, big), std::vector<float>(8)),
                   "overflows");
  EXPECT_TOO_LARGE(interleave_bits(InterleaverKind::convolutional(big, big), b), "overflows");
  EXPECT_TOO_LARGE(deinterleave_bits(InterleaverKind::convolutional(big + 1, big), b), "overflows");
  EXPECT_TOO_LARGE(ConvInterleaver(3, std::numeric_limits<std::uint64_t>::max() / 4), "overflows");
  // 2^63 rows by 2 columns wraps to exactly 0 in 64 bits.
  EXPECT_TOO_LARGE(interleave_bits(InterleaverKind::block(std::uint64_t{1} << 63, 2), b),
                   "overflows");
}

}  // namespace
}  // namespace vatel::fec
