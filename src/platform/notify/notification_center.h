#pragma once

#include <memory>
#include <string>
#include <string_view>

#include "platform/dispatch/executor.h"
#include "platform/notify/notification.h"
#include "platform/notify/subscription.h"
#include "platform/value/value.h"

namespace vistrelle {

struct NotificationRegistry;

// In-process named notifications.  An observer is called on the queue it asked
// for, or inline on the posting thread when it gave none.  Names are the
// system's own texts, kept verbatim.  Nothing is locked while a handler runs.
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

 private:
  std::shared_ptr<NotificationRegistry> registry_;
};

}  // namespace vistrelle
