#pragma once

#include <atomic>
#include <cstdint>
#include <deque>
#include <mutex>
#include <string>
#include <thread>
#include <unordered_map>
#include <vector>

#include "platform/dispatch/deadline_queue.h"
#include "platform/dispatch/event_loop_link.h"
#include "platform/dispatch/io_source.h"
#include "platform/dispatch/main_queue.h"
#include "platform/dispatch/unique_fd.h"

namespace vistrelle::dispatch {

// An epoll loop with an eventfd for posted work and a timerfd for deadlines on
// CLOCK_MONOTONIC.  It is the headless main queue, and the reactor runs one on
// a thread of its own to watch descriptors for every queue.
class EventLoop : public MainQueue {
 public:

  explicit EventLoop(std::string label = "main");
  ~EventLoop() override;
  EventLoop(const EventLoop&) = delete;
  EventLoop& operator=(const EventLoop&) = delete;

  void post(Task task) override;
  DelayedTask postAt(TimePoint deadline, Task task) override;
  TimePoint now() const override;
  // True on the thread inside run(), and only while it is there.
  bool isCurrent() const override;
  const std::string& label() const override { return label_; }

  int run() override;
  void quit(int status = 0) override;

  // A readiness source on `fd` whose handlers run on `queue`.  At most one
  // source of each kind per descriptor.
  IoSourcePtr makeSource(int fd, IoKind kind, ExecutorPtr queue);

 private:
  friend class IoSource;

  struct FdEntry {
    int fd = -1;
    uint32_t generation = 0;
    bool inUse = false;
    std::weak_ptr<IoSource> reader;
    std::weak_ptr<IoSource> writer;
  };

  void wake();
  void armTimerFd(TimePoint deadline);
  void runDueTimers();
  void runPostedTasks();
  void dispatchEvent(uint64_t token, uint32_t events);
  // Re-registers the descriptor with the union of its armed sources.
  void updateInterest(uint32_t slot, uint32_t generation);
  void removeSource(uint32_t slot, uint32_t generation, IoKind kind);

  const std::string label_;
  const std::shared_ptr<EventLoopLink> link_;
  UniqueFd epoll_;
  UniqueFd wakeFd_;
  UniqueFd timerFd_;
  std::atomic<std::thread::id> owner_;  // the thread in run(), none otherwise
  std::atomic<bool> quit_{false};
  std::atomic<bool> wakePending_{false};
  int status_ = 0;

  std::mutex taskMutex_;
  std::deque<Task> tasks_;

  std::mutex timerMutex_;
  DeadlineQueue timers_;
  TimePoint armedDeadline_{-1};

  std::mutex sourceMutex_;
  std::vector<FdEntry> entries_;
  std::vector<uint32_t> freeSlots_;
  std::unordered_map<int, uint32_t> slotByFd_;
};

}  // namespace vistrelle::dispatch
