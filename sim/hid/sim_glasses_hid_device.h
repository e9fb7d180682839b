#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/dispatch/executor.h"
#include "sim/glasses/sim_glasses.h"
#include "sim/hid/sim_hid_bus.h"

namespace vistrelle::sim {

// Simulated glasses on the simulated HID bus: plugging announces them with
// the model's ids and name and a report descriptor of one 64-byte input and
// one 64-byte output report (IDs 1 and 2, or unnumbered); their input reports
// reach every reader of the node, and what the host writes reaches the
// glasses.
class SimGlassesHidDevice {
 public:
  struct Options {
    // Declare report IDs in the descriptor (input 1, output 2), as the
    // glasses do; false gives unnumbered reports.
    bool reportIds = true;
    std::string version = "0100";  // bcdDevice
    std::string portPath;          // the bus picks one when empty
  };

  SimGlassesHidDevice(std::shared_ptr<SimHidBus> bus, SimGlassesModel model,
                      dispatch::ExecutorPtr executor);
  SimGlassesHidDevice(std::shared_ptr<SimHidBus> bus, SimGlassesModel model,
                      dispatch::ExecutorPtr executor, Options options);
  // Unplugs.
  ~SimGlassesHidDevice();
  SimGlassesHidDevice(const SimGlassesHidDevice&) = delete;
  SimGlassesHidDevice& operator=(const SimGlassesHidDevice&) = delete;

  // Attaches the glasses and announces them on the bus (a new node each time).
  void plug();
  // Hangs up every reader, announces the removal and detaches the glasses.
  void unplug();
  bool plugged() const;
  // The node of the current (or last) plug.
  std::string path() const;

  SimGlasses& glasses() { return *glasses_; }
  const std::shared_ptr<SimGlasses>& glassesPtr() const { return glasses_; }

  // The write-failure knob: from now until unplugged, every write the host
  // makes fails as a write to a stalled endpoint does.
  void failWrites();

  // Writes the node received since it was built (all of them, the ones the
  // glasses refused included).
  size_t writesReceived() const;
  // Waits (bounded) until at least `count` writes were received.
  bool waitForWrites(size_t count, std::chrono::milliseconds limit = std::chrono::seconds(5)) const;

  // The report descriptor these glasses announce.
  static std::vector<uint8_t> reportDescriptor(bool reportIds);

  static constexpr uint8_t kInputReportId = 1;

  // What the glasses' sink and the bus's output handler share with this
  // object; they may outlive it by a task already queued.
  struct Link;

 private:
  const std::shared_ptr<SimHidBus> bus_;
  const Options options_;
  const SimGlassesModel model_;
  const std::shared_ptr<Link> link_;
  std::shared_ptr<SimGlasses> glasses_;
};

}  // namespace vistrelle::sim
