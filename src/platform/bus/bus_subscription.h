#pragma once

#include <functional>

namespace vistrelle::bus {

// A signal subscription, held by its owner: destroying it or cancel()
// unsubscribes.  Cancelling is final: no handler starts afterwards (one
// already running on another thread finishes), so an owner that cancels on
// the subscription's own serial queue sees no handler after it.
class BusSubscription {
 public:
  BusSubscription() = default;
  explicit BusSubscription(std::function<void()> cancel) : cancel_(std::move(cancel)) {}
  ~BusSubscription() { cancel(); }
  BusSubscription(BusSubscription&& other) noexcept : cancel_(std::move(other.cancel_)) {
    other.cancel_ = nullptr;
  }
  BusSubscription& operator=(BusSubscription&& other) noexcept {
    if (this != &other) {
      cancel();
      cancel_ = std::move(other.cancel_);
      other.cancel_ = nullptr;
    }
    return *this;
  }
  BusSubscription(const BusSubscription&) = delete;
  BusSubscription& operator=(const BusSubscription&) = delete;

  void cancel() {
    if (auto cancel = std::move(cancel_)) {
      cancel_ = nullptr;
      cancel();
    }
  }
  // False once cancelled, and for a subscription that was refused.
  bool active() const { return static_cast<bool>(cancel_); }

 private:
  std::function<void()> cancel_;
};

}  // namespace vistrelle::bus
