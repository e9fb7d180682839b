#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

namespace vistrelle::hid {

// One HID device as a report-by-report client (the firmware updater) finds
// it: by vendor and product id, and the USB interface it sits on.
struct HidIoDeviceEntry {
  std::string path;  // what openPath() takes
  uint16_t vendorId = 0;
  uint16_t productId = 0;
  int interfaceNumber = -1;  // -1 when the system does not say
};

// One opened device.  Closed when destroyed.  One thread at a time.
class HidIoHandle {
 public:
  virtual ~HidIoHandle() = default;

  // Blocking reads wait up to their time-out; non-blocking ones return at
  // once.  False when the mode could not be set.
  virtual bool setBlocking(bool blocking) = 0;
  // One input report into `buffer` (without a report ID when the device
  // numbers none), waiting up to `timeoutMs` (-1: for ever).  The bytes
  // read, 0 when nothing came in time, -1 on an error (the device went away).
  virtual int readTimeout(std::span<uint8_t> buffer, int timeoutMs) = 0;
  // One output report whose first byte is its report ID (0 when the device
  // numbers none).  The bytes written as the platform counts them (some
  // leave the ID byte out), -1 on an error.
  virtual int write(std::span<const uint8_t> report) = 0;
};

// Reaches HID devices report by report: hidapi's hidraw back-end on a real
// system, the simulated bus in tests and the simulated run.  Implementations
// are thread-safe.
class HidIoTransport {
 public:
  virtual ~HidIoTransport() = default;

  // Each successful init() is paired with one exit(); the library is shut
  // down only when the last user has let go.  False: it could not start.
  virtual bool init() = 0;
  virtual void exit() = 0;

  // The devices with these ids, in the system's order.
  virtual std::vector<HidIoDeviceEntry> enumerate(uint16_t vendorId, uint16_t productId) = 0;
  // Null when it cannot be opened.
  virtual std::unique_ptr<HidIoHandle> openPath(const std::string& path) = 0;

  // The process' transport, chosen once at start with the HID back-end: the
  // one installed, else hidapi's (created at first use).
  static std::shared_ptr<HidIoTransport> current();
  // Chooses the process' transport; null puts hidapi's back.
  static void install(std::shared_ptr<HidIoTransport> transport);
};

}  // namespace vistrelle::hid
