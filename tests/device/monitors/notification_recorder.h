#pragma once

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/notify/notification_center.h"

namespace vistrelle::testing {

// Records every notification of a centre, from whichever thread posts it, and
// lets the test wait for a number of them.
class NotificationRecorder {
 public:
  using Probe = std::function<std::string()>;

  explicit NotificationRecorder(NotificationCenter& center, Probe probe = {})
      : probe_(std::move(probe)),
        subscription_(center.observe("", nullptr, [this](const Notification& n) {
          std::string where = probe_ ? probe_() : std::string();
          std::lock_guard lock(mutex_);
          notes_.push_back(n);
          where_.push_back(std::move(where));
          changed_.notify_all();
        })) {}

  // True when at least `count` notifications came within a generous limit.
  bool waitFor(size_t count) {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, std::chrono::seconds(10),
                             [&] { return notes_.size() >= count; });
  }

  std::vector<Notification> notes() const {
    std::lock_guard lock(mutex_);
    return notes_;
  }
  // What the probe said on the posting thread, one entry per notification.
  std::vector<std::string> where() const {
    std::lock_guard lock(mutex_);
    return where_;
  }
  std::vector<std::string> names() const {
    std::lock_guard lock(mutex_);
    std::vector<std::string> names;
    for (const Notification& n : notes_) names.push_back(n.name);
    return names;
  }

 private:
  Probe probe_;
  mutable std::mutex mutex_;
  std::condition_variable changed_;
  std::vector<Notification> notes_;
  std::vector<std::string> where_;
  Subscription subscription_;
};

// Waits, in short steps, until `ready` holds; false after a generous limit.
inline bool eventually(const std::function<bool()>& ready) {
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (!ready()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return true;
}

}  // namespace vistrelle::testing
