#pragma once

// Peers, delegates and fixtures of the socket tests.  Programs that share one
// runtime for all their tests include socket_test_support.h instead.

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "netlocal/socket/gcd_async_socket.h"
#include "platform/dispatch/runtime.h"
#include "platform/dispatch/unique_fd.h"

namespace vistrelle::netlocal::testing {

using namespace std::chrono_literals;
using dispatch::UniqueFd;

// Everything a delegate is told, in order, with waits for the test thread.
class RecordingDelegate : public GCDAsyncSocketDelegate {
 public:
  struct Event {
    std::string kind;
    GCDAsyncSocketPtr socket;
    GCDAsyncSocketPtr newSocket;
    long tag = 0;
    std::string data;
    SocketData view;
    size_t length = 0;
    double elapsed = 0;
    std::string host;
    uint16_t port = 0;
    SocketErrorPtr error;
    bool socketWasNull = false;
  };

  static Event make(std::string kind, const GCDAsyncSocketPtr& sock) {
    Event event;
    event.kind = std::move(kind);
    event.socket = sock;
    return event;
  }

  // Answers to time-out questions, taken in order (0 once they run out).
  std::deque<double> readTimeoutAnswers;
  std::deque<double> writeTimeoutAnswers;
  // Runs on the delegate queue after a read is recorded.
  std::function<void(const GCDAsyncSocketPtr&, const SocketData&, long)> onRead;
  std::function<void(const GCDAsyncSocketPtr&)> onConnect;
  std::function<void(const GCDAsyncSocketPtr&)> onAccept;
  // Trust questions: null declines (the delegate "does not implement" it).
  std::function<bool(const GCDAsyncSocketPtr&, const std::shared_ptr<SecTrust>&,
                     std::function<void(bool)>)>
      onTrust;

  void socketDidAcceptNewSocket(const GCDAsyncSocketPtr& sock,
                                const GCDAsyncSocketPtr& newSocket) override {
    Event event = make("accept", sock);
    event.newSocket = newSocket;
    record(std::move(event));
    if (onAccept) onAccept(newSocket);
  }
  void socketDidConnectToHost(const GCDAsyncSocketPtr& sock, const std::string& host,
                              uint16_t port) override {
    Event event = make("connect", sock);
    event.host = host;
    event.port = port;
    record(std::move(event));
    if (onConnect) onConnect(sock);
  }
  void socketDidConnectToUrl(const GCDAsyncSocketPtr& sock, const std::string& url) override {
    Event event = make("connectUrl", sock);
    event.host = url;
    record(std::move(event));
    if (onConnect) onConnect(sock);
  }
  void socketDidReadData(const GCDAsyncSocketPtr& sock, const SocketData& data, long tag) override {
    Event event = make("read", sock);
    event.tag = tag;
    event.data = data.str();
    event.view = data;
    record(std::move(event));
    if (onRead) onRead(sock, data, tag);
  }
  void socketDidReadPartialDataOfLength(const GCDAsyncSocketPtr& sock, size_t length,
                                        long tag) override {
    Event event = make("readPartial", sock);
    event.length = length;
    event.tag = tag;
    record(std::move(event));
  }
  void socketDidWriteDataWithTag(const GCDAsyncSocketPtr& sock, long tag) override {
    Event event = make("write", sock);
    event.tag = tag;
    record(std::move(event));
  }
  void socketDidWritePartialDataOfLength(const GCDAsyncSocketPtr& sock, size_t length,
                                         long tag) override {
    Event event = make("writePartial", sock);
    event.length = length;
    event.tag = tag;
    record(std::move(event));
  }
  double socketShouldTimeoutReadWithTag(const GCDAsyncSocketPtr& sock, long tag, double elapsed,
                                        size_t bytesDone) override {
    Event event = make("readTimeout", sock);
    event.tag = tag;
    event.elapsed = elapsed;
    event.length = bytesDone;
    double answer = 0;
    {
      std::lock_guard lock(mutex_);
      if (!readTimeoutAnswers.empty()) {
        answer = readTimeoutAnswers.front();
        readTimeoutAnswers.pop_front();
      }
    }
    record(std::move(event));
    return answer;
  }
  double socketShouldTimeoutWriteWithTag(const GCDAsyncSocketPtr& sock, long tag, double elapsed,
                                         size_t bytesDone) override {
    Event event = make("writeTimeout", sock);
    event.tag = tag;
    event.elapsed = elapsed;
    event.length = bytesDone;
    double answer = 0;
    {
      std::lock_guard lock(mutex_);
      if (!writeTimeoutAnswers.empty()) {
        answer = writeTimeoutAnswers.front();
        writeTimeoutAnswers.pop_front();
      }
    }
    record(std::move(event));
    return answer;
  }
  void socketDidCloseReadStream(const GCDAsyncSocketPtr& sock) override {
    record(make("closeReadStream", sock));
  }
  void socketDidDisconnect(const GCDAsyncSocketPtr& sock, const SocketErrorPtr& error) override {
    Event event = make("disconnect", sock);
    event.error = error;
    event.socketWasNull = sock == nullptr;
    event.socket = nullptr;  // do not keep the socket alive from here
    record(std::move(event));
  }
  void socketDidSecure(const GCDAsyncSocketPtr& sock) override { record(make("secure", sock)); }
  bool socketDidReceiveTrust(const GCDAsyncSocketPtr& sock, const std::shared_ptr<SecTrust>& trust,
                             std::function<void(bool)> completion) override {
    record(make("trust", sock));
    if (!onTrust) return false;
    return onTrust(sock, trust, std::move(completion));
  }

  // The nth (1-based) event of `kind`, waiting up to `timeout` for it.
  Event waitFor(const std::string& kind, size_t nth = 1, std::chrono::milliseconds timeout = 10s) {
    std::unique_lock lock(mutex_);
    Event found;
    const bool ok = changed_.wait_for(lock, timeout, [&] {
      size_t seen = 0;
      for (const Event& event : events_) {
        if (event.kind == kind && ++seen == nth) {
          found = event;
          return true;
        }
      }
      return false;
    });
    if (!ok) ADD_FAILURE() << "no " << kind << " event #" << nth << " within the wait";
    return found;
  }

  size_t count(const std::string& kind) const {
    std::lock_guard lock(mutex_);
    size_t seen = 0;
    for (const Event& event : events_) seen += event.kind == kind;
    return seen;
  }

  std::vector<Event> events() const {
    std::lock_guard lock(mutex_);
    return events_;
  }

  // Drops the sockets that accept events hold, so the test decides their lifetime.
  std::vector<GCDAsyncSocketPtr> takeAccepted() {
    std::lock_guard lock(mutex_);
    std::vector<GCDAsyncSocketPtr> sockets;
    for (Event& event : events_) {
      if (event.newSocket) sockets.push_back(std::move(event.newSocket));
    }
    return sockets;
  }

  void clearSockets() {
    std::lock_guard lock(mutex_);
    for (Event& event : events_) {
      event.socket.reset();
      event.newSocket.reset();
    }
  }

 private:
  void record(Event event) {
    std::lock_guard lock(mutex_);
    events_.push_back(std::move(event));
    changed_.notify_all();
  }

  mutable std::mutex mutex_;
  std::condition_variable changed_;
  std::vector<Event> events_;
};

// Waits until the socket queue and then the delegate queue have run what was
// posted so far: after it, every notice of what already happened is recorded.
inline void settle(const GCDAsyncSocketPtr& socket, const dispatch::ExecutorPtr& delegateQueue) {
  if (socket) socket->performBlock([] {});
  delegateQueue->sync([] {});
}

inline uint16_t localPortOf(int fd) {
  sockaddr_storage addr{};
  socklen_t length = sizeof addr;
  getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &length);
  if (addr.ss_family == AF_INET6) return ntohs(reinterpret_cast<sockaddr_in6*>(&addr)->sin6_port);
  return ntohs(reinterpret_cast<sockaddr_in*>(&addr)->sin_port);
}

// A plain blocking TCP connection to 127.0.0.1 (or ::1).
inline UniqueFd rawConnect(uint16_t port, int family = AF_INET) {
  UniqueFd fd(::socket(family, SOCK_STREAM | SOCK_CLOEXEC, 0));
  int result;
  if (family == AF_INET6) {
    sockaddr_in6 addr{};
    addr.sin6_family = AF_INET6;
    addr.sin6_port = htons(port);
    addr.sin6_addr = in6addr_loopback;
    result = ::connect(fd.get(), reinterpret_cast<sockaddr*>(&addr), sizeof addr);
  } else {
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(port);
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    result = ::connect(fd.get(), reinterpret_cast<sockaddr*>(&addr), sizeof addr);
  }
  EXPECT_EQ(result, 0) << std::strerror(errno);
  return fd;
}

inline UniqueFd rawConnectUnix(const std::string& path) {
  UniqueFd fd(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
  sockaddr_un addr{};
  addr.sun_family = AF_UNIX;
  std::strncpy(addr.sun_path, path.c_str(), sizeof addr.sun_path - 1);
  EXPECT_EQ(::connect(fd.get(), reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0)
      << std::strerror(errno);
  return fd;
}

// A plain blocking listener on 127.0.0.1 (or ::1) at a system-chosen port.
inline UniqueFd rawListen(int family = AF_INET, int backlog = 16) {
  UniqueFd fd(::socket(family, SOCK_STREAM | SOCK_CLOEXEC, 0));
  const int on = 1;
  setsockopt(fd.get(), SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
  if (family == AF_INET6) {
    setsockopt(fd.get(), IPPROTO_IPV6, IPV6_V6ONLY, &on, sizeof on);
    sockaddr_in6 addr{};
    addr.sin6_family = AF_INET6;
    addr.sin6_addr = in6addr_loopback;
    EXPECT_EQ(::bind(fd.get(), reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
  } else {
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    EXPECT_EQ(::bind(fd.get(), reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
  }
  EXPECT_EQ(::listen(fd.get(), backlog), 0);
  return fd;
}

inline UniqueFd rawAccept(int listener) {
  return UniqueFd(::accept4(listener, nullptr, nullptr, SOCK_CLOEXEC));
}

inline void writeAll(int fd, const std::string& bytes) {
  size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = ::send(fd, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
    ASSERT_GT(n, 0) << std::strerror(errno);
    done += static_cast<size_t>(n);
  }
}

// Reads exactly `length` bytes (or up to end of stream).
inline std::string readExactly(int fd, size_t length) {
  std::string bytes;
  bytes.resize(length);
  size_t done = 0;
  while (done < length) {
    const ssize_t n = ::read(fd, bytes.data() + done, length - done);
    if (n <= 0) break;
    done += static_cast<size_t>(n);
  }
  bytes.resize(done);
  return bytes;
}

// True when the peer's end of stream arrives within `timeout`.
inline bool seesEndOfStream(int fd, std::chrono::milliseconds timeout = 5s) {
  pollfd entry{fd, POLLIN, 0};
  if (::poll(&entry, 1, static_cast<int>(timeout.count())) <= 0) return false;
  char byte;
  return ::recv(fd, &byte, 1, MSG_DONTWAIT) == 0;
}

// Closes with an RST instead of a FIN.
inline void resetConnection(UniqueFd& fd) {
  linger hard{1, 0};
  setsockopt(fd.get(), SOL_SOCKET, SO_LINGER, &hard, sizeof hard);
  fd.reset();
}

// A port nothing listens on (bound once, then released).
inline uint16_t closedPort() {
  UniqueFd probe = rawListen();
  return localPortOf(probe.get());
}

inline size_t openDescriptorCount() {
  size_t count = 0;
  for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator("/proc/self/fd")) {
    ++count;
  }
  return count;
}

// A fresh temporary folder, removed with the object.
class TempDir {
 public:
  TempDir() {
    std::string pattern = (std::filesystem::temp_directory_path() / "gcdsock-XXXXXX").string();
    path_ = ::mkdtemp(pattern.data()) ? pattern : std::string();
  }
  ~TempDir() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

// A delegate and its queue plus a listening socket that keeps what it accepts.
struct Fixture {
  std::shared_ptr<RecordingDelegate> delegate = std::make_shared<RecordingDelegate>();
  dispatch::ExecutorPtr delegateQueue = dispatch::makeSerialQueue("delegate");

  GCDAsyncSocketPtr makeSocket() { return GCDAsyncSocket::create(delegate, delegateQueue); }
};

// A connected pair: our accepted socket and a raw blocking peer.
struct AcceptedPair {
  Fixture fixture;
  GCDAsyncSocketPtr listener;
  GCDAsyncSocketPtr socket;  // the accepted one
  UniqueFd peer;

  explicit AcceptedPair(std::function<void(const GCDAsyncSocketPtr&)> configure = nullptr) {
    listener = fixture.makeSocket();
    SocketErrorPtr error;
    EXPECT_TRUE(listener->acceptOnInterface("127.0.0.1", 0, &error))
        << (error ? error->describe() : "");
    peer = rawConnect(listener->localPort4());
    socket = fixture.delegate->waitFor("accept").newSocket;
    if (socket && configure) configure(socket);
    fixture.delegate->clearSockets();
  }
  RecordingDelegate& delegate() { return *fixture.delegate; }
  void settle() { testing::settle(socket, fixture.delegateQueue); }
};

inline std::string pattern(size_t length) {
  std::string bytes(length, '\0');
  uint32_t state = 0x12345678;
  for (char& byte : bytes) {
    state = state * 1664525u + 1013904223u;
    byte = static_cast<char>(state >> 24);
  }
  return bytes;
}

}  // namespace vistrelle::netlocal::testing
