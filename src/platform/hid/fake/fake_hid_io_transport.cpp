#include "platform/hid/fake/fake_hid_io_transport.h"

#include <algorithm>

namespace vistrelle::hid {

struct FakeHidIoTransport::Handle : HidIoHandle {
  explicit Handle(std::shared_ptr<FakeHidIoTransport> owner) : owner(std::move(owner)) {}
  ~Handle() override {
    std::lock_guard lock(owner->mutex_);
    --owner->openHandles_;
  }

  bool setBlocking(bool blocking) override {
    std::lock_guard lock(owner->mutex_);
    owner->blocking_ = blocking;
    return true;
  }

  int readTimeout(std::span<uint8_t> buffer, int timeoutMs) override {
    std::lock_guard lock(owner->mutex_);
    owner->lastTimeoutMs_ = timeoutMs;
    if (owner->reads_.empty()) return 0;
    auto next = std::move(owner->reads_.front());
    owner->reads_.pop_front();
    if (!next) return -1;
    const size_t n = std::min(buffer.size(), next->size());
    std::copy_n(next->begin(), n, buffer.begin());
    return static_cast<int>(n);
  }

  int write(std::span<const uint8_t> report) override {
    std::lock_guard lock(owner->mutex_);
    owner->writes_.emplace_back(report.begin(), report.end());
    return owner->writeResult_.value_or(static_cast<int>(report.size()));
  }

  std::shared_ptr<FakeHidIoTransport> owner;
};

bool FakeHidIoTransport::init() {
  std::lock_guard lock(mutex_);
  if (failInit_) return false;
  ++users_;
  return true;
}

void FakeHidIoTransport::exit() {
  std::lock_guard lock(mutex_);
  if (users_ > 0) --users_;
}

std::vector<HidIoDeviceEntry> FakeHidIoTransport::enumerate(uint16_t vendorId, uint16_t productId) {
  std::lock_guard lock(mutex_);
  std::vector<HidIoDeviceEntry> found;
  for (const auto& device : devices_) {
    if (device.vendorId == vendorId && device.productId == productId) found.push_back(device);
  }
  return found;
}

std::unique_ptr<HidIoHandle> FakeHidIoTransport::openPath(const std::string& path) {
  std::lock_guard lock(mutex_);
  if (std::find(refused_.begin(), refused_.end(), path) != refused_.end()) return nullptr;
  opened_.push_back(path);
  ++openHandles_;
  return std::make_unique<Handle>(shared_from_this());
}

void FakeHidIoTransport::addDevice(HidIoDeviceEntry entry) {
  std::lock_guard lock(mutex_);
  devices_.push_back(std::move(entry));
}

void FakeHidIoTransport::failInit(bool fail) {
  std::lock_guard lock(mutex_);
  failInit_ = fail;
}

void FakeHidIoTransport::refuseOpen(const std::string& path) {
  std::lock_guard lock(mutex_);
  refused_.push_back(path);
}

void FakeHidIoTransport::queueRead(std::vector<uint8_t> bytes) {
  std::lock_guard lock(mutex_);
  reads_.emplace_back(std::move(bytes));
}

void FakeHidIoTransport::queueReadError() {
  std::lock_guard lock(mutex_);
  reads_.emplace_back(std::nullopt);
}

void FakeHidIoTransport::setWriteResult(std::optional<int> result) {
  std::lock_guard lock(mutex_);
  writeResult_ = result;
}

int FakeHidIoTransport::users() const {
  std::lock_guard lock(mutex_);
  return users_;
}

int FakeHidIoTransport::openHandles() const {
  std::lock_guard lock(mutex_);
  return openHandles_;
}

std::vector<std::string> FakeHidIoTransport::openedPaths() const {
  std::lock_guard lock(mutex_);
  return opened_;
}

std::vector<std::vector<uint8_t>> FakeHidIoTransport::writes() const {
  std::lock_guard lock(mutex_);
  return writes_;
}

bool FakeHidIoTransport::lastBlocking() const {
  std::lock_guard lock(mutex_);
  return blocking_;
}

int FakeHidIoTransport::lastTimeoutMs() const {
  std::lock_guard lock(mutex_);
  return lastTimeoutMs_;
}

}  // namespace vistrelle::hid
