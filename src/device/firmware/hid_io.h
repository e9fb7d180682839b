#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string>

#include "device/firmware/firmware_log.h"
#include "platform/hid/hid_io_transport.h"

namespace vistrelle::device {

// A thin layer over the HID transport for the boot-loader client: open by
// ids, blocking reads with a time-out, writes.  It owns one init/exit pair of
// the transport: created, it starts the library; destroyed, it closes its
// device and then lets the library go.
class HidIO {
 public:
  // The kept device path is cut to this many bytes.
  static constexpr size_t kMaxPathBytes = 259;

  HidIO(std::shared_ptr<hid::HidIoTransport> transport, FirmwareLog log);
  virtual ~HidIO();
  HidIO(const HidIO&) = delete;
  HidIO& operator=(const HidIO&) = delete;

  // The first device with these ids (and, unless `interfaceNumber` is -1, on
  // that interface), opened by its path; null when none or it cannot be
  // opened.
  hid::HidIoHandle* openByIds(uint16_t vendorId, uint16_t productId, int interfaceNumber);
  // openByIds, with reads then waiting up to their time-out.
  bool OpenDevice(uint16_t vendorId, uint16_t productId, int interfaceNumber);
  void CloseDevice();
  bool isOpen() const { return handle_ != nullptr; }
  const std::string& path() const { return path_; }

  // One read; true only when exactly `n` bytes came.  `received` is always set.
  bool ReadReport(uint8_t* buffer, size_t n, size_t& received, int timeoutMs);
  // One write; true when n or n-1 bytes went (some platforms do not count the
  // report ID).
  bool WriteReport(const uint8_t* buffer, size_t n);

 private:
  const std::shared_ptr<hid::HidIoTransport> transport_;
  const FirmwareLog log_;
  const bool started_;
  std::unique_ptr<hid::HidIoHandle> handle_;
  std::string path_;
};

}  // namespace vistrelle::device
