#pragma once

namespace vistrelle::device {

// What the flasher reports while it writes an image.  Called on the thread
// that runs the flasher.
class IProgramFlashCallback {
 public:
  // Failure codes of onFail.
  static constexpr int kBadFile = -1;        // bad or unreadable file, or an empty image
  static constexpr int kNotCompleted = -2;   // not synchronised, image incomplete, not started
  static constexpr int kTooLarge = -4;       // the image does not fit the flash
  static constexpr int kPacketRefused = -5;  // an image packet was not accepted

  virtual ~IProgramFlashCallback() = default;
  virtual void onStart() = 0;
  // Whole percents, rising.
  virtual void onProgress(float percent) = 0;
  virtual void onSuccess() = 0;
  virtual void onFail(int code) = 0;
};

}  // namespace vistrelle::device
