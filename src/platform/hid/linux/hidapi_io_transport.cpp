#include "platform/hid/linux/hidapi_io_transport.h"

#include <hidapi/hidapi.h>

#include <climits>

namespace vistrelle::hid {
namespace {

class HidapiHandle : public HidIoHandle {
 public:
  explicit HidapiHandle(hid_device* device) : device_(device) {}
  ~HidapiHandle() override { hid_close(device_); }
  HidapiHandle(const HidapiHandle&) = delete;
  HidapiHandle& operator=(const HidapiHandle&) = delete;

  bool setBlocking(bool blocking) override {
    return hid_set_nonblocking(device_, blocking ? 0 : 1) == 0;
  }
  int readTimeout(std::span<uint8_t> buffer, int timeoutMs) override {
    return hid_read_timeout(device_, buffer.data(), buffer.size(), timeoutMs);
  }
  int write(std::span<const uint8_t> report) override {
    return hid_write(device_, report.data(), report.size());
  }

 private:
  hid_device* device_;
};

}  // namespace

HidapiIoTransport::~HidapiIoTransport() {
  std::lock_guard lock(mutex_);
  if (users_ > 0) hid_exit();
}

bool HidapiIoTransport::init() {
  std::lock_guard lock(mutex_);
  if (users_ == 0 && hid_init() != 0) return false;
  ++users_;
  return true;
}

void HidapiIoTransport::exit() {
  std::lock_guard lock(mutex_);
  if (users_ == 0) return;
  if (--users_ == 0) hid_exit();
}

std::vector<HidIoDeviceEntry> HidapiIoTransport::enumerate(uint16_t vendorId, uint16_t productId) {
  std::vector<HidIoDeviceEntry> found;
  hid_device_info* list = hid_enumerate(vendorId, productId);
  for (const hid_device_info* info = list; info != nullptr; info = info->next) {
    found.push_back(
        {info->path ? info->path : "", info->vendor_id, info->product_id, info->interface_number});
  }
  hid_free_enumeration(list);
  return found;
}

std::unique_ptr<HidIoHandle> HidapiIoTransport::openPath(const std::string& path) {
  hid_device* device = hid_open_path(path.c_str());
  if (device == nullptr) return nullptr;
  return std::make_unique<HidapiHandle>(device);
}

}  // namespace vistrelle::hid
