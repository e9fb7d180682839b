#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <vector>

#include "device/protocol/glass_command_report.h"
#include "platform/dispatch/executor.h"
#include "platform/dispatch/timer_source.h"
#include "sim/glasses/sim_command_record.h"
#include "sim/glasses/sim_glasses_model.h"
#include "sim/glasses/sim_report_fault.h"

namespace vistrelle::sim {

class SimGlasses;

// Called when the glasses receive the boot-loader entry command (9, 0), after
// the glasses have stopped their IMU stream and stopped answering.  The
// firmware-update work swaps in a simulated boot loader here (typically:
// detach these glasses and attach the boot loader's device).
using SimBootLoaderHook = std::function<void(SimGlasses&)>;

// Second-generation raw IMU sample: triple B at 28, triple A at 34, scalar C
// at 40 of the IMU report.
struct SimImuSample {
  std::array<int16_t, 3> tripleB{};
  std::array<int16_t, 3> tripleA{};
  int16_t scalarC = 0;
};

// What the glasses hold after the commands they took.
struct SimGlassesState {
  bool attached = false;
  bool inBootLoader = false;
  bool display3d = false;
  uint16_t displayMode = 1;   // (1, 3): 1 two-dimensional, 4 side-by-side
  uint16_t displayParam = 0;  // (1, 4): 3840 once switched to side-by-side
  uint8_t volume = 0;
  uint8_t immersion = 0;
  uint8_t duty = 0;
  bool wearDetection = false;
  uint16_t wearDetectionThreshold1 = 0;  // as the last (6, x) command sent them
  uint16_t wearDetectionThreshold2 = 0;
  bool imuStreaming = false;
  uint64_t imuReportsSent = 0;
};

// Glasses without hardware: they take command reports (group, command,
// parameters) and produce the input reports real glasses produce, on their
// own executor, so a virtual-time executor makes a 1 kHz stream and delayed
// replies deterministic.  No transport: whoever stands in for the HID device
// passes output reports to receiveOutputReport() and gets the input reports
// through the sink.  Every report handed to the sink is 64 bytes unless a
// fault cuts it short; IMU reports carry 32 in their length field, as the
// real device's do.
//
// Thread-safe: commands may arrive from any thread; the sink, the IMU stream
// and delayed replies run on the executor.
class SimGlasses : public std::enable_shared_from_this<SimGlasses> {
 public:
  using InputReportSink = std::function<void(std::span<const uint8_t>)>;

  static std::shared_ptr<SimGlasses> create(SimGlassesModel model, dispatch::ExecutorPtr executor,
                                            InputReportSink sink);
  ~SimGlasses();
  SimGlasses(const SimGlasses&) = delete;
  SimGlasses& operator=(const SimGlasses&) = delete;

  // Plugging in: first-generation glasses start reporting their orientation.
  // Also leaves the boot loader.
  void attach();
  // Unplugging: every stream stops, reports not yet delivered are lost.
  void detach();

  // One output report, logged unless the glasses are not attached.  0 when
  // the glasses took it (even one they ignore), -1 when they are not attached
  // or it is not a 64-byte report with ID 2.
  int32_t receiveOutputReport(uint8_t reportId, std::span<const uint8_t> report);
  int32_t receiveOutputReport(const device::GlassCommandReport& report) {
    return receiveOutputReport(device::GlassCommandReport::kReportId, report.bytes());
  }

  // Events the glasses raise on their own.
  void raiseImmersionChange(uint8_t level);  // (2, 9), also changes the state
  void raiseCompanionEvent(uint8_t value);   // (15, 4), value at byte 13
  void raiseDisplayStatus(uint16_t value);   // (16, 7)

  void setOrientation(const std::array<float, 4>& quaternion);
  void setImuSample(const SimImuSample& sample);
  // Takes effect at the next start of a stream.  Rates are held within
  // kMinImuRateHz..kMaxImuRateHz; NaN is refused (std::invalid_argument).
  void setImuRate(double hz);
  static constexpr double kMinImuRateHz = 1e-3;
  static constexpr double kMaxImuRateHz = 1e6;
  void setVersionText(std::string bytes);
  void setUserBias(size_t index, const SimBiasEntry& entry);

  // Faults for reports of one (group, command): the reply to that request or
  // that event.  The IMU stream has its own.
  void setReplyFault(uint16_t group, uint16_t command, SimReportFault fault);
  void setImuFault(SimReportFault fault);
  void clearFaults();

  void setBootLoaderHook(SimBootLoaderHook hook);

  SimGlassesModel model() const;
  SimGlassesState state() const;
  std::vector<SimCommandRecord> commandLog() const;
  void clearCommandLog();

 private:
  SimGlasses(SimGlassesModel model, dispatch::ExecutorPtr executor, InputReportSink sink);

  struct Pending {
    std::vector<uint8_t> bytes;
    SimReportFault fault;
    uint64_t attachment = 0;  // the plug-in it belongs to
  };

  // All with mutex_ held.
  std::optional<device::GlassCommandReport> apply(const device::GlassCommandReport& report,
                                                  SimCommandRecord& record, bool& enterBootLoader);
  void startImuLocked();
  void stopImuLocked();
  Pending reply(const device::GlassCommandReport& report) const;
  Pending imuReport() const;

  void deliver(Pending pending);
  void emitImu();
  void raise(uint16_t group, uint16_t command,
             const std::function<void(device::GlassCommandReport&)>& fill);

  const dispatch::ExecutorPtr executor_;
  const InputReportSink sink_;
  mutable std::mutex mutex_;
  SimGlassesModel model_;
  SimGlassesState state_;
  std::array<float, 4> orientation_{0, 0, 0, 1};
  SimImuSample imuSample_;
  std::map<std::pair<uint16_t, uint16_t>, SimReportFault> replyFaults_;
  SimReportFault imuFault_;
  SimBootLoaderHook bootLoaderHook_;
  std::vector<SimCommandRecord> log_;
  dispatch::TimerSourcePtr imuTimer_;
  // Bumped by every detach, so replies queued before it are not delivered.
  uint64_t attachment_ = 0;
};

}  // namespace vistrelle::sim
