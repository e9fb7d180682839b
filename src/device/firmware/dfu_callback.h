#pragma once

#include "device/firmware/firmware_log.h"
#include "device/firmware/i_program_flash_callback.h"
#include "platform/notify/notification_center.h"

namespace vistrelle::device {

// Turns the flasher's reports into the update notifications: progress capped
// at 95 (the window waits for the glasses to come back for the rest), and a
// failure as status false.  A success is only logged.
class DfuCallback : public IProgramFlashCallback {
 public:
  static constexpr float kMaxProgress = 95;

  DfuCallback(NotificationCenter& center, FirmwareLog log)
      : center_(center), log_(std::move(log)) {}

  void onStart() override;
  void onProgress(float percent) override;
  void onSuccess() override;
  void onFail(int code) override;

 private:
  NotificationCenter& center_;
  const FirmwareLog log_;
};

}  // namespace vistrelle::device
