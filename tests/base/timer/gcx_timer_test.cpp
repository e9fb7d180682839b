#include "base/timer/gcx_timer.h"

#include <gtest/gtest.h>

#include <cmath>
#include <set>

#include "platform/dispatch/virtual_executor.h"

namespace vistrelle {
namespace {

using namespace std::chrono_literals;

class GCXTimerTest : public ::testing::Test {
 protected:
  std::shared_ptr<dispatch::VirtualExecutor> main =
      std::make_shared<dispatch::VirtualExecutor>("main");
  std::shared_ptr<dispatch::VirtualExecutor> global =
      std::make_shared<dispatch::VirtualExecutor>("global");
  GCXTimer timer{main, global};

  // The two queues share no work in these tests, so each runs its own timeline.
  void advance(dispatch::Nanos by) {
    main->advanceBy(by);
    global->advanceBy(by);
  }
};

TEST_F(GCXTimerTest, RefusesWhatCannotBeScheduled) {
  struct Row {
    bool hasTask;
    double start, interval;
    bool repeats;
  };
  const Row rows[] = {
      {false, 1, 1, true},     // no task
      {true, -0.1, 1, false},  // negative start
      {true, 0, 0, true},      // repeating without interval
      {true, 0, -1, true},    {true, std::nan(""), 1, false},
  };
  for (const auto& row : rows) {
    GCXTimer::Task task;
    if (row.hasTask) task = [] {};
    EXPECT_EQ(timer.start(task, row.start, row.interval, row.repeats, false), "");
  }
  EXPECT_EQ(timer.liveCount(), 0u);
  EXPECT_NE(timer.start([] {}, 0, 0, false, false), "") << "a one-shot needs no interval";
  EXPECT_FALSE(timer.startTarget(nullptr, "tick", 0, 1, true, false));
}

TEST_F(GCXTimerTest, StartsAndIntervalsBeyondThirtyDaysAreRefused) {
  const double days30 = 30.0 * 24 * 3600;
  struct Row {
    double start, interval;
    bool repeats;
  };
  const Row refused[] = {
      {1e12, 0, false},    {days30 + 1, 1, true}, {0, days30 + 1, true},   {0, 1e300, true},
      {0, INFINITY, true}, {INFINITY, 1, false},  {0, std::nan(""), true},
  };
  int fired = 0;
  for (const auto& row : refused) {
    SCOPED_TRACE(testing::Message() << row.start << " " << row.interval);
    EXPECT_EQ(timer.start([&] { ++fired; }, row.start, row.interval, row.repeats, false), "");
  }
  advance(1s);
  EXPECT_EQ(fired, 0) << "nothing fires at once";

  // The bound itself is accepted, and a one-shot's interval is never used.
  std::vector<dispatch::TimePoint> fires;
  const auto onFire = [&] { fires.push_back(main->now()); };
  EXPECT_NE(timer.start(onFire, days30, days30, true, false), "");
  EXPECT_NE(timer.start(onFire, 2, 1e300, false, false), "");
  advance(std::chrono::hours(24 * 60));
  const dispatch::TimePoint d30 = std::chrono::hours(24 * 30);
  EXPECT_EQ(fires, (std::vector<dispatch::TimePoint>{1s + 2s, 1s + d30, 1s + 2 * d30}));
}

TEST_F(GCXTimerTest, OneShotFiresOnceOnTheMainQueueAndItsIdGoes) {
  int fired = 0;
  const std::string id = timer.start([&] { ++fired; }, 0.5, 0, false, /*async=*/false);
  EXPECT_TRUE(timer.isLive(id));
  advance(400ms);
  EXPECT_EQ(fired, 0);
  advance(200ms);
  EXPECT_EQ(fired, 1);
  EXPECT_FALSE(timer.isLive(id));
  advance(10s);
  EXPECT_EQ(fired, 1);
  EXPECT_EQ(global->pendingCount(), 0u) << "async false runs on the main queue";
}

TEST_F(GCXTimerTest, RepeatingTaskOnTheGlobalQueueUntilCancelled) {
  std::vector<dispatch::TimePoint> fires;
  std::string seenId;
  const std::string id = timer.startWithId(
      [&](const std::string& identifier) {
        seenId = identifier;
        fires.push_back(global->now());
      },
      1.0, 3.0, true, /*async=*/true);
  advance(7500ms);
  EXPECT_EQ(fires, (std::vector<dispatch::TimePoint>{1s, 4s, 7s}));
  EXPECT_EQ(seenId, id);
  timer.cancel(id);
  advance(30s);
  EXPECT_EQ(fires.size(), 3u);
  EXPECT_FALSE(timer.isLive(id));
}

TEST_F(GCXTimerTest, IdsAreNeverReusedSoStaleIdsCancelNothing) {
  // With ids formed from the live count, the second task would reuse "0" once
  // the first ended, and the stale id below would cancel it.
  const std::string first = timer.start([] {}, 0, 0, false, false);
  advance(1ms);
  EXPECT_FALSE(timer.isLive(first));
  int second = 0;
  const std::string secondId = timer.start([&] { ++second; }, 1, 1, true, false);
  EXPECT_NE(secondId, first);
  timer.cancel(first);  // stale
  advance(3500ms);
  EXPECT_EQ(second, 3);

  std::set<std::string> ids;
  for (int i = 0; i < 100; ++i) ids.insert(timer.start([] {}, 60, 1, true, i % 2));
  EXPECT_EQ(ids.size(), 100u);
  timer.cancel("no-such-id");
  timer.cancel("");
  EXPECT_EQ(timer.liveCount(), 101u);
}

TEST_F(GCXTimerTest, CancellingFromInsideTheTaskAndAfterItsFireWasQueued) {
  int selfCancelled = 0;
  std::string id;
  id = timer.start(
      [&] {
        ++selfCancelled;
        timer.cancel(id);
      },
      0, 0.1, true, false);
  advance(1s);
  EXPECT_EQ(selfCancelled, 1);

  // Both fires are due at 1 s and queued in order; the first cancels the second.
  int late = 0;
  std::string second;
  timer.start([&] { timer.cancel(second); }, 1, 0, false, false);
  second = timer.start([&] { ++late; }, 1, 1, true, false);
  advance(5s);
  EXPECT_EQ(late, 0);
}

TEST_F(GCXTimerTest, TargetAndSelector) {
  struct Target : TimerTarget {
    int ticks = 0;
    bool respondsToSelector(const std::string& selector) const override {
      return selector == "tick";
    }
    void performSelector(const std::string&) override { ++ticks; }
  };
  auto target = std::make_shared<Target>();
  auto id = timer.startTarget(target, "tick", 0, 1, true, false);
  auto ignored = timer.startTarget(target, "unknown", 0, 1, true, false);
  ASSERT_TRUE(id);
  ASSERT_TRUE(ignored);
  advance(2500ms);
  EXPECT_EQ(target->ticks, 3);
}

}  // namespace
}  // namespace vistrelle
