#pragma once

// What the server tests share: a delegate that records everything it is
// told, loopback clients and listeners, and a count of open descriptors.

#include <arpa/inet.h>
#include <dirent.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "netlocal/dnssd/mrb_server.h"
#include "platform/dispatch/unique_fd.h"

namespace vistrelle::netlocal::testing {

using namespace std::chrono_literals;
using dispatch::UniqueFd;

class RecordingServerDelegate : public MRBServerDelegate {
 public:
  struct Event {
    std::string kind;  // "stopped", "complete", "data", "lost", "notStarted", "added", "removed"
    bool serverWasNull = false;
    bool onQueue = false;
    std::string data;
    SocketErrorPtr error;
    dnssd::DnsSdError dnsError;
    dnssd::DnsSdServiceRecord service;
  };

  explicit RecordingServerDelegate(dispatch::ExecutorPtr queue = nullptr)
      : queue_(std::move(queue)) {}

  void serverStopped(const MRBServerPtr& server) override { record("stopped", server); }
  void serverRemoteConnectionComplete(const MRBServerPtr& server) override {
    record("complete", server);
  }
  void serverDidAcceptData(const MRBServerPtr& server, const SocketData& data) override {
    record("data", server, [&](Event& event) { event.data = data.str(); });
  }
  void serverLostConnection(const MRBServerPtr& server, const SocketErrorPtr& error) override {
    record("lost", server, [&](Event& event) { event.error = error; });
  }
  void serverDidNotStart(const MRBServerPtr& server, const dnssd::DnsSdError& error) override {
    record("notStarted", server, [&](Event& event) { event.dnsError = error; });
  }
  void serviceAdded(const dnssd::DnsSdServiceRecord& service, bool) override {
    record("added", nullptr, [&](Event& event) { event.service = service; });
  }
  void serviceRemoved(const dnssd::DnsSdServiceRecord& service, bool) override {
    record("removed", nullptr, [&](Event& event) { event.service = service; });
  }

  std::vector<Event> events() const {
    std::lock_guard lock(mutex_);
    return events_;
  }
  std::vector<std::string> kinds() const {
    std::vector<std::string> kinds;
    for (const auto& event : events()) kinds.push_back(event.kind);
    return kinds;
  }
  // Waits until `count` events of `kind` were recorded.
  bool waitFor(const std::string& kind, size_t count = 1,
               std::chrono::milliseconds limit = 10s) const {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, limit, [&] { return countLocked(kind) >= count; });
  }
  size_t count(const std::string& kind) const {
    std::lock_guard lock(mutex_);
    return countLocked(kind);
  }
  // Every received byte, in order.
  std::string received() const {
    std::string all;
    for (const auto& event : events())
      if (event.kind == "data") all += event.data;
    return all;
  }
  bool waitForReceived(size_t bytes, std::chrono::milliseconds limit = 10s) const {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, limit, [&] { return receivedLocked() >= bytes; });
  }
  // True when every call came on the server's queue.
  bool allOnQueue() const {
    for (const auto& event : events())
      if (!event.onQueue) return false;
    return true;
  }

 private:
  void record(const char* kind, const MRBServerPtr& server,
              const std::function<void(Event&)>& fill = nullptr) {
    Event event;
    event.kind = kind;
    event.serverWasNull = server == nullptr;
    event.onQueue = !queue_ || queue_->isCurrent();
    if (fill) fill(event);
    std::lock_guard lock(mutex_);
    events_.push_back(std::move(event));
    changed_.notify_all();
  }
  size_t countLocked(const std::string& kind) const {
    size_t n = 0;
    for (const auto& event : events_) n += event.kind == kind;
    return n;
  }
  size_t receivedLocked() const {
    size_t n = 0;
    for (const auto& event : events_) n += event.data.size();
    return n;
  }

  const dispatch::ExecutorPtr queue_;
  mutable std::mutex mutex_;
  mutable std::condition_variable changed_;
  std::vector<Event> events_;
};

// Polls `condition` every few milliseconds until it holds or `limit` passes.
inline bool eventually(const std::function<bool()>& condition,
                       std::chrono::milliseconds limit = 10s) {
  const auto end = std::chrono::steady_clock::now() + limit;
  while (!condition()) {
    if (std::chrono::steady_clock::now() > end) return false;
    std::this_thread::sleep_for(5ms);
  }
  return true;
}

inline sockaddr_in loopback(uint16_t port) {
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(port);
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  return address;
}

// A blocking client connected to 127.0.0.1:`port` (invalid when refused).
inline UniqueFd connectLoopback(uint16_t port) {
  UniqueFd fd(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
  const sockaddr_in address = loopback(port);
  if (::connect(fd.get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0)
    return UniqueFd();
  return fd;
}

// A listener on 127.0.0.1 with a port the system chose.
inline UniqueFd listenLoopback(uint16_t* port) {
  UniqueFd fd(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
  sockaddr_in address = loopback(0);
  socklen_t length = sizeof address;
  if (::bind(fd.get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 ||
      ::listen(fd.get(), 4) != 0 ||
      ::getsockname(fd.get(), reinterpret_cast<sockaddr*>(&address), &length) != 0)
    return UniqueFd();
  *port = ntohs(address.sin_port);
  return fd;
}

// Accepts one connection within `limit`, else an invalid descriptor.
inline UniqueFd acceptWithin(int listener, std::chrono::milliseconds limit) {
  pollfd ready{listener, POLLIN, 0};
  if (::poll(&ready, 1, static_cast<int>(limit.count())) != 1) return UniqueFd();
  return UniqueFd(::accept4(listener, nullptr, nullptr, SOCK_CLOEXEC));
}

// Reads until `length` bytes arrived, the peer closed, or `limit` passed.
inline std::string readUpTo(int fd, size_t length, std::chrono::milliseconds limit = 10s) {
  std::string bytes;
  const auto end = std::chrono::steady_clock::now() + limit;
  char buffer[65536];
  while (bytes.size() < length) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        end - std::chrono::steady_clock::now());
    if (left.count() <= 0) break;
    pollfd ready{fd, POLLIN, 0};
    if (::poll(&ready, 1, static_cast<int>(left.count())) != 1) break;
    const ssize_t n = ::read(fd, buffer, std::min(sizeof buffer, length - bytes.size()));
    if (n <= 0) break;
    bytes.append(buffer, static_cast<size_t>(n));
  }
  return bytes;
}

inline bool writeAll(int fd, const std::string& bytes) {
  size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
    if (n <= 0) return false;
    done += static_cast<size_t>(n);
  }
  return true;
}

// The process' open descriptors.
inline int openDescriptors() {
  int count = 0;
  if (DIR* folder = opendir("/proc/self/fd")) {
    while (readdir(folder)) ++count;
    closedir(folder);
  }
  return count;
}

}  // namespace vistrelle::netlocal::testing
