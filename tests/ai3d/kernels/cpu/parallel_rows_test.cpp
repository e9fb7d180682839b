#include "ai3d/kernels/cpu/parallel_rows.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

namespace vistrelle::ai3d {
namespace {

TEST(ParallelRowsTest, EveryRowExactlyOnceForManySizes) {
  ParallelRows rows(4);
  EXPECT_EQ(rows.threadCount(), 4u);
  for (int count : {0, 1, 7, 8, 9, 33, 294, 1080}) {
    std::vector<std::atomic<int>> seen(static_cast<size_t>(count));
    rows.run(count, [&](int begin, int end) {
      ASSERT_LE(0, begin);
      ASSERT_LE(end, count);
      for (int y = begin; y < end; ++y) seen[static_cast<size_t>(y)].fetch_add(1);
    });
    for (int y = 0; y < count; ++y) ASSERT_EQ(seen[static_cast<size_t>(y)].load(), 1) << y;
  }
}

TEST(ParallelRowsTest, BackToBackRunsAndConcurrentCallersStayCorrect) {
  ParallelRows rows(4);
  std::atomic<long> total{0};
  auto caller = [&] {
    for (int run = 0; run < 200; ++run) {
      rows.run(64, [&](int begin, int end) { total.fetch_add(end - begin); });
    }
  };
  std::thread a(caller), b(caller);
  a.join();
  b.join();
  EXPECT_EQ(total.load(), 2L * 200 * 64);
}

TEST(ParallelRowsTest, WritesOfTheBodyAreVisibleAfterRun) {
  ParallelRows rows(3);
  std::vector<int> values(500, 0);
  for (int round = 1; round <= 20; ++round) {
    rows.run(500, [&](int begin, int end) {
      for (int i = begin; i < end; ++i) values[static_cast<size_t>(i)] += 1;
    });
    for (int v : values) ASSERT_EQ(v, round);
  }
}

}  // namespace
}  // namespace vistrelle::ai3d
