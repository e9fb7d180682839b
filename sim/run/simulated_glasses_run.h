#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <string>

#include "platform/dispatch/executor.h"
#include "sim/firmware/sim_bootloader.h"
#include "sim/hid/sim_glasses_hid_device.h"
#include "sim/hid/sim_hid_bus.h"

namespace vistrelle::sim {

// Glasses for a run without glasses: second-generation glasses plugged into
// the simulated bus a moment after the start.  With old firmware they answer
// a version older than the image the application carries, and their boot
// loader takes over when they are told to enter it: it takes the image that
// prepareFirmwareImage() wrote and, once flashed, brings the glasses back
// with the current version.
class SimulatedGlassesRun {
 public:
  static constexpr const char* kCurrentVersion = "ORVEX2_FW_V1.63";
  static constexpr const char* kOldVersion = "ORVEX2_FW_V1.9";

  struct Options {
    std::chrono::milliseconds plugDelay{3000};
    bool oldFirmware = false;
    // Where the glasses' replies and IMU reports come from (real time).
    dispatch::ExecutorPtr executor;
    // IMU reports per second once their stream is opened.
    double imuRateHz = 100;
    std::function<void(const std::string&)> log;
  };

  SimulatedGlassesRun(std::shared_ptr<SimHidBus> bus, Options options);
  ~SimulatedGlassesRun();
  SimulatedGlassesRun(const SimulatedGlassesRun&) = delete;
  SimulatedGlassesRun& operator=(const SimulatedGlassesRun&) = delete;

  // Writes the image the boot loader expects into `folder`, under the name
  // the firmware updater looks for (the boot loader reports model 1), and
  // returns its path; empty when it could not be written.
  std::string prepareFirmwareImage(const std::string& folder);

  // Plugs the glasses after the delay.
  void start();

  SimGlassesHidDevice& glasses() { return *glasses_; }

 private:
  const std::shared_ptr<SimHidBus> bus_;
  Options options_;
  std::unique_ptr<SimGlassesHidDevice> glasses_;
  std::unique_ptr<SimBootloader> bootLoader_;
  dispatch::DelayedTask plug_;
};

}  // namespace vistrelle::sim
