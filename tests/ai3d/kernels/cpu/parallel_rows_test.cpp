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

namespace vistrelle::ai3d {
namespace {

// Each pass reads up to `halo` rows around its own of the pass before: a row
// of a pass may start only once those are written, and every (pass, row)
// runs once.
TEST(ParallelRowsTest, PassesWaitOnlyForTheRowsTheyRead) {
  ParallelRows rows(4);
  for (const auto& [count, halo] : {std::pair{294, 12}, std::pair{40, 2}, std::pair{1080, 1},
                                    std::pair{9, 8}, std::pair{5, 3}}) {
    constexpr int kPasses = 4;
    std::vector<std::atomic<int>> written(static_cast<size_t>(kPasses * count));
    std::atomic<int> early{0};
    rows.runPasses(kPasses, count, halo, [&](int pass, int begin, int end, unsigned slot) {
      ASSERT_LT(slot, rows.threadCount());
      for (int y = begin; y < end; ++y) {
        if (pass > 0) {
          for (int r = std::max(0, y - halo); r <= std::min(count - 1, y + halo); ++r) {
            if (written[static_cast<size_t>((pass - 1) * count + r)].load() != 1) ++early;
          }
        }
        written[static_cast<size_t>(pass * count + y)].fetch_add(1);
      }
    });
    EXPECT_EQ(early.load(), 0) << count << " rows, halo " << halo;
    for (const auto& w : written) ASSERT_EQ(w.load(), 1);
  }
}

// A worker that wakes late (a busy machine) must not hold a run up, nor
// take part of the next run with the last one's body.
TEST(ParallelRowsTest, ManyShortRunsInARowWithSlowBodies) {
  ParallelRows rows(8);
  std::vector<int> values(64, 0);
  for (int round = 1; round <= 300; ++round) {
    rows.runPasses(2, 64, 4, [&](int pass, int begin, int end, unsigned) {
      for (int i = begin; i < end; ++i) {
        if (pass == 1) values[static_cast<size_t>(i)] += round;
        if ((i & 7) == 0) std::this_thread::yield();
      }
    });
  }
  for (int v : values) ASSERT_EQ(v, 300 * 301 / 2);
}

}  // namespace
}  // namespace vistrelle::ai3d
