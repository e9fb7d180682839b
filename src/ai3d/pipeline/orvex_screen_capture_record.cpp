#include "ai3d/pipeline/orvex_screen_capture_record.h"

#include <sys/utsname.h>

#include <iostream>
#include <string_view>

#include "base/log/orvex_log.h"
#include "platform/dispatch/runtime.h"
#ifdef VISTRELLE_HAVE_XCB
#include "platform/capture/linux/xcb_screen_grabber.h"
#endif

namespace vistrelle::ai3d {

namespace {

std::unique_ptr<capture::ScreenGrabber> connectX11(std::string* reason) {
#ifdef VISTRELLE_HAVE_XCB
  return capture::XcbScreenGrabber::connect(nullptr, reason);
#else
  *reason = "screen capture was built without X11 support";
  return nullptr;
#endif
}

OrvexScreenCaptureRecord::AudioSettings recordingAudioSettings() {
  return {48000, 2, "aac", 256000};
}

}  // namespace

OrvexScreenCaptureRecord::OrvexScreenCaptureRecord() : OrvexScreenCaptureRecord(Options{}) {}

OrvexScreenCaptureRecord::OrvexScreenCaptureRecord(Options options) : options_(std::move(options)) {
  if (!options_.connect) options_.connect = connectX11;
  if (!options_.videoQueue) options_.videoQueue = dispatch::makeSerialQueue(kVideoQueueLabel);
  if (!options_.log) options_.log = [](const std::string& line) { OrvexLog::logMessage(line); };
  if (!options_.print) {
    options_.print = [](const std::string& line) { std::cout << line << std::endl; };
  }
  videoQueue_ = options_.videoQueue;
}

OrvexScreenCaptureRecord::~OrvexScreenCaptureRecord() {
  stopRecording();
}

OrvexScreenCaptureRecord& OrvexScreenCaptureRecord::shareManager() {
  static OrvexScreenCaptureRecord* record = new OrvexScreenCaptureRecord();
  return *record;
}

void OrvexScreenCaptureRecord::setRecordingBufferCallBack(Callback callback) {
  std::lock_guard lock(mutex_);
  callback_ = callback ? std::make_shared<const Callback>(std::move(callback)) : nullptr;
}

uint32_t OrvexScreenCaptureRecord::mainDisplayID() {
  std::string reason;
  std::unique_ptr<capture::ScreenGrabber> probe = options_.connect(&reason);
  return probe ? probe->mainDisplayId() : 0;
}

void OrvexScreenCaptureRecord::prepRecordWithDisplayID(uint32_t displayId, int tag) {
  tag_ = tag;
  prepare(displayId);
}

void OrvexScreenCaptureRecord::prepare(uint32_t displayId) {
  uint64_t session = 0;
  {
    std::lock_guard lock(mutex_);
    session = ++session_;
    if (stream_) stream_->cancel();
    stream_.reset();
  }
  videoQueue_->post([this, displayId, session] { prepareOnQueue(displayId, session); });
}

void OrvexScreenCaptureRecord::prepareOnQueue(uint32_t displayId, uint64_t session) {
  std::string reason;
  // The first connection only asks whether the display can be read at all.
  if (!options_.connect(&reason)) {
    options_.log("== 啦啦啦啦啦啦啦啦 " + reason);
    return;
  }
  std::unique_ptr<capture::ScreenGrabber> grabber = options_.connect(&reason);
  if (!grabber) {
    const std::string line = "Failed to get the shareable content: " + reason;
    options_.log(line);
    options_.print(line);
    return;
  }
  std::vector<capture::DisplayInfo> content = grabber->displays();
  if (displayId == kMainDisplayID) displayId = grabber->mainDisplayId();
  std::optional<capture::DisplayInfo> found;
  for (const capture::DisplayInfo& display : content) {
    if (display.id == displayId) found = display;
  }
  std::lock_guard lock(mutex_);
  if (session != session_) return;
  availableContent_ = std::move(content);
  audioSettings_ = recordingAudioSettings();
  screen_ = found;
  grabber_ = std::move(grabber);
  if (!screen_) return;
  startCapture(session);
}

// mutex_ held.
void OrvexScreenCaptureRecord::startCapture(uint64_t session) {
  if (!screen_ || !grabber_) return;
  std::string reason;
  if (!grabber_->open(screen_->id, /*showCursor=*/true, &reason)) {
    options_.log("screen capture cannot start: " + reason);
    return;
  }
  failing_ = false;
  frameWidth_ = frameHeight_ = 0;
  stream_ = dispatch::TimerSource::create(videoQueue_);
  stream_->setEventHandler([this, session] { deliverFrame(session); });
  stream_->setTimer(videoQueue_->now(), kMinimumFrameInterval);
  stream_->resume();
}

void OrvexScreenCaptureRecord::deliverFrame(uint64_t session) {
  std::unique_lock lock(mutex_);
  if (session != session_ || !grabber_ || !screen_) return;
  std::string reason;
  std::shared_ptr<capture::CaptureFrame> frame = grabber_->grab(&reason);
  const bool broken = grabber_->broken();
  // One line when capture starts failing, one when it comes back or the
  // display changes size: never one per frame.
  std::string notice;
  if (frame) {
    const std::string size = std::to_string(frame->width()) + "x" + std::to_string(frame->height());
    if (failing_) {
      notice = "screen capture resumed at " + size;
    } else if (frameWidth_ != 0 &&
               (frame->width() != frameWidth_ || frame->height() != frameHeight_)) {
      notice = "screen capture: the display is now " + size;
    }
    failing_ = false;
    frameWidth_ = frame->width();
    frameHeight_ = frame->height();
  } else if (!broken && !failing_) {
    failing_ = true;
    notice = "screen capture failed: " + reason;
  }
  if (!frame || !callback_) {
    lock.unlock();
    if (!notice.empty()) options_.log(notice);
    if (broken) {
      // The server went away: clean up like a stream the system stopped.
      options_.log("screen capture stopped: " + reason);
      dispatch::ExecutorPtr main = options_.mainQueue;
      if (!main) main = dispatch::mainQueue();
      main->post([this, session] {
        if (isCurrentSession(session)) stopRecording();
      });
    }
    return;
  }
  frame->setTimestamp(videoQueue_->now());
  // The callback runs unlocked (it may stop us); stopRecording waits for it
  // through the queue, so it cannot outlive the stop.
  const std::shared_ptr<const Callback> callback = callback_;
  lock.unlock();
  if (!notice.empty()) options_.log(notice);
  (*callback)(frame, tag_.load());
}

void OrvexScreenCaptureRecord::stopRecording() {
  {
    std::lock_guard lock(mutex_);
    ++session_;
    if (stream_) stream_->cancel();
    stream_.reset();
    availableContent_.clear();
  }
  // A frame being delivered right now finishes before we return.
  videoQueue_->sync([this] {
    std::lock_guard lock(mutex_);
    grabber_.reset();
  });
}

void OrvexScreenCaptureRecord::setupAudioSettings() {
  std::lock_guard lock(mutex_);
  audioSettings_ = recordingAudioSettings();
}

std::optional<OrvexScreenCaptureRecord::AudioSettings> OrvexScreenCaptureRecord::audioSettings()
    const {
  std::lock_guard lock(mutex_);
  return audioSettings_;
}

bool OrvexScreenCaptureRecord::getCPUTypeIsARM(
    const std::function<void(const std::string&)>& print) {
  utsname host{};
  const bool arm = uname(&host) == 0 && std::string_view(host.machine) == "aarch64";
  const std::string line = arm ? "ARM===ARM===ARM===ARM" : "X86_64===X86_64===X86_64===X86_64";
  if (print) {
    print(line);
  } else {
    std::cout << line << std::endl;
  }
  return arm;
}

bool OrvexScreenCaptureRecord::isCurrentSession(uint64_t session) const {
  std::lock_guard lock(mutex_);
  return session == session_;
}

bool OrvexScreenCaptureRecord::isRecording() const {
  std::lock_guard lock(mutex_);
  return stream_ != nullptr;
}

std::optional<capture::DisplayInfo> OrvexScreenCaptureRecord::screen() const {
  std::lock_guard lock(mutex_);
  return screen_;
}

std::vector<capture::DisplayInfo> OrvexScreenCaptureRecord::availableContent() const {
  std::lock_guard lock(mutex_);
  return availableContent_;
}

}  // namespace vistrelle::ai3d
