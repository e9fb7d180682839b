#pragma once

#include <mutex>
#include <utility>

namespace vistrelle {

// A value read and written whole from any thread: readers get a snapshot
// copy, never a reference into storage that another thread may be replacing.
// For texts and other values that std::atomic cannot hold.
template <typename T>
class LockedValue {
 public:
  LockedValue() = default;
  explicit LockedValue(T initial) : value_(std::move(initial)) {}
  LockedValue(const LockedValue&) = delete;
  LockedValue& operator=(const LockedValue&) = delete;

  T get() const {
    std::lock_guard lock(mutex_);
    return value_;
  }
  void set(T value) {
    std::lock_guard lock(mutex_);
    value_ = std::move(value);
  }
  // Replaces the value and answers the one it held.
  T exchange(T value) {
    std::lock_guard lock(mutex_);
    std::swap(value_, value);
    return value;
  }

 private:
  mutable std::mutex mutex_;
  T value_{};
};

}  // namespace vistrelle
