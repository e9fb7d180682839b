#include "sim/hid/sim_hid_io_transport.h"

#include <poll.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <vector>

#include "platform/hid/hid_report_layout.h"

namespace vistrelle::sim {
namespace {

class SimHidIoHandle : public hid::HidIoHandle {
 public:
  explicit SimHidIoHandle(std::shared_ptr<hid::HidConnection> connection)
      : connection_(std::move(connection)),
        scratch_(size_t{1} + hid::HidReportLayout::kMaxReportBytes) {}

  // Reads honour their time-out in either mode, as hidapi's do.
  bool setBlocking(bool) override { return true; }

  int readTimeout(std::span<uint8_t> buffer, int timeoutMs) override {
    using Clock = std::chrono::steady_clock;
    const bool forever = timeoutMs < 0;
    const auto deadline = Clock::now() + std::chrono::milliseconds(forever ? 0 : timeoutMs);
    for (;;) {
      const auto result = connection_->read(scratch_);
      switch (result.status) {
        case hid::HidConnection::ReadStatus::Report: {
          const size_t n = std::min(buffer.size(), result.report.bytes.size());
          std::copy_n(result.report.bytes.begin(), n, buffer.begin());
          return static_cast<int>(n);
        }
        case hid::HidConnection::ReadStatus::Gone:
        case hid::HidConnection::ReadStatus::Failed:
          return -1;
        case hid::HidConnection::ReadStatus::Empty:
          break;
      }
      int wait = -1;
      if (!forever) {
        const auto left =
            std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
        if (left <= 0) return 0;
        wait = static_cast<int>(left);
      }
      pollfd fd{connection_->fd(), POLLIN, 0};
      const int ready = ::poll(&fd, 1, wait);
      if (ready < 0 && errno != EINTR) return -1;
      if (ready == 0 && !forever) return 0;
    }
  }

  int write(std::span<const uint8_t> report) override {
    if (report.empty()) return -1;
    return connection_->write(report[0], report.subspan(1)) == 0 ? static_cast<int>(report.size())
                                                                 : -1;
  }

 private:
  std::shared_ptr<hid::HidConnection> connection_;
  std::vector<uint8_t> scratch_;
};

}  // namespace

bool SimHidIoTransport::init() {
  if (failInit_.load()) return false;
  ++users_;
  return true;
}

void SimHidIoTransport::exit() {
  int users = users_.load();
  while (users > 0 && !users_.compare_exchange_weak(users, users - 1)) {
  }
}

std::vector<hid::HidIoDeviceEntry> SimHidIoTransport::enumerate(uint16_t vendorId,
                                                                uint16_t productId) {
  std::vector<hid::HidIoDeviceEntry> found;
  for (const auto& device : bus_->createWatcher()->enumerate()) {
    if (device.vendorId == vendorId && device.productId == productId) {
      found.push_back({device.path, device.vendorId, device.productId, 0});
    }
  }
  return found;
}

std::unique_ptr<hid::HidIoHandle> SimHidIoTransport::openPath(const std::string& path) {
  hid::HidDeviceInfo device;
  device.path = path;
  auto opened = bus_->open(device);
  if (!opened.connection) return nullptr;
  return std::make_unique<SimHidIoHandle>(std::move(opened.connection));
}

}  // namespace vistrelle::sim
