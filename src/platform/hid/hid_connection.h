#pragma once

#include <cstdint>
#include <mutex>
#include <span>
#include <string>
#include <vector>

#include "platform/dispatch/unique_fd.h"
#include "platform/hid/hid_report_frame.h"
#include "platform/hid/hid_report_layout.h"

namespace vistrelle::hid {

// One opened HID node: a descriptor to poll for input reports, the layout its
// report descriptor declares, and writes of output reports.  Reads belong to
// one thread (the monitor's); writes may come from any thread and are
// serialised.
//
// The descriptor is closed only when the last holder lets go, so a write
// racing with an unplug can never reach another device that reused the
// number; detach() is how an unplug ends writing: once it has returned, no
// write reaches the node.
class HidConnection {
 public:
  // `fd` is a hidraw node or a simulated bus's socket (SOCK_SEQPACKET, one
  // datagram per report), opened non-blocking.
  HidConnection(dispatch::UniqueFd fd, std::string path, std::vector<uint8_t> descriptor);
  HidConnection(const HidConnection&) = delete;
  HidConnection& operator=(const HidConnection&) = delete;

  int fd() const { return fd_.get(); }
  const std::string& path() const { return path_; }
  const std::vector<uint8_t>& descriptor() const { return descriptor_; }
  const HidReportLayout& layout() const { return layout_; }

  enum class ReadStatus {
    Report,  // one report was read
    Empty,   // nothing waits
    Gone,    // the device went away (hang-up, end of file, EIO, ENODEV)
    Failed,  // any other error (see `error`)
  };
  struct ReadResult {
    ReadStatus status = ReadStatus::Empty;
    HidInputReport report;  // into the caller's buffer
    int error = 0;
  };
  // Reads one report into `buffer`, which holds the ID byte too; a longer
  // report is cut to the buffer.
  ReadResult read(std::span<uint8_t> buffer);

  // Writes output report `reportId` framed as hid_report_frame.h says: 0, or
  // a negative errno (-ENODEV once detached).
  int32_t write(uint8_t reportId, std::span<const uint8_t> payload);

  // From now on every write fails with -ENODEV; a write in progress finishes
  // first.
  void detach();
  bool detached() const;

 private:
  dispatch::UniqueFd fd_;
  const std::string path_;
  const std::vector<uint8_t> descriptor_;
  const HidReportLayout layout_;
  const bool isSocket_;
  mutable std::mutex writeMutex_;
  bool detached_ = false;
};

}  // namespace vistrelle::hid
