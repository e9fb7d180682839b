#include "platform/capture/capture_frame_pool.h"

#include <gtest/gtest.h>

namespace vistrelle::capture {
namespace {

TEST(CaptureFramePool, ReusesReleasedFramesAndRefusesWhenAllAreHeld) {
  CaptureFramePool pool(2);
  auto first = pool.acquire(8, 4);
  auto second = pool.acquire(8, 4);
  ASSERT_NE(first, nullptr);
  ASSERT_NE(second, nullptr);
  EXPECT_NE(first, second);
  EXPECT_EQ(first->stride(), 32u);
  EXPECT_EQ(pool.acquire(8, 4), nullptr) << "no growth past the capacity";
  EXPECT_EQ(pool.inUse(), 2u);

  const uint8_t* pixels = first->data();
  first.reset();
  auto again = pool.acquire(8, 4);
  ASSERT_NE(again, nullptr);
  EXPECT_EQ(again->data(), pixels) << "the released frame comes back";
}

TEST(CaptureFramePool, SizeChangeRemakesTheFrame) {
  CaptureFramePool pool(1);
  pool.acquire(8, 4).reset();
  auto frame = pool.acquire(16, 2);
  ASSERT_NE(frame, nullptr);
  EXPECT_EQ(frame->width(), 16);
  EXPECT_EQ(frame->height(), 2);
  EXPECT_EQ(frame->byteCount(), 16u * 2 * 4);
}

}  // namespace
}  // namespace vistrelle::capture
