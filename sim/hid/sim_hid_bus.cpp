#include "sim/hid/sim_hid_bus.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <deque>
#include <system_error>

#include "platform/hid/hid_error.h"
#include "platform/hid/hid_report_layout.h"

namespace vistrelle::sim {

struct SimHidBus::Reader {
  dispatch::UniqueFd busEnd;
  std::weak_ptr<Device> device;
  // Shut for reading (failWrites): it then reads as end of file for ever, so
  // only its hang-up is watched.
  bool readShut = false;
};

struct SimHidBus::Device {
  hid::HidDeviceInfo info;
  std::vector<uint8_t> descriptor;
  std::shared_ptr<const OutputHandler> onOutput;
  std::vector<std::shared_ptr<Reader>> readers;
  bool failWrites = false;
};

struct SimHidBus::WatcherState {
  dispatch::UniqueFd eventFd{::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC)};
  std::mutex mutex;
  std::deque<hid::HidEvent> events;
};

namespace {

void signal(int fd) {
  uint64_t one = 1;
  // Only an overflowing counter fails, and then the fd is readable anyway.
  [[maybe_unused]] ssize_t n = ::write(fd, &one, sizeof one);
}

void drain(int fd) {
  uint64_t count = 0;
  [[maybe_unused]] ssize_t n = ::read(fd, &count, sizeof count);
}

class SimWatcher : public hid::HidWatcher {
 public:
  SimWatcher(std::shared_ptr<SimHidBus::WatcherState> state,
             std::function<std::vector<hid::HidDeviceInfo>()> list)
      : state_(std::move(state)), list_(std::move(list)) {}

  int fd() const override { return state_->eventFd.get(); }

  std::vector<hid::HidEvent> readEvents() override {
    drain(state_->eventFd.get());
    std::lock_guard lock(state_->mutex);
    std::vector<hid::HidEvent> events(std::make_move_iterator(state_->events.begin()),
                                      std::make_move_iterator(state_->events.end()));
    state_->events.clear();
    return events;
  }

  std::vector<hid::HidDeviceInfo> enumerate() override { return list_(); }

 private:
  std::shared_ptr<SimHidBus::WatcherState> state_;
  std::function<std::vector<hid::HidDeviceInfo>()> list_;
};

}  // namespace

std::shared_ptr<SimHidBus> SimHidBus::create() {
  return std::shared_ptr<SimHidBus>(new SimHidBus());
}

SimHidBus::SimHidBus() : wakeFd_(::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC)) {
  if (!wakeFd_) throw std::system_error(errno, std::generic_category(), "simulated bus eventfd");
  thread_ = std::thread([this] { run(); });
}

SimHidBus::~SimHidBus() {
  {
    std::lock_guard lock(mutex_);
    stopping_ = true;
  }
  wake();
  thread_.join();
}

void SimHidBus::wake() {
  signal(wakeFd_.get());
}

std::string SimHidBus::plug(SimHidIdentity identity, OutputHandler onOutput) {
  auto device = std::make_shared<Device>();
  {
    std::lock_guard lock(mutex_);
    const uint64_t node = nextNode_++;
    device->info.path = "sim-hidraw" + std::to_string(node);
    device->info.portPath =
        identity.portPath.empty() ? "sim-" + std::to_string(node + 1) : identity.portPath;
    device->info.vendorId = identity.vendorId;
    device->info.productId = identity.productId;
    device->info.version = identity.version;
    device->info.name = identity.name;
    device->descriptor = std::move(identity.descriptor);
    device->onOutput = std::make_shared<const OutputHandler>(std::move(onOutput));
    devices_.push_back(device);
  }
  announce(hid::HidAction::Added, device->info);
  return device->info.path;
}

void SimHidBus::unplug(const std::string& path) {
  hid::HidDeviceInfo info;
  {
    std::lock_guard lock(mutex_);
    auto it = std::find_if(devices_.begin(), devices_.end(),
                           [&](const auto& device) { return device->info.path == path; });
    if (it == devices_.end()) return;
    std::shared_ptr<Device> device = *it;
    devices_.erase(it);
    for (auto& reader : device->readers) {
      // Every reader sees its end hang up now; the number stays taken until
      // the bus thread closes it.
      ::shutdown(reader->busEnd.get(), SHUT_RDWR);
      retired_.push_back(std::move(reader));
    }
    device->readers.clear();
    info = device->info;
  }
  wake();
  announce(hid::HidAction::Removed, info);
}

bool SimHidBus::sendInput(const std::string& path, std::span<const uint8_t> raw) {
  std::lock_guard lock(mutex_);
  auto device = findLocked(path);
  if (!device) return false;
  for (const auto& reader : device->readers) {
    const ssize_t n =
        ::send(reader->busEnd.get(), raw.data(), raw.size(), MSG_DONTWAIT | MSG_NOSIGNAL);
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) ++dropped_;
  }
  return true;
}

void SimHidBus::failWrites(const std::string& path) {
  std::lock_guard lock(mutex_);
  auto device = findLocked(path);
  if (!device) return;
  device->failWrites = true;
  for (const auto& reader : device->readers) {
    ::shutdown(reader->busEnd.get(), SHUT_RD);
    reader->readShut = true;
  }
  wake();
}

size_t SimHidBus::readerCount(const std::string& path) const {
  std::lock_guard lock(mutex_);
  auto device = findLocked(path);
  return device ? device->readers.size() : 0;
}

uint64_t SimHidBus::droppedReports() const {
  std::lock_guard lock(mutex_);
  return dropped_;
}

std::shared_ptr<SimHidBus::Device> SimHidBus::findLocked(const std::string& path) const {
  for (const auto& device : devices_) {
    if (device->info.path == path) return device;
  }
  return nullptr;
}

std::unique_ptr<hid::HidWatcher> SimHidBus::createWatcher() {
  auto state = std::make_shared<WatcherState>();
  if (!state->eventFd) {
    throw hid::HidError(std::string("cannot create a watcher: ") + std::strerror(errno));
  }
  {
    std::lock_guard lock(mutex_);
    std::erase_if(watchers_, [](const auto& watcher) { return watcher.expired(); });
    watchers_.push_back(state);
  }
  std::weak_ptr<SimHidBus> bus = weak_from_this();
  return std::make_unique<SimWatcher>(state, [bus]() {
    std::vector<hid::HidDeviceInfo> present;
    if (auto self = bus.lock()) {
      std::lock_guard lock(self->mutex_);
      for (const auto& device : self->devices_) present.push_back(device->info);
    }
    return present;
  });
}

void SimHidBus::announce(hid::HidAction action, const hid::HidDeviceInfo& info) {
  std::vector<std::shared_ptr<WatcherState>> live;
  {
    std::lock_guard lock(mutex_);
    for (const auto& watcher : watchers_) {
      if (auto state = watcher.lock()) live.push_back(std::move(state));
    }
  }
  for (const auto& state : live) {
    {
      std::lock_guard lock(state->mutex);
      state->events.push_back({action, info});
    }
    signal(state->eventFd.get());
  }
}

hid::HidOpenResult SimHidBus::open(const hid::HidDeviceInfo& device) {
  std::lock_guard lock(mutex_);
  auto found = findLocked(device.path);
  if (!found) return {nullptr, ENOENT, "no simulated device at " + device.path};
  return openLocked(found);
}

hid::HidOpenResult SimHidBus::openByIds(uint16_t vendorId, uint16_t productId) {
  std::lock_guard lock(mutex_);
  for (const auto& device : devices_) {
    if (device->info.vendorId == vendorId && device->info.productId == productId) {
      return openLocked(device);
    }
  }
  return {nullptr, ENOENT, "no simulated device with these ids"};
}

hid::HidOpenResult SimHidBus::openLocked(const std::shared_ptr<Device>& device) {
  int ends[2] = {-1, -1};
  if (::socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC | SOCK_NONBLOCK, 0, ends) != 0) {
    const int error = errno;
    return {nullptr, error, std::string("cannot open a simulated node: ") + std::strerror(error)};
  }
  auto reader = std::make_shared<Reader>();
  reader->busEnd.reset(ends[1]);
  reader->device = device;
  if (device->failWrites) {
    ::shutdown(ends[1], SHUT_RD);
    reader->readShut = true;
  }
  device->readers.push_back(reader);
  wake();
  return {std::make_shared<hid::HidConnection>(dispatch::UniqueFd(ends[0]), device->info.path,
                                               device->descriptor),
          0,
          {}};
}

void SimHidBus::run() {
  std::vector<uint8_t> buffer(size_t{1} + hid::HidReportLayout::kMaxReportBytes);
  for (;;) {
    std::vector<std::shared_ptr<Reader>> readers;
    std::vector<pollfd> fds;
    fds.push_back({wakeFd_.get(), POLLIN, 0});
    {
      std::lock_guard lock(mutex_);
      if (stopping_) return;
      retired_.clear();
      for (const auto& device : devices_) {
        for (const auto& reader : device->readers) {
          readers.push_back(reader);
          fds.push_back(
              {reader->busEnd.get(), static_cast<short>(reader->readShut ? 0 : POLLIN), 0});
        }
      }
    }
    if (::poll(fds.data(), fds.size(), -1) < 0) {
      if (errno == EINTR) continue;
      throw std::system_error(errno, std::generic_category(), "simulated bus poll");
    }
    if (fds[0].revents != 0) drain(wakeFd_.get());
    for (size_t i = 0; i < readers.size(); ++i) {
      const short events = fds[i + 1].revents;
      if (events == 0) continue;
      const auto& reader = readers[i];
      bool hungUp = (events & (POLLHUP | POLLERR)) != 0;
      while ((events & POLLIN) != 0) {
        const ssize_t n = ::recv(reader->busEnd.get(), buffer.data(), buffer.size(), MSG_DONTWAIT);
        if (n > 0) {
          std::shared_ptr<const OutputHandler> handler;
          {
            std::lock_guard lock(mutex_);
            if (auto device = reader->device.lock()) handler = device->onOutput;
          }
          if (handler && *handler) (*handler)(std::span<const uint8_t>(buffer.data(), size_t(n)));
          continue;
        }
        if (n < 0 && errno == EINTR) continue;
        if (n == 0) {
          // End of file: the reader closed its end, unless its reading was
          // shut for failWrites in the meantime.
          std::lock_guard lock(mutex_);
          hungUp = hungUp || !reader->readShut;
        } else if (errno != EAGAIN && errno != EWOULDBLOCK) {
          hungUp = true;
        }
        break;
      }
      if (!hungUp) continue;
      // The reader closed its end (or the device went): forget it.
      std::lock_guard lock(mutex_);
      if (auto device = reader->device.lock()) {
        auto& list = device->readers;
        auto it = std::find(list.begin(), list.end(), reader);
        if (it != list.end()) {
          retired_.push_back(*it);
          list.erase(it);
        }
      }
    }
  }
}

}  // namespace vistrelle::sim
