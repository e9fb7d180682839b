#pragma once

#include <memory>
#include <mutex>
#include <string>

#include "device/firmware/dfu_callback.h"
#include "device/firmware/firmware_log.h"
#include "device/firmware/isp_ld_cmd.h"
#include "platform/hid/hid_io_transport.h"
#include "platform/notify/notification_center.h"

namespace vistrelle::device {

// Runs one firmware update: opens the boot loader, reads the glasses model
// it reports, picks the image carried for that model and flashes it.  The
// flash's outcome reaches the application only through the notifications
// (DfuCallback); the result says only whether the flash could be started.
//
// Blocking: a reply may take 25 s, so it runs on a thread of its own, never
// on a pool worker.  Runs are serialised.  The last run's ISPLdCMD is kept
// until the next one, its port closed.
class DfuUpdateDriver {
 public:
  // Image names ("bin" files in the image folder) per glasses model.
  static constexpr const char* kImageModel1 = "orvex2-evb-v1.63-79-11-00-0d";
  static constexpr const char* kImageOtherModels = "orvex2pro-evb-v1.49-79-11-01-0e";
  static constexpr const char* kImageExtension = ".bin";

  struct Options {
    std::shared_ptr<hid::HidIoTransport> transport;  // default: the process' transport
    NotificationCenter* center = nullptr;            // default: the default centre
    FirmwareLog log;                                 // default: defaultFirmwareLog()
    std::string imageFolder;                         // default: defaultImageFolder()
    int shortTimeoutMs = IspPacket::kShortTimeoutMs;
    int longTimeoutMs = IspPacket::kLongTimeoutMs;
  };

  DfuUpdateDriver();
  explicit DfuUpdateDriver(Options options);
  DfuUpdateDriver(const DfuUpdateDriver&) = delete;
  DfuUpdateDriver& operator=(const DfuUpdateDriver&) = delete;

  // The process' driver.
  static DfuUpdateDriver& shared();
  // The folder the application carries its images in.
  static std::string defaultImageFolder();
  static std::string imageNameForModel(int model);

  // 0 once the image was handed to the flasher, -1 when the boot loader
  // could not be opened or the image is missing or unreadable.
  int runDfuUpdate();
  // The model the boot loader reports, or -1 when it cannot be opened.
  int probeBootloaderModel();

  std::string imagePathForModel(int model) const;
  // The ISPLdCMD of the last run (null before the first, or after a run that
  // could not flash).
  const ISPLdCMD* kept() const { return kept_.get(); }

 private:
  ISPLdCMD::Options commandOptions() const;
  int abandon(const std::string& line);

  Options options_;
  NotificationCenter& center_;
  std::mutex runMutex_;
  std::unique_ptr<ISPLdCMD> kept_;
  std::unique_ptr<DfuCallback> callback_;
};

}  // namespace vistrelle::device
