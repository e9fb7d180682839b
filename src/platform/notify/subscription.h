#pragma once

#include <memory>

namespace vistrelle {

class NotificationObserver;
struct NotificationRegistry;

// Ends its observation when dropped.  Safe to drop or cancel from inside the
// handler itself; from another thread, cancel() waits for a delivery already
// running, so the handler never runs after cancel() has returned.
class Subscription {
 public:
  Subscription() = default;
  ~Subscription() { cancel(); }
  Subscription(Subscription&& other) noexcept = default;
  Subscription& operator=(Subscription&& other) noexcept;
  Subscription(const Subscription&) = delete;
  Subscription& operator=(const Subscription&) = delete;

  void cancel();
  bool active() const;

 private:
  friend class NotificationCenter;
  Subscription(std::weak_ptr<NotificationRegistry> registry,
               std::shared_ptr<NotificationObserver> observer)
      : registry_(std::move(registry)), observer_(std::move(observer)) {}

  std::weak_ptr<NotificationRegistry> registry_;
  std::shared_ptr<NotificationObserver> observer_;
};

}  // namespace vistrelle
