#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <span>
#include <string>
#include <thread>
#include <vector>

#include "platform/dispatch/unique_fd.h"
#include "platform/hid/hid_backend.h"
#include "sim/hid/sim_hid_identity.h"

namespace vistrelle::sim {

// A HID bus without hardware, behind the same interface as the hidraw
// back-end, so the production poll loop runs unchanged on it.
//
// Devices announce their ids, name, version and report descriptor when they
// are plugged.  Each open of a node gets one end of a SOCK_SEQPACKET socket
// pair (one datagram per report, framed as a hidraw node frames them: see
// platform/hid/hid_report_frame.h): every reader gets every input report, a
// write reaches the device's output handler, and unplugging hangs up every
// reader.  A reader that does not keep up loses reports, as hidraw's queue
// does.
//
// Output handlers run on the bus's own thread, never under its lock, so they
// may plug, unplug and send.  Thread-safe.
class SimHidBus : public hid::HidBackend, public std::enable_shared_from_this<SimHidBus> {
 public:
  // One write as the node received it: [report ID or 0x00, report bytes].
  using OutputHandler = std::function<void(std::span<const uint8_t> frame)>;

  static std::shared_ptr<SimHidBus> create();
  // Hangs up every reader and joins the bus thread.
  ~SimHidBus() override;
  SimHidBus(const SimHidBus&) = delete;
  SimHidBus& operator=(const SimHidBus&) = delete;

  // Attaches a device and announces it; returns its node path
  // ("sim-hidraw<N>", never reused).
  std::string plug(SimHidIdentity identity, OutputHandler onOutput);
  // Detaches the device: every reader hangs up, then the removal is announced.
  void unplug(const std::string& path);
  // One input report, as the node delivers it (the ID byte first when the
  // descriptor declares IDs), to every reader.  False when nothing is plugged
  // at `path`.
  bool sendInput(const std::string& path, std::span<const uint8_t> raw);
  // From now until it is unplugged, every write to the node fails (EPIPE), as
  // writes to a stalled endpoint do.
  void failWrites(const std::string& path);

  size_t readerCount(const std::string& path) const;
  // Input reports a reader lost because it did not read them in time.
  uint64_t droppedReports() const;

  std::unique_ptr<hid::HidWatcher> createWatcher() override;
  hid::HidOpenResult open(const hid::HidDeviceInfo& device) override;
  // The first attached node with these ids (how the boot-loader client opens).
  hid::HidOpenResult openByIds(uint16_t vendorId, uint16_t productId);

  struct Device;
  struct Reader;
  struct WatcherState;

 private:
  SimHidBus();
  void run();
  void wake();
  hid::HidOpenResult openLocked(const std::shared_ptr<Device>& device);
  std::shared_ptr<Device> findLocked(const std::string& path) const;
  void announce(hid::HidAction action, const hid::HidDeviceInfo& info);

  mutable std::mutex mutex_;
  std::vector<std::shared_ptr<Device>> devices_;
  std::vector<std::weak_ptr<WatcherState>> watchers_;
  // Bus ends of readers that hung up or were unplugged; only the bus thread
  // closes them, between two polls, so it never polls a reused number.
  std::vector<std::shared_ptr<Reader>> retired_;
  uint64_t nextNode_ = 0;
  uint64_t dropped_ = 0;
  bool stopping_ = false;
  dispatch::UniqueFd wakeFd_;
  std::thread thread_;
};

}  // namespace vistrelle::sim
