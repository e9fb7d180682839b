#include "platform/notify/subscription.h"

#include "platform/notify/notification_observer.h"
#include "platform/notify/notification_registry.h"

namespace vistrelle {

Subscription& Subscription::operator=(Subscription&& other) noexcept {
  if (this != &other) {
    cancel();
    registry_ = std::move(other.registry_);
    observer_ = std::move(other.observer_);
  }
  return *this;
}

void Subscription::cancel() {
  if (!observer_) return;
  if (auto registry = registry_.lock()) registry->remove(observer_.get());
  observer_->deactivate();
  observer_.reset();
  registry_.reset();
}

bool Subscription::active() const {
  return observer_ && observer_->active();
}

}  // namespace vistrelle
