#pragma once

#include <condition_variable>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "platform/dispatch/executor.h"
#include "platform/notify/notification.h"

namespace vistrelle {

// One observation in a notification centre.  No lock is held while its handler
// runs, so handlers may post, observe and cancel freely, from any thread.
class NotificationObserver {
 public:
  NotificationObserver(std::string name, dispatch::ExecutorPtr queue, NotificationHandler handler);
  NotificationObserver(const NotificationObserver&) = delete;
  NotificationObserver& operator=(const NotificationObserver&) = delete;

  // An empty name observes every notification.
  bool wants(std::string_view name) const { return name_.empty() || name_ == name; }
  // The observer's queue, or none for inline delivery on the posting thread.
  const dispatch::ExecutorPtr& queue() const { return queue_; }

  // Calls the handler unless deactivated.
  void deliver(const Notification& notification);

  // No delivery starts after this returns, and none is still running on
  // another thread.  A delivery running on the calling thread (the handler
  // cancelling its own observation) is not waited for.
  void deactivate();
  bool active() const;

 private:
  const std::string name_;
  const dispatch::ExecutorPtr queue_;
  const NotificationHandler handler_;

  mutable std::mutex mutex_;
  std::condition_variable finished_;
  bool active_ = true;
  std::vector<std::thread::id> delivering_;  // one entry per running delivery
};

}  // namespace vistrelle
