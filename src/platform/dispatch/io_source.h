#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>

#include "platform/dispatch/event_loop_link.h"
#include "platform/dispatch/executor.h"

namespace vistrelle::dispatch {


enum class IoKind { Read, Write };

// A read or write readiness source on one file descriptor, like a dispatch
// source: created suspended, its event handler runs on its queue, never twice
// at once, and level-triggered (it fires again while the condition holds and
// the source is resumed).  After cancel() no event handler starts; the cancel
// handler then runs once on the queue, after an event handler still running
// has returned (on a concurrent queue too), which is where the owner may close
// the descriptor.
class IoSource : public std::enable_shared_from_this<IoSource> {
 public:
  ~IoSource();
  IoSource(const IoSource&) = delete;
  IoSource& operator=(const IoSource&) = delete;

  void setEventHandler(std::function<void()> handler);
  void setCancelHandler(std::function<void()> handler);

  // Suspension is counted: a source starts with a count of 1.
  void resume();
  void suspend();
  void cancel();
  bool isCancelled() const { return cancelled_.load(std::memory_order_acquire); }

  int fd() const { return fd_; }
  IoKind kind() const { return kind_; }

  // While the event handler runs: for a read source the bytes readable now
  // (FIONREAD, asked only when called), for a write source 0.
  unsigned long data() const;
  // While the event handler runs: the poll flags of the event that woke it.
  bool hangup() const { return (events_ & kHangup) != 0; }
  bool error() const { return (events_ & kError) != 0; }

  static constexpr uint32_t kReadable = 1;
  static constexpr uint32_t kWritable = 2;
  static constexpr uint32_t kError = 4;
  static constexpr uint32_t kHangup = 8;

 private:
  friend class EventLoop;
  IoSource(std::shared_ptr<EventLoopLink> link, int fd, IoKind kind, ExecutorPtr queue);
  // Unregisters or re-arms on the loop while it exists; nothing once it is gone.
  void removeFromLoop();
  void updateLoopInterest();

  // Called by the loop (under its lock) when the descriptor is ready.
  void schedule(uint32_t events);
  void deliver();
  void postCancelHandler(std::function<void()> onCancel);

  const std::shared_ptr<EventLoopLink> link_;
  const int fd_;
  const IoKind kind_;
  const ExecutorPtr queue_;

  std::mutex mutex_;
  std::function<void()> eventHandler_;
  std::function<void()> cancelHandler_;
  int suspendCount_ = 1;
  // Registered for readiness with the loop; read by the loop without mutex_.
  std::atomic<bool> armed_{false};
  bool inFlight_ = false;  // a delivery is queued or running
  bool running_ = false;   // the event handler runs now
  std::atomic<bool> cancelled_{false};

  // Written only on the queue, just before the handler runs.
  uint32_t events_ = 0;

  // The loop's registration token: slot and generation, so that a reused
  // descriptor number never receives a stale event.
  uint32_t slot_ = UINT32_MAX;  // none until the loop registers it
  uint32_t generation_ = 0;
};

using IoSourcePtr = std::shared_ptr<IoSource>;

}  // namespace vistrelle::dispatch
