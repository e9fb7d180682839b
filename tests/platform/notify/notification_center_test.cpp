#include "platform/notify/notification_center.h"

#include <gtest/gtest.h>

#include <thread>

#include "platform/dispatch/virtual_executor.h"
#include "support/bounded_latch.h"
#include "support/finishes_within.h"

namespace vistrelle {
namespace {

TEST(Value, NumbersAndBooleansReadAlike) {
  struct Row {
    Value value;
    std::optional<bool> asBool;
    std::optional<int64_t> asInt;
    std::optional<double> asDouble;
  };
  const Row rows[] = {
      {Value(1), true, 1, 1.0},
      {Value(0), false, 0, 0.0},
      {Value(true), true, 1, 1.0},
      {Value(false), false, 0, 0.0},
      {Value(0.5), true, 0, 0.5},
      {Value(-2.75), true, -2, -2.75},
      {Value("1"), std::nullopt, std::nullopt, std::nullopt},
      {Value(), std::nullopt, std::nullopt, std::nullopt},
      {Value(std::numeric_limits<double>::quiet_NaN()), true, std::nullopt, std::nullopt},
  };
  for (const auto& row : rows) {
    EXPECT_EQ(row.value.asBool(), row.asBool);
    EXPECT_EQ(row.value.asInt(), row.asInt);
    if (row.asDouble) {
      EXPECT_EQ(row.value.asDouble(), row.asDouble);
    }
  }
  Value map(Value::Map{{"type", 1}, {"value", 0.01}});
  EXPECT_EQ(map["type"].intOr(-1), 1);
  EXPECT_TRUE(map["missing"].isNull());
  EXPECT_TRUE(Value(3)["type"].isNull());
}

TEST(NotificationCenter, DeliversOnTheObserversQueueOrInline) {
  NotificationCenter center;
  auto queue = std::make_shared<dispatch::VirtualExecutor>();
  std::vector<std::string> seen;
  auto onQueue = center.observe(
      "ORVEX_Glass_Display_StatusChange_NSNotificationName", queue, [&](const Notification& n) {
        // Posted as integer 1, read as a Bool by the receivers.
        seen.push_back(n.object.boolOr(false) ? "queued:on" : "queued:off");
      });
  auto inlineObserver = center.observe("HIDDeviceConnected", nullptr, [&](const Notification& n) {
    seen.push_back("inline:" + n.userInfo.at("id").stringOr(""));
  });
  center.post("ORVEX_Glass_Display_StatusChange_NSNotificationName", 1);
  center.post("HIDDeviceConnected", {}, {{"id", "0x14200000"}});
  center.post("unobserved");
  EXPECT_EQ(seen, (std::vector<std::string>{"inline:0x14200000"}));
  queue->runUntilIdle();
  EXPECT_EQ(seen, (std::vector<std::string>{"inline:0x14200000", "queued:on"}));
}

TEST(NotificationCenter, DroppingASubscriptionDuringDeliveryIsSafe) {
  NotificationCenter center;
  int first = 0, second = 0;
  Subscription b;
  Subscription a = center.observe("n", nullptr, [&](const Notification&) {
    ++first;
    a.cancel();  // itself
    b.cancel();  // a neighbour in the same delivery
  });
  b = center.observe("n", nullptr, [&](const Notification&) { ++second; });
  center.post("n");
  center.post("n");
  EXPECT_EQ(first, 1);
  EXPECT_EQ(second, 0);
  EXPECT_EQ(center.observerCount(), 0u);
}

TEST(NotificationCenter, QueuedDeliveryAfterCancelNeverRuns) {
  NotificationCenter center;
  auto queue = std::make_shared<dispatch::VirtualExecutor>();
  int calls = 0;
  auto sub = center.observe("n", queue, [&](const Notification&) { ++calls; });
  center.post("n");
  sub.cancel();
  queue->runUntilIdle();
  EXPECT_EQ(calls, 0);
  EXPECT_FALSE(sub.active());
}

TEST(NotificationCenter, CancelWaitsForADeliveryOnAnotherThread) {
  NotificationCenter center;
  std::atomic<bool> inHandler{false}, handlerDone{false};
  auto sub = std::make_unique<Subscription>(center.observe("n", nullptr, [&](const Notification&) {
    inHandler = true;
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    handlerDone = true;
  }));
  std::thread poster([&] { center.post("n"); });
  while (!inHandler) std::this_thread::yield();
  sub.reset();
  EXPECT_TRUE(handlerDone) << "cancel returned while the handler was still running";
  poster.join();
}

// Two inline observers, each posting to the other from inside its handler,
// on two threads at once: neither may hold anything while its handler runs.
TEST(NotificationCenter, InlineObserversPostingToEachOtherFromTwoThreadsNeverDeadlock) {
  struct Shared {
    NotificationCenter center;
    testing::BoundedLatch bothInside{2};
    std::atomic<int> replies{0};
    Subscription ping, pong;
  };
  auto shared = std::make_shared<Shared>();
  auto answer = [raw = shared.get()](const char* other) {
    return [raw, other](const Notification& n) {
      if (n.object.intOr(0) == 1) {
        raw->replies++;
        return;
      }
      raw->bothInside.arrive();
      raw->bothInside.waitFor(std::chrono::seconds(2));
      raw->center.post(other, 1);
    };
  };
  shared->ping = shared->center.observe("ping", nullptr, answer("pong"));
  shared->pong = shared->center.observe("pong", nullptr, answer("ping"));
  const bool finished = testing::finishesWithin(std::chrono::seconds(5), [shared] {
    std::thread first([shared] { shared->center.post("ping", 0); });
    std::thread second([shared] { shared->center.post("pong", 0); });
    first.join();
    second.join();
  });
  if (!finished) {
    // The deadlocked threads keep `shared`; it must outlive the test.
    new std::shared_ptr<Shared>(shared);
    FAIL() << "the two posting threads deadlocked";
  }
  EXPECT_EQ(shared->replies.load(), 2);
}

TEST(NotificationCenter, ManyThreadsPostWhileObserversComeAndGo) {
  NotificationCenter center;
  std::atomic<int> delivered{0};
  auto steady = center.observe("n", nullptr, [&](const Notification&) { delivered++; });
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&] {
      for (int i = 0; i < 1000; ++i) center.post("n", i);
    });
  }
  threads.emplace_back([&] {
    for (int i = 0; i < 200; ++i) {
      auto transient = center.observe("n", nullptr, [](const Notification&) {});
    }
  });
  for (auto& t : threads) t.join();
  EXPECT_EQ(delivered.load(), 4000);
}

}  // namespace
}  // namespace vistrelle
