#include "device/hid/orvex_usb_service_oc.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>

#include "base/log/orvex_log.h"
#include "device/protocol/wear_thresholds.h"

namespace vistrelle::device {
namespace {

std::string format(const char* pattern, auto... args) {
  char line[160];
  std::snprintf(line, sizeof line, pattern, args...);
  return line;
}

// The lock result the platform's pixel buffers report: 0 success, and the
// invalid-argument code for a frame that is not there.
constexpr int kLockSuccess = 0;
constexpr int kLockInvalidArgument = -6661;

}  // namespace

OrvexUSBServiceOC::OrvexUSBServiceOC(Options options) : options_(std::move(options)) {
  options_.server.publishesConnection = false;
  if (!options_.log) {
    options_.log = [](std::string_view line) { std::cout << line << std::endl; };
  }
  qxService_ = std::make_unique<OrvexQXServer>(options_.server);
  keyboard_ = options_.keyboard;
}

OrvexUSBServiceOC::~OrvexUSBServiceOC() {
  qxService_->stop();
}

OrvexUSBServiceOC& OrvexUSBServiceOC::shareManager() {
  // Never destroyed: C callers may reach it until the process ends.  Its
  // monitor thread is stopped at exit before the statics it uses go: they
  // were all made before this handler was registered, so they are destroyed
  // after it runs.
  static OrvexUSBServiceOC* shared = [] {
    OrvexLog::shareManager();
    WearThresholds::shared();
    auto* instance = new OrvexUSBServiceOC();
    std::atexit([] { shareManager().qxService().stop(); });
    return instance;
  }();
  return *shared;
}

void OrvexUSBServiceOC::start() {
  qxService_->setMyDeviceChangeBlock([this](const Value::Map& device, bool plugged) {
    DeviceChangeBlock block;
    {
      std::lock_guard lock(mutex_);
      block = devicePlugInOrPullOutBlock_;
    }
    if (block) block(device, plugged);
  });
  qxService_->shareManager();
  options_.log("启动设备");
}

int32_t OrvexUSBServiceOC::open3D(bool open) {
  return open ? qxService_->start_display_3d() : qxService_->stop_display_3d();
}

void OrvexUSBServiceOC::updateAppPositionWithResult(int64_t result) {
  PositionBlock block;
  {
    std::lock_guard lock(mutex_);
    block = updateAppPositionBlock_;
  }
  if (block) block(result);
}

void OrvexUSBServiceOC::printLog(const std::string& text) {
  PrintLogBlock block;
  {
    std::lock_guard lock(mutex_);
    block = printLogOutputBlock_;
  }
  if (block) block(text);
}

std::optional<BufferImage> OrvexUSBServiceOC::bufferToImage(const capture::CaptureFramePtr& frame) {
  options_.log(format("success or error result：%d", frame ? kLockSuccess : kLockInvalidArgument));
  if (!frame) return std::nullopt;
  const auto width = static_cast<size_t>(frame->width());
  const auto height = static_cast<size_t>(frame->height());
  options_.log(format("width：%zu, height：%zu", width, height));
  auto image = std::make_shared<capture::CaptureFrame>(frame->width(), frame->height());
  for (int y = 0; y < frame->height(); ++y) {
    std::memcpy(image->row(y), frame->row(y), width * 4);
  }
  image->setTimestamp(frame->timestamp());
  return BufferImage{std::move(image), frame->width(), frame->height()};
}

std::optional<BufferData> OrvexUSBServiceOC::bufferToData(const capture::CaptureFramePtr& frame) {
  options_.log(format("success or error result：%d", frame ? kLockSuccess : kLockInvalidArgument));
  if (!frame) return std::nullopt;
  options_.log(format("width：%zu, height：%zu", static_cast<size_t>(frame->width()),
                      static_cast<size_t>(frame->height())));
  const size_t bytes = frame->stride() * static_cast<size_t>(frame->height());
  BufferData data;
  data.data.assign(frame->data(), frame->data() + std::min(bytes, frame->byteCount()));
  data.width = frame->width();
  data.height = frame->height();
  return data;
}

bool OrvexUSBServiceOC::canRecordScreen() const {
  return options_.environment ? !session::isWaylandSession(options_.environment)
                              : !session::isWaylandSession();
}

void OrvexUSBServiceOC::showScreenRecordingPrompt() {
  options_.log("showScreenRecordingPrompt: an X11 session needs no screen-recording permission");
}

SyntheticKeyboard& OrvexUSBServiceOC::keyboard() {
  std::lock_guard lock(mutex_);
  if (!keyboard_) keyboard_ = SyntheticKeyboard::system();
  return *keyboard_;
}

void OrvexUSBServiceOC::handleThreeFingerSwipeIsLeft(int64_t direction) {
  static constexpr ArrowKey kArrows[] = {ArrowKey::Up, ArrowKey::Down, ArrowKey::Left,
                                         ArrowKey::Right};
  if (direction < 0 || direction > 3) return;
  if (!keyboard().postControlArrow(kArrows[direction])) {
    options_.log("handleThreeFingerSwipeIsLeft: no X display to post the keys to");
  }
}

void OrvexUSBServiceOC::simulateThreeFingerSwipeUp() {
  options_.log("simulateThreeFingerSwipeUp: X11 has no gesture events to post");
}

void OrvexUSBServiceOC::setDevicePlugInOrPullOutBlock(DeviceChangeBlock block) {
  std::lock_guard lock(mutex_);
  devicePlugInOrPullOutBlock_ = std::move(block);
}

void OrvexUSBServiceOC::setPrintLogOutputBlock(PrintLogBlock block) {
  std::lock_guard lock(mutex_);
  printLogOutputBlock_ = std::move(block);
}

void OrvexUSBServiceOC::setUpdateAppPositionBlock(PositionBlock block) {
  std::lock_guard lock(mutex_);
  updateAppPositionBlock_ = std::move(block);
}

}  // namespace vistrelle::device
