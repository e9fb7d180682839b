#include "platform/dispatch/reactor.h"

#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <future>
#include <mutex>

#include "platform/dispatch/serial_queue.h"
#include "platform/dispatch/thread_pool.h"
#include "platform/dispatch/unique_fd.h"

namespace vistrelle::dispatch {
namespace {

using namespace std::chrono_literals;

struct SocketPair {
  UniqueFd a, b;
  SocketPair() {
    int fds[2];
    EXPECT_EQ(socketpair(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0, fds), 0);
    a.reset(fds[0]);
    b.reset(fds[1]);
  }
};

// Counts handler runs and lets the test wait for a number of them.
struct Counter {
  std::mutex mutex;
  std::condition_variable changed;
  int count = 0;
  void bump() {
    std::lock_guard lock(mutex);
    ++count;
    changed.notify_all();
  }
  bool waitFor(int n, std::chrono::milliseconds limit = 2000ms) {
    std::unique_lock lock(mutex);
    return changed.wait_for(lock, limit, [&] { return count >= n; });
  }
  int value() {
    std::lock_guard lock(mutex);
    return count;
  }
};

class ReactorTest : public ::testing::Test {
 protected:
  Reactor reactor;
  std::shared_ptr<ThreadPool> pool = std::make_shared<ThreadPool>(4);
  SerialQueuePtr queue = SerialQueue::create("socket", pool);
  void TearDown() override {
    reactor.stop();
    pool->stop();
  }
};

TEST_F(ReactorTest, ReadSourceDeliversOnItsQueueWithBytesAvailable) {
  SocketPair pair;
  auto source = reactor.makeReadSource(pair.a.get(), queue);
  std::promise<std::pair<unsigned long, bool>> seen;
  source->setEventHandler([&] {
    char buf[16];
    const auto available = source->data();
    const bool onQueue = queue->isCurrent();
    (void)!read(pair.a.get(), buf, sizeof buf);
    source->suspend();
    // Last: the test's locals go away as soon as the promise is kept.
    seen.set_value({available, onQueue});
  });
  source->resume();
  ASSERT_EQ(write(pair.b.get(), "hello", 5), 5);
  auto [available, onQueue] = seen.get_future().get();
  EXPECT_EQ(available, 5u);
  EXPECT_TRUE(onQueue);
}

TEST_F(ReactorTest, SourceStartsSuspendedAndSuspensionHoldsEvents) {
  SocketPair pair;
  Counter fired;
  auto source = reactor.makeReadSource(pair.a.get(), queue);
  source->setEventHandler([&] {
    char buf[64];
    (void)!read(pair.a.get(), buf, sizeof buf);
    fired.bump();
  });
  ASSERT_EQ(write(pair.b.get(), "x", 1), 1);
  EXPECT_FALSE(fired.waitFor(1, 50ms)) << "a new source must not fire before resume()";
  source->resume();
  EXPECT_TRUE(fired.waitFor(1));

  source->suspend();
  ASSERT_EQ(write(pair.b.get(), "y", 1), 1);
  EXPECT_FALSE(fired.waitFor(2, 50ms)) << "a suspended source must not fire";
  source->resume();
  EXPECT_TRUE(fired.waitFor(2)) << "the held event is seen after resume()";
  source->cancel();
}

TEST_F(ReactorTest, LevelTriggeredUntilDrainedButNeverReentrant) {
  SocketPair pair;
  Counter fired;
  std::atomic<int> inside{0};
  std::atomic<bool> overlapped{false};
  auto source = reactor.makeReadSource(pair.a.get(), pool);  // a concurrent queue
  source->setEventHandler([&] {
    if (inside.fetch_add(1) != 0) overlapped = true;
    char c;
    (void)!read(pair.a.get(), &c, 1);  // one byte per event
    inside.fetch_sub(1);
    fired.bump();
  });
  source->resume();
  ASSERT_EQ(write(pair.b.get(), "abcd", 4), 4);
  EXPECT_TRUE(fired.waitFor(4));
  EXPECT_FALSE(overlapped);
  source->cancel();
}

TEST_F(ReactorTest, ReadAndWriteSourcesShareOneDescriptor) {
  SocketPair pair;
  Counter reads, writes;
  auto reader = reactor.makeReadSource(pair.a.get(), queue);
  auto writer = reactor.makeWriteSource(pair.a.get(), queue);
  reader->setEventHandler([&] {
    char buf[8];
    (void)!read(pair.a.get(), buf, sizeof buf);
    reads.bump();
  });
  writer->setEventHandler([&] {
    writes.bump();
    writer->suspend();  // writable all the time: one event is enough
  });
  reader->resume();
  writer->resume();
  EXPECT_TRUE(writes.waitFor(1));
  ASSERT_EQ(write(pair.b.get(), "r", 1), 1);
  EXPECT_TRUE(reads.waitFor(1));
  EXPECT_THROW(reactor.makeReadSource(pair.a.get(), queue), std::logic_error);
  writer->cancel();
  ASSERT_EQ(write(pair.b.get(), "s", 1), 1);
  EXPECT_TRUE(reads.waitFor(2)) << "cancelling the writer keeps the reader";
  reader->cancel();
}

TEST_F(ReactorTest, CancelHandlerRunsOnceLastAndMayCloseTheDescriptor) {
  auto pair = std::make_unique<SocketPair>();
  std::promise<void> cancelled;
  std::atomic<int> cancels{0};
  std::atomic<bool> eventAfterCancel{false};
  std::atomic<bool> cancelSeen{false};
  auto source = reactor.makeReadSource(pair->a.get(), queue);
  source->setEventHandler([&] {
    if (cancelSeen) eventAfterCancel = true;
  });
  source->setCancelHandler([&] {
    cancelSeen = true;
    cancels++;
    pair->a.reset();
    cancelled.set_value();
  });
  source->resume();
  ASSERT_EQ(write(pair->b.get(), "z", 1), 1);
  source->cancel();
  source->cancel();
  cancelled.get_future().wait();
  queue->sync([] {});
  EXPECT_EQ(cancels.load(), 1);
  EXPECT_FALSE(eventAfterCancel);
  EXPECT_TRUE(source->isCancelled());
}

// On a concurrent queue nothing orders the two handlers: the cancel handler
// (which closes the descriptor) must still wait for a running event handler.
TEST_F(ReactorTest, CancelHandlerWaitsForTheRunningEventHandlerOnAConcurrentQueue) {
  SocketPair pair;
  std::atomic<bool> inHandler{false};
  std::atomic<bool> overlapped{false};
  Counter entered, cancelled;
  std::promise<void> release;
  auto gate = release.get_future().share();
  auto source = reactor.makeReadSource(pair.a.get(), pool);
  source->setEventHandler([&, gate] {
    inHandler = true;
    entered.bump();
    gate.wait_for(2s);
    char buf[8];
    (void)!read(pair.a.get(), buf, sizeof buf);
    inHandler = false;
  });
  source->setCancelHandler([&] {
    overlapped = inHandler.load();
    cancelled.bump();
  });
  source->resume();
  ASSERT_EQ(write(pair.b.get(), "x", 1), 1);
  ASSERT_TRUE(entered.waitFor(1));
  source->cancel();
  const bool early = cancelled.waitFor(1, 100ms);
  release.set_value();
  EXPECT_TRUE(early || cancelled.waitFor(1));
  EXPECT_FALSE(overlapped) << "the cancel handler ran while the event handler still ran";
}

TEST_F(ReactorTest, ReusedDescriptorNumberGetsNoStaleEvent) {
  Counter oldFired, newFired;
  {
    SocketPair first;
    auto old = reactor.makeReadSource(first.a.get(), queue);
    old->setEventHandler([&] { oldFired.bump(); });
    old->resume();
    ASSERT_EQ(write(first.b.get(), "old", 3), 3);  // readable, maybe already fetched
    old->cancel();
    queue->sync([] {});
  }                   // both ends closed
  SocketPair second;  // very likely reuses the numbers
  auto fresh = reactor.makeReadSource(second.a.get(), queue);
  fresh->setEventHandler([&] {
    char buf[8];
    (void)!read(second.a.get(), buf, sizeof buf);
    newFired.bump();
  });
  fresh->resume();
  EXPECT_FALSE(newFired.waitFor(1, 50ms)) << "no data was written to the new descriptor";
  ASSERT_EQ(write(second.b.get(), "n", 1), 1);
  EXPECT_TRUE(newFired.waitFor(1));
  EXPECT_EQ(newFired.value(), 1);
  fresh->cancel();
}

TEST_F(ReactorTest, HangupWakesTheReader) {
  SocketPair pair;
  std::promise<bool> hup;
  auto source = reactor.makeReadSource(pair.a.get(), queue);
  source->setEventHandler([&] {
    char c;
    if (read(pair.a.get(), &c, 1) == 0) {
      const bool nothingAvailable = source->data() == 0;
      source->cancel();
      // Last: the test's locals go away as soon as the promise is kept.
      hup.set_value(nothingAvailable);
    }
  });
  source->resume();
  pair.b.reset();
  EXPECT_TRUE(hup.get_future().get()) << "end of stream reads as 0 bytes available";
}

TEST(ReactorStop, JoinsWithSourcesAndDeadlinesLeft) {
  auto reactor = std::make_unique<Reactor>();
  std::atomic<bool> ran{false};
  reactor->schedule(reactor->now() + std::chrono::hours(1), [&] { ran = true; });
  reactor->stop();
  reactor->stop();
  reactor.reset();
  EXPECT_FALSE(ran);
}

}  // namespace
}  // namespace vistrelle::dispatch
