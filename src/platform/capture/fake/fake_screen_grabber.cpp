#include "platform/capture/fake/fake_screen_grabber.h"

namespace vistrelle::capture {

FakeScreenGrabber::FakeScreenGrabber(std::vector<DisplayInfo> displays, size_t poolFrames)
    : displays_(std::move(displays)), pool_(poolFrames) {}

uint32_t FakeScreenGrabber::mainDisplayId() {
  for (const DisplayInfo& display : displays_) {
    if (display.primary) return display.id;
  }
  return displays_.empty() ? 0 : displays_.front().id;
}

bool FakeScreenGrabber::open(uint32_t displayId, bool, std::string* reason) {
  for (const DisplayInfo& display : displays_) {
    if (display.id != displayId) continue;
    std::lock_guard lock(mutex_);
    display_ = display;
    opened_ = displayId;
    return true;
  }
  if (reason) *reason = "no display with id " + std::to_string(displayId);
  return false;
}

void FakeScreenGrabber::setPaint(Paint paint) {
  std::lock_guard lock(mutex_);
  paint_ = std::move(paint);
}

void FakeScreenGrabber::setGrabFailure(std::string reason) {
  std::lock_guard lock(mutex_);
  failure_ = std::move(reason);
}

void FakeScreenGrabber::resizeDisplay(int width, int height) {
  std::lock_guard lock(mutex_);
  display_.width = width;
  display_.height = height;
}

std::shared_ptr<CaptureFrame> FakeScreenGrabber::grab(std::string* reason) {
  std::lock_guard lock(mutex_);
  if (broken_ || opened_ == 0) {
    if (reason) *reason = broken_ ? "broken" : "no display is open";
    return nullptr;
  }
  if (!failure_.empty()) {
    ++grabs_;
    if (reason) *reason = failure_;
    return nullptr;
  }
  auto frame = pool_.acquire(display_.width, display_.height);
  if (!frame) {
    if (reason) *reason = "every capture frame is still in use";
    return nullptr;
  }
  const int index = grabs_++;
  if (paint_) paint_(*frame, index);
  return frame;
}

}  // namespace vistrelle::capture
