#include "device/firmware/dfu_update_driver.h"

#include <sys/stat.h>

#include <cstring>

#include "device/firmware/dfu_notifications.h"

#ifndef VISTRELLE_FIRMWARE_RESOURCE_DIR
#define VISTRELLE_FIRMWARE_RESOURCE_DIR "resources/firmware"
#endif

namespace vistrelle::device {
namespace {

bool isRegularFile(const std::string& path) {
  struct stat info {};
  return ::stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode);
}

}  // namespace

DfuUpdateDriver::DfuUpdateDriver() : DfuUpdateDriver(Options{}) {}

DfuUpdateDriver::DfuUpdateDriver(Options options)
    : options_(std::move(options)),
      center_(options_.center ? *options_.center : NotificationCenter::defaultCenter()) {
  if (!options_.log) options_.log = defaultFirmwareLog();
  if (options_.imageFolder.empty()) options_.imageFolder = defaultImageFolder();
}

DfuUpdateDriver& DfuUpdateDriver::shared() {
  // Never destroyed: an update thread may still run while statics go away.
  static DfuUpdateDriver* driver = new DfuUpdateDriver();
  return *driver;
}

std::string DfuUpdateDriver::defaultImageFolder() {
  return VISTRELLE_FIRMWARE_RESOURCE_DIR;
}

std::string DfuUpdateDriver::imageNameForModel(int model) {
  return model == 1 ? kImageModel1 : kImageOtherModels;
}

std::string DfuUpdateDriver::imagePathForModel(int model) const {
  return options_.imageFolder + "/" + imageNameForModel(model) + kImageExtension;
}

ISPLdCMD::Options DfuUpdateDriver::commandOptions() const {
  ISPLdCMD::Options options;
  options.transport = options_.transport;
  options.log = options_.log;
  options.shortTimeoutMs = options_.shortTimeoutMs;
  options.longTimeoutMs = options_.longTimeoutMs;
  return options;
}

int DfuUpdateDriver::abandon(const std::string& line) {
  options_.log(line);
  // Closing releases the HID layer, which shuts the library down.
  kept_->ClosePort();
  kept_.reset();
  callback_.reset();
  return -1;
}

int DfuUpdateDriver::runDfuUpdate() {
  std::lock_guard lock(runMutex_);
  if (kept_) {
    kept_->ClosePort();
    kept_.reset();
    callback_.reset();
  }
  options_.log("This is dfu test.");

  kept_ = std::make_unique<ISPLdCMD>(commandOptions());
  callback_ = std::make_unique<DfuCallback>(center_, options_.log);
  kept_->SetCallback(callback_.get());

  const bool opened = kept_->OpenPort();
  options_.log(formatText("Open_port ret=%d\n", opened ? 1 : 0));
  if (!opened) return abandon("\n无法打开DFU");

  const int model = kept_->GetBlVersion();
  center_.post(dfu_notifications::kVersionShow, Value(model));
  options_.log(formatText("\nGlassModel = %d\n", model));

  const std::string image = imagePathForModel(model);
  if (!isRegularFile(image)) {
    options_.log("\nDFU升级包不存在");
    return abandon(formatText("\nimage path=%s", image.c_str()));
  }

  DfuFirmwareFile::Version version{};
  const bool read = kept_->UpdateFileInfo(image, version, true);
  // The version field is not NUL-terminated when it is full.
  options_.log(formatText("\n result=%d,out=%.*s", read ? 1 : 0,
                          static_cast<int>(strnlen(version.data(), version.size())),
                          version.data()));
  if (!read) return abandon("\n错误!!!");

  kept_->FlashFile();
  options_.log("\n");
  options_.log("********************end***********************");
  // The device has left the boot loader (or failed); holding its node open
  // until the next run would keep the handle past the library's shutdown.
  kept_->ClosePort();
  return 0;
}

int DfuUpdateDriver::probeBootloaderModel() {
  std::lock_guard lock(runMutex_);
  ISPLdCMD command(commandOptions());
  if (!command.OpenPort()) {
    command.ClosePort();
    return -1;
  }
  const int model = command.GetBlVersion();
  command.ClosePort();
  return model;
}

}  // namespace vistrelle::device
