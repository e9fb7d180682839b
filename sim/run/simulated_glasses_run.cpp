#include "sim/run/simulated_glasses_run.h"

#include <fstream>
#include <vector>

#include "device/firmware/dfu_firmware_file.h"
#include "device/firmware/dfu_update_driver.h"

namespace vistrelle::sim {

namespace {

// 64 KiB of a pattern that is no run of one byte value, so that a byte lost
// or moved on the way changes the flashed sum.
std::vector<uint8_t> firmwareImage() {
  std::vector<uint8_t> image(64 * 1024);
  for (size_t i = 0; i < image.size(); ++i)
    image[i] = static_cast<uint8_t>((i * 31 + i / 251) & 0xFF);
  return image;
}

}  // namespace

SimulatedGlassesRun::SimulatedGlassesRun(std::shared_ptr<SimHidBus> bus, Options options)
    : bus_(std::move(bus)), options_(std::move(options)) {
  if (!options_.log) options_.log = [](const std::string&) {};
  SimGlassesModel model = SimGlassesModel::secondGeneration();
  model.imuRateHz = options_.imuRateHz;
  model.versionText = options_.oldFirmware ? kOldVersion : kCurrentVersion;
  glasses_ = std::make_unique<SimGlassesHidDevice>(bus_, model, options_.executor);
  if (options_.oldFirmware) {
    bootLoader_ = std::make_unique<SimBootloader>(bus_);
    bootLoader_->takeOverFrom(*glasses_, options_.executor, std::chrono::milliseconds(800));
    bootLoader_->bringUpAfterFlash(glasses_.get(), kCurrentVersion);
  }
}

SimulatedGlassesRun::~SimulatedGlassesRun() {
  plug_.cancel();
  if (bootLoader_) bootLoader_->unplug();
  glasses_->unplug();
}

std::string SimulatedGlassesRun::prepareFirmwareImage(const std::string& folder) {
  const std::vector<uint8_t> image = firmwareImage();
  if (bootLoader_) bootLoader_->expectImage(image);
  const std::vector<uint8_t> file = device::DfuFirmwareFile::build("V1.63", image);
  const std::string path = folder + "/" + device::DfuUpdateDriver::kImageModel1 +
                           device::DfuUpdateDriver::kImageExtension;
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(file.data()), static_cast<std::streamsize>(file.size()));
  out.close();
  return out ? path : std::string();
}

void SimulatedGlassesRun::start() {
  options_.log("模拟眼镜将在 " + std::to_string(options_.plugDelay.count()) + " 毫秒后插入 (" +
               (options_.oldFirmware ? kOldVersion : kCurrentVersion) + ")");
  plug_ = options_.executor->postAfter(options_.plugDelay, [this] {
    options_.log("模拟眼镜已插入");
    glasses_->plug();
  });
}

}  // namespace vistrelle::sim
