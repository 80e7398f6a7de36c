#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "sync/psk31_sync.hpp"

namespace vatel::sync::psk31_sync {
namespace {

TEST(Psk31Sync, Median) {
  EXPECT_EQ(median_f32({3.0f}), 3.0f);
  EXPECT_EQ(median_f32({5.0f, 1.0f, 3.0f}), 3.0f);
  EXPECT_EQ(median_f32({4.0f, 1.0f, 3.0f, 2.0f}), 2.5f);
  EXPECT_EQ(median_f32({}), 0.0f);
  // NaNs sort last and leave the finite middle alone.
  EXPECT_EQ(median_f32({NAN, 1.0f, 2.0f, 3.0f, 4.0f}), 3.0f);
}

TEST(Psk31Sync, RecordCandidateBoundsItsSoftBits) {
  const std::vector<cf32> iq(100 * 256, cf32{1.0f, 0.0f});
  std::vector<Psk31SyncResult> out;
  record_candidate(out, 40, 10, iq, 1024, 500.0f, 1.5f, 8000.0f);
  ASSERT_EQ(out.size(), 1u);
  EXPECT_EQ(out[0].soft_bits.size(), 60u);
  EXPECT_EQ(out[0].carrier_hz, 812.5f);
  record_candidate(out, 40, 10, iq, 5, 500.0f, 1.5f, 8000.0f);
  EXPECT_EQ(out[1].soft_bits.size(), 5u);
  record_candidate(out, 100, 10, iq, 5, 500.0f, 1.5f, 8000.0f);  // starts at the end
  EXPECT_EQ(out.size(), 2u);
}

}  // namespace
}  // namespace vatel::sync::psk31_sync
