#include "device/firmware/hid_io.h"

namespace vistrelle::device {

HidIO::HidIO(std::shared_ptr<hid::HidIoTransport> transport, FirmwareLog log)
    : transport_(transport ? std::move(transport) : hid::HidIoTransport::current()),
      log_(std::move(log)),
      started_(transport_->init()) {
  if (!started_) log_("***hid_init failed!***");
}

HidIO::~HidIO() {
  CloseDevice();
  if (started_) transport_->exit();
}

hid::HidIoHandle* HidIO::openByIds(uint16_t vendorId, uint16_t productId, int interfaceNumber) {
  if (!started_) return nullptr;
  CloseDevice();
  for (const auto& entry : transport_->enumerate(vendorId, productId)) {
    if (entry.vendorId != vendorId || entry.productId != productId) continue;
    if (interfaceNumber != -1 && entry.interfaceNumber != interfaceNumber) continue;
    log_(formatText("\n path=%s", entry.path.c_str()));
    handle_ = transport_->openPath(entry.path);
    if (handle_) path_ = entry.path.substr(0, kMaxPathBytes);
    break;
  }
  return handle_.get();
}

bool HidIO::OpenDevice(uint16_t vendorId, uint16_t productId, int interfaceNumber) {
  hid::HidIoHandle* handle = openByIds(vendorId, productId, interfaceNumber);
  log_(formatText("\nOpendevice....handle=%p", static_cast<void*>(handle)));
  if (handle == nullptr) return false;
  handle->setBlocking(true);
  return true;
}

void HidIO::CloseDevice() {
  handle_.reset();
  path_.clear();
}

bool HidIO::ReadReport(uint8_t* buffer, size_t n, size_t& received, int timeoutMs) {
  received = 0;
  if (!handle_) return false;
  const int got = handle_->readTimeout(std::span<uint8_t>(buffer, n), timeoutMs);
  if (got > 0) received = static_cast<size_t>(got);
  return got >= 0 && received == n;
}

bool HidIO::WriteReport(const uint8_t* buffer, size_t n) {
  if (!handle_) return false;
  const int wrote = handle_->write(std::span<const uint8_t>(buffer, n));
  return wrote >= 0 && (static_cast<size_t>(wrote) == n || static_cast<size_t>(wrote) + 1 == n);
}

}  // namespace vistrelle::device
