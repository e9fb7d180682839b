#include "platform/dispatch/runtime.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <future>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "platform/dispatch/event_loop.h"
#include "support/bounded_latch.h"

namespace vistrelle::dispatch {
namespace {

using namespace std::chrono_literals;
using testing::BoundedLatch;

TEST(Runtime, ServesMainGlobalAndSerialQueuesAndJoinsOnStop) {
  auto main = std::make_shared<EventLoop>();
  {
    Runtime runtime(main, Runtime::Options{2});
    EXPECT_TRUE(Runtime::installed());
    EXPECT_EQ(mainQueue(), main);
    auto serial = makeSerialQueue("work");
    EXPECT_EQ(serial->label(), "work");
    globalQueue()->post([&] { serial->post([&] { main->post([&] { main->quit(3); }); }); });
    EXPECT_EQ(main->run(), 3);
  }
  EXPECT_FALSE(Runtime::installed());
}

// Stops run latest first, each once, while the queues still run; a stop
// registered meanwhile runs too; a dropped registration never runs.
TEST(RuntimeStops, RunLatestFirstOnceEachBeforeTheThreadsStop) {
  auto main = std::make_shared<EventLoop>();
  Runtime runtime(main, Runtime::Options{2});
  auto queue = runtime.makeSerialQueue("subsystem");
  std::vector<std::string> order;  // stops run on this thread
  std::optional<StopRegistration> late;
  auto first = runtime.registerStop("hid", [&] { order.push_back("hid"); });
  auto dropped = runtime.registerStop("dropped", [&] { order.push_back("dropped"); });
  auto second = runtime.registerStop("server", [&] {
    // The queues still run while the stops do.
    queue->sync([&] { order.push_back(queue->isCurrent() ? "server" : "server off queue"); });
    late.emplace(runtime.registerStop("late", [&] { order.push_back("late"); }));
  });
  EXPECT_TRUE(dropped.active());
  dropped.reset();
  EXPECT_FALSE(dropped.active());
  runtime.runStops();
  runtime.runStops();
  runtime.stop();
  EXPECT_EQ(order, (std::vector<std::string>{"server", "late", "hid"}));
  EXPECT_FALSE(first.active());
}

// Dropping a registration while its stop runs on another thread waits for it
// to return (what it stops may go with the registration); dropping it from
// inside the stop itself does not wait.
TEST(RuntimeStops, DroppingARegistrationWaitsForItsRunningStop) {
  auto main = std::make_shared<EventLoop>();
  Runtime runtime(main, Runtime::Options{2});
  std::atomic<bool> stopFinished{false};
  BoundedLatch stopEntered(1);
  std::promise<void> release;
  auto gate = release.get_future().share();
  auto slow = std::make_unique<StopRegistration>(runtime.registerStop("slow", [&, gate] {
    stopEntered.arrive();
    gate.wait_for(2s);
    stopFinished = true;
  }));
  std::optional<StopRegistration> self;
  self.emplace(runtime.registerStop("self", [&] { self.reset(); }));
  std::thread stopper([&] { runtime.runStops(); });
  ASSERT_TRUE(stopEntered.waitFor());
  std::thread opener([&] {
    std::this_thread::sleep_for(20ms);
    release.set_value();
  });
  slow.reset();
  EXPECT_TRUE(stopFinished) << "the registration went while its stop still ran";
  opener.join();
  stopper.join();
  EXPECT_FALSE(self.has_value());
}

// A readiness source kept past its runtime (a socket in a static, say): its
// cancel after the stop still runs the owner's clean-up, on the calling
// thread since no queue runs any more, and dropping it after the runtime is
// gone touches nothing that went with it.
TEST(RuntimeLifetime, ReadinessSourcesOutliveTheRuntime) {
  int fds[2];
  ASSERT_EQ(::pipe(fds), 0);
  IoSourcePtr cancelledLate;
  IoSourcePtr droppedLate;
  {
    Runtime runtime(std::make_shared<EventLoop>(), Runtime::Options{2});
    auto queue = runtime.makeSerialQueue("late sources");
    cancelledLate = runtime.reactor().makeReadSource(fds[0], queue);
    droppedLate = runtime.reactor().makeWriteSource(fds[1], queue);
    cancelledLate->setEventHandler([] {});
    droppedLate->setEventHandler([] {});
    cancelledLate->resume();
    droppedLate->resume();
    runtime.stop();
    bool closed = false;
    cancelledLate->setCancelHandler([&] {
      ::close(fds[0]);
      closed = true;
    });
    cancelledLate->cancel();
    EXPECT_TRUE(closed) << "the clean-up runs although the queue has stopped";
  }
  droppedLate.reset();
  cancelledLate.reset();
  ::close(fds[1]);
}

}  // namespace
}  // namespace vistrelle::dispatch
