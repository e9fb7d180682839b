#include "platform/mediakeys/fake/fake_media_key_source.h"

namespace vistrelle::mediakeys {

bool FakeMediaKeySource::start(Handler handler, std::string* error) {
  std::lock_guard lock(mutex_);
  if (!failure_.empty()) {
    if (error) *error = failure_;
    return false;
  }
  if (handler_) {
    if (error) *error = "already running";
    return false;
  }
  handler_ = std::move(handler);
  ++starts_;
  return true;
}

void FakeMediaKeySource::stop() {
  std::lock_guard lock(mutex_);
  handler_ = nullptr;
}

bool FakeMediaKeySource::press(const MediaKeyEvent& event) {
  Handler handler;
  {
    std::lock_guard lock(mutex_);
    handler = handler_;
  }
  if (!handler) return false;
  handler(event);
  return true;
}

int FakeMediaKeySource::startCount() const {
  std::lock_guard lock(mutex_);
  return starts_;
}

bool FakeMediaKeySource::running() const {
  std::lock_guard lock(mutex_);
  return static_cast<bool>(handler_);
}

void FakeMediaKeySource::failStarts(std::string reason) {
  std::lock_guard lock(mutex_);
  failure_ = std::move(reason);
}

}  // namespace vistrelle::mediakeys
