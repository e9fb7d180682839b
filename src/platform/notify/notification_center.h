#pragma once

#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "platform/dispatch/executor.h"
#include "platform/value/value.h"

namespace vistrelle {

struct Notification {
  std::string name;
  Value object;
  Value::Map userInfo;
};

using NotificationHandler = std::function<void(const Notification&)>;

class Subscription;

// In-process named notifications.  An observer is called on the queue it asked
// for, or inline on the posting thread when it gave none.  Names are the
// system's own texts, kept verbatim.
class NotificationCenter {
 public:
  NotificationCenter();
  ~NotificationCenter();
  NotificationCenter(const NotificationCenter&) = delete;
  NotificationCenter& operator=(const NotificationCenter&) = delete;

  // The process' default centre, which every subsystem posts to.
  static NotificationCenter& defaultCenter();

  // Observe `name` (an empty name observes every notification).  The
  // subscription ends when the returned object is dropped or cancelled.
  [[nodiscard]] Subscription observe(std::string name, dispatch::ExecutorPtr queue,
                                     NotificationHandler handler);
  void post(std::string name, Value object = {}, Value::Map userInfo = {});

  size_t observerCount() const;
  // Observers a post of `name` would reach (those of every name included), so
  // a poster can skip building an object nobody takes.
  size_t observerCount(std::string_view name) const;

  struct Observer;
  struct State;

 private:
  std::shared_ptr<State> state_;
};

// Ends its observation when dropped.  Safe to drop or cancel from inside the
// handler itself; from another thread, cancel() waits for a delivery already
// running, so the handler never runs after cancel() has returned.
class Subscription {
 public:
  Subscription() = default;
  ~Subscription() { cancel(); }
  Subscription(Subscription&& other) noexcept = default;
  Subscription& operator=(Subscription&& other) noexcept {
    if (this != &other) {
      cancel();
      state_ = std::move(other.state_);
      observer_ = std::move(other.observer_);
    }
    return *this;
  }
  Subscription(const Subscription&) = delete;
  Subscription& operator=(const Subscription&) = delete;

  void cancel();
  bool active() const;

 private:
  friend class NotificationCenter;
  Subscription(std::weak_ptr<NotificationCenter::State> state,
               std::shared_ptr<NotificationCenter::Observer> observer)
      : state_(std::move(state)), observer_(std::move(observer)) {}

  std::weak_ptr<NotificationCenter::State> state_;
  std::shared_ptr<NotificationCenter::Observer> observer_;
};

}  // namespace vistrelle
