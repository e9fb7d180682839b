// ScreenGrabber: one connection to the display server that lists the
// displays and takes still frames of one of them, on demand.  Pacing (the
// frame rate) belongs to the caller; a grabber is used from one thread.
//
//   auto grabber = XcbScreenGrabber::connect(nullptr, &reason);   // $DISPLAY
//   grabber->open(grabber->mainDisplayId(), /*showCursor=*/true, &reason);
//   std::shared_ptr<CaptureFrame> frame = grabber->grab(&reason);  // BGRA, alpha 255
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/capture/capture_frame.h"

namespace vistrelle::capture {

struct DisplayInfo {
  uint32_t id = 0;
  std::string name;
  int x = 0;
  int y = 0;
  int width = 0;
  int height = 0;
  bool primary = false;
};

class ScreenGrabber {
 public:
  virtual ~ScreenGrabber() = default;

  // The displays that can be captured.
  virtual std::vector<DisplayInfo> displays() = 0;
  // The main display: the primary monitor, else the first one.
  virtual uint32_t mainDisplayId() = 0;

  // Prepares grabbing of one display; false with the reason when the id is
  // unknown or the display cannot be read.
  virtual bool open(uint32_t displayId, bool showCursor, std::string* reason) = 0;
  // One frame of the opened display, from the grabber's pool; null with the
  // reason when nothing is open, the pool is exhausted or the server failed.
  virtual std::shared_ptr<CaptureFrame> grab(std::string* reason) = 0;
  // True once the connection to the server is lost; no frame comes again.
  virtual bool broken() const = 0;
};

}  // namespace vistrelle::capture
