#pragma once

#include <deque>
#include <functional>
#include <mutex>
#include <vector>

#include "platform/dispatch/unique_fd.h"
#include "platform/usb/usb_watcher.h"

namespace vistrelle::usb {

// Events pushed by FakeUsbBackend; its fd (an eventfd) is readable while any
// wait.
class FakeUsbWatcher : public UsbWatcher {
 public:
  using Enumerate = std::function<std::vector<UsbDeviceInfo>()>;
  using Unregister = std::function<void(FakeUsbWatcher*)>;

  FakeUsbWatcher(Enumerate enumerate, Unregister unregister);
  ~FakeUsbWatcher() override;

  int fd() const override { return fd_.get(); }
  std::vector<UsbEvent> readEvents() override;
  std::vector<UsbDeviceInfo> enumerate() override { return enumerate_(); }

  void push(UsbEvent event);

 private:
  Enumerate enumerate_;
  Unregister unregister_;
  dispatch::UniqueFd fd_;
  std::mutex mutex_;
  std::deque<UsbEvent> events_;
};

}  // namespace vistrelle::usb
