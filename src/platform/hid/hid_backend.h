#pragma once

#include <memory>
#include <string>

#include "platform/hid/hid_connection.h"
#include "platform/hid/hid_device_info.h"
#include "platform/hid/hid_watcher.h"

namespace vistrelle::hid {

struct HidOpenResult {
  std::shared_ptr<HidConnection> connection;  // none when it failed
  int error = 0;                              // the errno; EACCES: no permission on the node
  std::string reason;
};

// Where HID devices come from: the system's hidraw nodes, or a simulated bus.
// Implementations are thread-safe.
class HidBackend {
 public:
  virtual ~HidBackend() = default;

  // A new subscription to arrivals and removals.  Throws HidError.
  virtual std::unique_ptr<HidWatcher> createWatcher() = 0;
  // Opens a node for reading input reports and writing output reports.
  virtual HidOpenResult open(const HidDeviceInfo& device) = 0;

  // The process' back-end, chosen once at start: the one installed, else the
  // hidraw back-end (created at first use).
  static std::shared_ptr<HidBackend> current();
  // Chooses the process' back-end; called by the executable's entry before
  // anything opens a device.  Null puts the hidraw back-end back.
  static void install(std::shared_ptr<HidBackend> backend);
};

}  // namespace vistrelle::hid
