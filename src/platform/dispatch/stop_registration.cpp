#include "platform/dispatch/stop_registration.h"

#include <utility>

#include "platform/dispatch/stop_list.h"

namespace vistrelle::dispatch {

StopRegistration::StopRegistration(StopRegistration&& other) noexcept
    : list_(std::move(other.list_)), id_(std::exchange(other.id_, 0)) {}

StopRegistration& StopRegistration::operator=(StopRegistration&& other) noexcept {
  if (this != &other) {
    reset();
    list_ = std::move(other.list_);
    id_ = std::exchange(other.id_, 0);
  }
  return *this;
}

void StopRegistration::reset() {
  if (id_ == 0) return;
  if (auto list = list_.lock()) list->remove(id_);
  list_.reset();
  id_ = 0;
}

bool StopRegistration::active() const {
  if (id_ == 0) return false;
  auto list = list_.lock();
  return list && list->contains(id_);
}

}  // namespace vistrelle::dispatch
