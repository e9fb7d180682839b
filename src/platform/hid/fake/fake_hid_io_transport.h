#pragma once

#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "platform/hid/hid_io_transport.h"

namespace vistrelle::hid {

// A transport without devices of its own: the test lists the devices, queues
// what reads answer and sees every write.  A read with nothing queued answers
// as a time-out (0).  Thread-safe.
class FakeHidIoTransport : public HidIoTransport,
                           public std::enable_shared_from_this<FakeHidIoTransport> {
 public:
  bool init() override;
  void exit() override;
  std::vector<HidIoDeviceEntry> enumerate(uint16_t vendorId, uint16_t productId) override;
  std::unique_ptr<HidIoHandle> openPath(const std::string& path) override;

  void addDevice(HidIoDeviceEntry entry);
  void failInit(bool fail);
  // A path that cannot be opened.
  void refuseOpen(const std::string& path);
  // The next read answers these bytes (-1 as the only entry: an error).
  void queueRead(std::vector<uint8_t> bytes);
  void queueReadError();
  // Writes answer this count instead of the report's length.
  void setWriteResult(std::optional<int> result);

  int users() const;
  int openHandles() const;
  std::vector<std::string> openedPaths() const;
  std::vector<std::vector<uint8_t>> writes() const;
  bool lastBlocking() const;
  int lastTimeoutMs() const;

  struct Handle;

 private:
  mutable std::mutex mutex_;
  std::vector<HidIoDeviceEntry> devices_;
  std::vector<std::string> refused_;
  std::deque<std::optional<std::vector<uint8_t>>> reads_;
  std::optional<int> writeResult_;
  bool failInit_ = false;
  int users_ = 0;
  int openHandles_ = 0;
  std::vector<std::string> opened_;
  std::vector<std::vector<uint8_t>> writes_;
  bool blocking_ = false;
  int lastTimeoutMs_ = 0;
};

}  // namespace vistrelle::hid
