#pragma once

// The companion server on real loopback sockets, with the runtime's main
// queue on virtual time: the test thread runs the main queue (pump,
// advanceBy), the sockets run on the runtime's pool, and a raw blocking client
// reads what the server writes.
//
//   CompanionServerHarness harness;
//   CompanionClient client(harness.port());
//   harness.pumpUntil([&] { return harness.server->isConnect(); });
//   harness.server->sendTextMessageWithDict({{"type", 1}});
//   EXPECT_EQ(harness.readLine(client), R"({"type":1})");

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "base/state/main_state.h"
#include "netlocal/companion/orvex_local_server.h"
#include "platform/dispatch/runtime.h"
#include "platform/dispatch/unique_fd.h"
#include "platform/dispatch/virtual_executor.h"

namespace vistrelle::testing {

using namespace std::chrono_literals;

// A blocking TCP client of 127.0.0.1 (or ::1) that reads CR LF lines.
class CompanionClient {
 public:
  explicit CompanionClient(uint16_t port, int family = AF_INET, int receiveBuffer = 0)
      : fd_(::socket(family, SOCK_STREAM | SOCK_CLOEXEC, 0)) {
    if (receiveBuffer > 0) {
      setsockopt(fd_.get(), SOL_SOCKET, SO_RCVBUF, &receiveBuffer, sizeof receiveBuffer);
    }
    connected_ = connectTo(fd_.get(), port, family) == 0;
  }

  static int connectTo(int fd, uint16_t port, int family) {
    if (family == AF_INET6) {
      sockaddr_in6 address{};
      address.sin6_family = AF_INET6;
      address.sin6_port = htons(port);
      address.sin6_addr = in6addr_loopback;
      return ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
    }
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
  }

  bool connected() const { return connected_; }
  int fd() const { return fd_.get(); }
  void close() { fd_.reset(); }

  // Takes what has arrived without waiting; false at end of stream.
  bool drain() {
    char chunk[65536];
    for (;;) {
      const ssize_t n = ::recv(fd_.get(), chunk, sizeof chunk, MSG_DONTWAIT);
      if (n > 0) {
        buffer_.append(chunk, static_cast<size_t>(n));
        continue;
      }
      if (n == 0) {
        ended_ = true;
        return false;
      }
      return true;
    }
  }
  bool ended() const { return ended_; }
  // The next complete line (without CR LF), if one has arrived.
  bool takeLine(std::string* line) {
    const size_t end = buffer_.find("\r\n");
    if (end == std::string::npos) return false;
    *line = buffer_.substr(0, end);
    buffer_.erase(0, end + 2);
    return true;
  }
  const std::string& pending() const { return buffer_; }

  void send(const std::string& bytes) {
    size_t done = 0;
    while (done < bytes.size()) {
      const ssize_t n = ::send(fd_.get(), bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
      if (n <= 0) {
        ADD_FAILURE() << "send: " << std::strerror(errno);
        return;
      }
      done += static_cast<size_t>(n);
    }
  }

 private:
  dispatch::UniqueFd fd_;
  bool connected_ = false;
  bool ended_ = false;
  std::string buffer_;
};

// A port that nothing listened on a moment ago, on both loopback addresses.
inline uint16_t freeLoopbackPort() {
  for (int attempt = 0; attempt < 50; ++attempt) {
    dispatch::UniqueFd probe(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::bind(probe.get(), reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) continue;
    socklen_t length = sizeof address;
    getsockname(probe.get(), reinterpret_cast<sockaddr*>(&address), &length);
    const uint16_t port = ntohs(address.sin_port);
    dispatch::UniqueFd probe6(::socket(AF_INET6, SOCK_STREAM | SOCK_CLOEXEC, 0));
    const int on = 1;
    // As the server binds: TIME_WAIT leftovers do not count as taken.
    setsockopt(probe6.get(), SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    setsockopt(probe6.get(), IPPROTO_IPV6, IPV6_V6ONLY, &on, sizeof on);
    sockaddr_in6 address6{};
    address6.sin6_family = AF_INET6;
    address6.sin6_addr = in6addr_loopback;
    address6.sin6_port = htons(port);
    if (::bind(probe6.get(), reinterpret_cast<sockaddr*>(&address6), sizeof address6) == 0 ||
        errno == EADDRNOTAVAIL) {
      return port;
    }
  }
  ADD_FAILURE() << "no free loopback port";
  return 0;
}

class CompanionServerHarness {
 public:
  using Tweak = std::function<void(netlocal::OrvexLocalServer::Options&)>;

  explicit CompanionServerHarness(Tweak tweak = nullptr, bool start = true) {
    runtime_ = std::make_unique<dispatch::Runtime>(main, dispatch::Runtime::Options{4});
    netlocal::OrvexLocalServer::Options options;
    options.serverPort = freeLoopbackPort();
    options.state = &state;
    options.log = [this](std::string_view line) { record(line); };
    if (tweak) tweak(options);
    server = netlocal::OrvexLocalServer::create(std::move(options));
    if (start) server->start();
  }

  ~CompanionServerHarness() {
    if (server) server->stop();
    server.reset();
    // The sockets' last notices hold them; let them go before the runtime.
    main->runUntilIdle();
    runtime_.reset();
  }

  uint16_t port() const { return server->listeningPort(); }

  // Runs the main queue until `done` holds, at most `limit` of real time.
  bool pumpUntil(const std::function<bool()>& done, std::chrono::milliseconds limit = 10s) {
    const auto end = std::chrono::steady_clock::now() + limit;
    for (;;) {
      main->runUntilIdle();
      if (done()) return true;
      if (std::chrono::steady_clock::now() > end) {
        ADD_FAILURE() << "the awaited state did not come within the limit";
        return false;
      }
      std::this_thread::sleep_for(50us);
    }
  }

  // Pumps until the client has a whole line; empty after the limit.
  std::string readLine(CompanionClient& client, std::chrono::milliseconds limit = 10s) {
    std::string line;
    pumpUntil(
        [&] {
          client.drain();
          return client.takeLine(&line) || client.ended();
        },
        limit);
    return line;
  }

  // Pumps until every write handed to the client's socket has completed, so
  // that the -1 delay is armed.
  void settleWrites() {
    pumpUntil([&] { return server->queuedWriteBytes() == 0; });
    main->runUntilIdle();
  }

  // True when nothing arrives at `client` within a short real-time window,
  // with the main queue kept running.
  bool staysQuiet(CompanionClient& client, std::chrono::milliseconds window = 100ms) {
    const auto end = std::chrono::steady_clock::now() + window;
    while (std::chrono::steady_clock::now() < end) {
      main->runUntilIdle();
      client.drain();
      if (!client.pending().empty()) return false;
      std::this_thread::sleep_for(1ms);
    }
    return true;
  }

  std::vector<std::string> logs() const {
    std::lock_guard lock(mutex_);
    return logs_;
  }
  size_t countLogs(const std::string& fragment) const {
    std::lock_guard lock(mutex_);
    size_t count = 0;
    for (const std::string& line : logs_) count += line.find(fragment) != std::string::npos;
    return count;
  }
  void clearLogs() {
    std::lock_guard lock(mutex_);
    logs_.clear();
  }

  std::shared_ptr<dispatch::VirtualExecutor> main = std::make_shared<dispatch::VirtualExecutor>();
  MainState state;
  std::shared_ptr<netlocal::OrvexLocalServer> server;

 private:
  void record(std::string_view line) {
    std::lock_guard lock(mutex_);
    logs_.emplace_back(line);
  }

  std::unique_ptr<dispatch::Runtime> runtime_;
  mutable std::mutex mutex_;
  std::vector<std::string> logs_;
};

}  // namespace vistrelle::testing
