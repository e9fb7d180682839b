#include "platform/usb/fake/fake_usb_watcher.h"

#include <sys/eventfd.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/usb/usb_error.h"

namespace vistrelle::usb {

FakeUsbWatcher::FakeUsbWatcher(Enumerate enumerate, Unregister unregister)
    : enumerate_(std::move(enumerate)),
      unregister_(std::move(unregister)),
      fd_(::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC)) {
  if (!fd_) throw UsbError(std::string("eventfd: ") + std::strerror(errno));
}

FakeUsbWatcher::~FakeUsbWatcher() {
  unregister_(this);
}

std::vector<UsbEvent> FakeUsbWatcher::readEvents() {
  std::lock_guard lock(mutex_);
  uint64_t counter = 0;
  // Drains the counter; an empty counter (EAGAIN) just means nothing waits.
  [[maybe_unused]] ssize_t n = ::read(fd_.get(), &counter, sizeof counter);
  std::vector<UsbEvent> events(events_.begin(), events_.end());
  events_.clear();
  return events;
}

void FakeUsbWatcher::push(UsbEvent event) {
  std::lock_guard lock(mutex_);
  events_.push_back(std::move(event));
  uint64_t one = 1;
  if (::write(fd_.get(), &one, sizeof one) != sizeof one) {
    throw UsbError(std::string("eventfd write: ") + std::strerror(errno));
  }
}

}  // namespace vistrelle::usb
