// FakeScreenGrabber: a ScreenGrabber for tests with a programmed display
// list and frames painted by a callback; it counts grabs, can fail its grabs
// with a reason, lose its server, or change the opened display's size.
#pragma once

#include <atomic>
#include <functional>
#include <mutex>

#include "platform/capture/capture_frame_pool.h"
#include "platform/capture/screen_grabber.h"

namespace vistrelle::capture {

class FakeScreenGrabber : public ScreenGrabber {
 public:
  using Paint = std::function<void(CaptureFrame& frame, int index)>;

  explicit FakeScreenGrabber(std::vector<DisplayInfo> displays, size_t poolFrames = 5);

  std::vector<DisplayInfo> displays() override { return displays_; }
  uint32_t mainDisplayId() override;
  bool open(uint32_t displayId, bool showCursor, std::string* reason) override;
  std::shared_ptr<CaptureFrame> grab(std::string* reason) override;
  bool broken() const override { return broken_.load(); }

  void setPaint(Paint paint);
  void setBroken(bool broken) { broken_ = broken; }
  // Every grab fails with this reason (empty: grabs succeed again).
  void setGrabFailure(std::string reason);
  // The opened display's size from the next grab on (a mode change).
  void resizeDisplay(int width, int height);
  int grabs() const { return grabs_.load(); }
  uint32_t openedDisplay() const { return opened_.load(); }

 private:
  std::vector<DisplayInfo> displays_;
  CaptureFramePool pool_;
  std::mutex mutex_;
  Paint paint_;
  std::atomic<uint32_t> opened_{0};
  DisplayInfo display_;
  std::atomic<int> grabs_{0};
  std::atomic<bool> broken_{false};
  std::string failure_;
};

}  // namespace vistrelle::capture
