// GCDAsyncSocket: connecting.

#include <sys/socket.h>

#include <cstdio>
#include <cstring>

#include "netlocal/socket/gcd_async_socket.h"
#include "netlocal/socket/gcd_async_socket_internal.h"
#include "netlocal/socket/socket_address.h"
#include "platform/dispatch/reactor.h"
#include "platform/dispatch/thread_pool.h"
#include "platform/dispatch/unique_fd.h"

namespace vistrelle::netlocal {

int& GCDAsyncSocket::fdForFamily(int family) {
  if (family == AF_INET) return handles_.socket4FD;
  if (family == AF_INET6) return handles_.socket6FD;
  return handles_.socketUN;
}

dispatch::IoSourcePtr& GCDAsyncSocket::connectSourceForFamily(int family) {
  if (family == AF_INET) return handles_.connect4Source;
  if (family == AF_INET6) return handles_.connect6Source;
  return handles_.connectUNSource;
}

SocketErrorPtr GCDAsyncSocket::preConnectChecks(const std::string& interface, bool checkFamilies) {
  if (delegate_.expired()) {
    return SocketError::badConfig(
        "Attempting to connect without a delegate. Set a delegate first.");
  }
  if (!delegateQueue_) {
    return SocketError::badConfig(
        "Attempting to connect without a delegate queue. Set a delegate queue first.");
  }
  if (flags_.has(kSocketStarted)) {
    return SocketError::badConfig(
        "Attempting to connect while connected or accepting connections. Disconnect first.");
  }
  const uint16_t config = config_.load(std::memory_order_acquire);
  if (checkFamilies && (config & kIPv4Disabled) && (config & kIPv6Disabled)) {
    return SocketError::badConfig(
        "Both IPv4 and IPv6 have been disabled. Must enable at least one protocol first.");
  }
  if (!link_->live()) {
    return SocketError::badConfig("Attempting to connect after the dispatch runtime stopped.");
  }
  if (!interface.empty()) {
    Bytes address4, address6;
    getInterfaceAddress(interface, 0, &address4, &address6);
    if (address4.empty() && address6.empty()) {
      return SocketError::badParam(
          "Unknown interface. Specify valid interface by name (e.g. \"en1\") or IP address.");
    }
    if ((config & kIPv4Disabled) && address6.empty()) {
      return SocketError::badParam(
          "IPv4 has been disabled and specified interface doesn't support IPv6.");
    }
    if ((config & kIPv6Disabled) && address4.empty()) {
      return SocketError::badParam(
          "IPv6 has been disabled and specified interface doesn't support IPv4.");
    }
    connectInterface4_ = std::move(address4);
    connectInterface6_ = std::move(address6);
  }
  reads_.queue.clear();
  writes_.queue.clear();
  return nullptr;
}

bool GCDAsyncSocket::connectToHost(const std::string& host, uint16_t port, SocketErrorPtr* error) {
  return connectToHost(host, port, std::string(), -1, error);
}

bool GCDAsyncSocket::connectToHost(const std::string& host, uint16_t port, double timeout,
                                   SocketErrorPtr* error) {
  return connectToHost(host, port, std::string(), timeout, error);
}

bool GCDAsyncSocket::connectToHost(const std::string& host, uint16_t port,
                                   const std::string& interface, double timeout,
                                   SocketErrorPtr* error) {
  SocketErrorPtr failure;
  socketQueue_->sync([&] {
    if ((failure = preConnectChecks(interface, true))) return;
    if (host.empty()) {
      failure = SocketError::badParam(
          "Invalid host parameter (nil or \"\"). Should be a domain name or IP address string.");
      return;
    }
    flags_.set(kSocketStarted);
    const uint64_t attempt = stateIndex_;
    std::weak_ptr<GCDAsyncSocket> weak = weak_from_this();
    if (isLiteralHost(host)) {
      // Nothing to look up: answered on a later turn, as a look-up would be.
      socketQueue_->post(
          [weak, attempt, addresses = netlocal::lookupHost(host, port, nullptr)]() mutable {
            if (auto self = weak.lock()) self->lookupDidSucceed(attempt, std::move(addresses));
          });
      startConnectTimeout(timeout);
      return;
    }
    // getaddrinfo blocks: it runs on the global queue, never on the socket queue.
    link_->pool()->post([weak, link = link_, socketQueue = socketQueue_, host, port, attempt] {
      SocketErrorPtr lookupError;
      auto addresses = netlocal::lookupHost(host, port, &lookupError);
      link->postWhileLive(socketQueue,
                          [weak, attempt, addresses = std::move(addresses), lookupError]() mutable {
                            auto self = weak.lock();
                            if (!self) return;
                            if (lookupError) {
                              self->lookupDidFail(attempt, lookupError);
                            } else {
                              self->lookupDidSucceed(attempt, std::move(addresses));
                            }
                          });
    });
    startConnectTimeout(timeout);
  });
  setError(error, failure);
  return failure == nullptr;
}

void GCDAsyncSocket::lookupDidFail(uint64_t attempt, SocketErrorPtr error) {
  if (attempt != stateIndex_) return;  // a time-out or a close came first
  endConnectTimeout();
  closeWithError(std::move(error));
}

void GCDAsyncSocket::lookupDidSucceed(uint64_t attempt, std::vector<Bytes> addresses) {
  if (attempt != stateIndex_) return;
  Bytes address4, address6;
  for (const Bytes& address : addresses) {
    if (familyOf(address) == AF_INET && address4.empty()) address4 = address;
    if (familyOf(address) == AF_INET6 && address6.empty()) address6 = address;
  }
  const uint16_t config = config_.load(std::memory_order_acquire);
  const bool disabled4 = config & kIPv4Disabled;
  const bool disabled6 = config & kIPv6Disabled;
  if (disabled4 && address6.empty()) {
    closeWithError(
        SocketError::other("IPv4 has been disabled and DNS lookup found no IPv6 address."));
    return;
  }
  if (disabled6 && address4.empty()) {
    closeWithError(
        SocketError::other("IPv6 has been disabled and DNS lookup found no IPv4 address."));
    return;
  }
  if (disabled4) address4.clear();
  if (disabled6) address6.clear();
  if (auto error = connectWithAddresses(address4, address6)) closeWithError(error);
}

bool GCDAsyncSocket::connectToAddress(const Bytes& remoteAddr, SocketErrorPtr* error) {
  return connectToAddress(remoteAddr, std::string(), -1, error);
}

bool GCDAsyncSocket::connectToAddress(const Bytes& remoteAddr, double timeout,
                                      SocketErrorPtr* error) {
  return connectToAddress(remoteAddr, std::string(), timeout, error);
}

bool GCDAsyncSocket::connectToAddress(const Bytes& remoteAddr, const std::string& interface,
                                      double timeout, SocketErrorPtr* error) {
  SocketErrorPtr failure;
  socketQueue_->sync([&] {
    if ((failure = preConnectChecks(interface, true))) return;
    const int family = familyOf(remoteAddr);
    if (family != AF_INET && family != AF_INET6) {
      failure = SocketError::badParam("A valid IPv4 or IPv6 address was not given");
      return;
    }
    const uint16_t config = config_.load(std::memory_order_acquire);
    if (family == AF_INET && (config & kIPv4Disabled)) {
      failure = SocketError::badParam("IPv4 has been disabled and an IPv4 address was passed.");
      return;
    }
    if (family == AF_INET6 && (config & kIPv6Disabled)) {
      failure = SocketError::badParam("IPv6 has been disabled and an IPv6 address was passed.");
      return;
    }
    failure = family == AF_INET ? connectWithAddresses(remoteAddr, {})
                                : connectWithAddresses({}, remoteAddr);
    if (failure) return;
    flags_.set(kSocketStarted);
    startConnectTimeout(timeout);
  });
  setError(error, failure);
  return failure == nullptr;
}

bool GCDAsyncSocket::connectToUrl(const std::string& url, double timeout, SocketErrorPtr* error) {
  SocketErrorPtr failure;
  socketQueue_->sync([&] {
    if ((failure = preConnectChecks(std::string(), false))) return;
    const std::string path = unixPathFromUrl(url);
    if (makeAddressUN(path).empty()) {
      failure = SocketError::badParam("Invalid unix domain socket url.");
      return;
    }
    if ((failure = connectWithAddressUN(path))) return;
    flags_.set(kSocketStarted);
    startConnectTimeout(timeout);
  });
  setError(error, failure);
  return failure == nullptr;
}

int GCDAsyncSocket::createConnectSocket(int family, const Bytes& connectInterface,
                                        SocketErrorPtr* error) {
  dispatch::UniqueFd fd(::socket(family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
  if (!fd) {
    setError(error, SocketError::posix(errno, "Error in socket() function"));
    return -1;
  }
  if (!connectInterface.empty()) {
    if (portFromAddress(connectInterface) > 0) {
      const int on = 1;
      setsockopt(fd.get(), SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    }
    if (::bind(fd.get(), reinterpret_cast<const sockaddr*>(connectInterface.data()),
               static_cast<socklen_t>(connectInterface.size())) != 0) {
      setError(error, SocketError::posix(errno, "Error in bind() function"));
      return -1;
    }
  }
  return fd.release();
}

SocketErrorPtr GCDAsyncSocket::connectWithAddresses(const Bytes& address4In,
                                                    const Bytes& address6In) {
  Bytes address4 = address4In, address6 = address6In;
  // With a connect interface, only the families it has an address for.
  if (!connectInterface4_.empty() || !connectInterface6_.empty()) {
    if (connectInterface4_.empty()) address4.clear();
    if (connectInterface6_.empty()) address6.clear();
    if (address4.empty() && address6.empty()) {
      return SocketError::badParam(
          "Unknown interface. Specify valid interface by name (e.g. \"en1\") or IP address.");
    }
  }
  SocketErrorPtr error;
  if (!address4.empty()) {
    handles_.socket4FD = createConnectSocket(AF_INET, connectInterface4_, &error);
    if (handles_.socket4FD < 0) return error;
  }
  if (!address6.empty()) {
    handles_.socket6FD = createConnectSocket(AF_INET6, connectInterface6_, &error);
    if (handles_.socket6FD < 0) {
      closeDescriptor(std::exchange(handles_.socket4FD, -1));
      return error;
    }
  }
  const bool both = !address4.empty() && !address6.empty();
  const bool preferIPv6 =
      (config_.load(std::memory_order_acquire) & kPreferIPv6) || address4.empty();
  const int primary = preferIPv6 ? AF_INET6 : AF_INET;
  connectSocket(primary, primary == AF_INET ? address4 : address6);
  if (both) {
    const int alternate = primary == AF_INET ? AF_INET6 : AF_INET;
    Bytes alternateAddress = alternate == AF_INET ? address4 : address6;
    const uint64_t attempt = stateIndex_;
    std::weak_ptr<GCDAsyncSocket> weak = weak_from_this();
    handles_.alternateConnect = socketQueue_->postAfter(
        toNanos(alternateAddressDelay()), [weak, attempt, alternate, alternateAddress] {
          auto self = weak.lock();
          if (!self || self->stateIndex_ != attempt || self->flags_.has(kConnected)) return;
          if (self->fdForFamily(alternate) < 0) return;
          self->connectSocket(alternate, alternateAddress);
        });
  }
  return nullptr;
}

SocketErrorPtr GCDAsyncSocket::connectWithAddressUN(const std::string& path) {
  SocketErrorPtr error;
  handles_.socketUN = createConnectSocket(AF_UNIX, {}, &error);
  if (handles_.socketUN < 0) return error;
  socketUrl_ = path;
  connectSocket(AF_UNIX, makeAddressUN(path));
  return nullptr;
}

void GCDAsyncSocket::connectSocket(int family, Bytes address) {
  const int fd = fdForFamily(family);
  const uint64_t attempt = stateIndex_;
  std::weak_ptr<GCDAsyncSocket> weak = weak_from_this();
  int result;
  do {
    result = ::connect(fd, reinterpret_cast<const sockaddr*>(address.data()),
                       static_cast<socklen_t>(address.size()));
  } while (result < 0 && errno == EINTR);
  if (result == 0 || errno != EINPROGRESS) {
    // Reported later, like any other result, so that the caller's time-out
    // is in place first.
    const int error = result == 0 ? 0 : errno;
    socketQueue_->post([weak, family, attempt, error] {
      if (auto self = weak.lock()) self->connectFinished(family, attempt, error);
    });
    return;
  }
  // A non-blocking connect completes when the descriptor becomes writable;
  // SO_ERROR then holds its result.
  auto source = link_->reactor().makeWriteSource(fd, socketQueue_);
  source->setEventHandler([weak, family, attempt, fd] {
    auto self = weak.lock();
    if (!self || self->stateIndex_ != attempt) return;
    int error = 0;
    socklen_t length = sizeof error;
    if (getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &length) != 0) error = errno;
    self->connectFinished(family, attempt, error);
  });
  source->resume();
  connectSourceForFamily(family) = std::move(source);
}

void GCDAsyncSocket::closeConnectAttempt(int family) {
  if (auto& source = connectSourceForFamily(family)) {
    source->cancel();
    source.reset();
  }
  closeDescriptor(std::exchange(fdForFamily(family), -1));
}

void GCDAsyncSocket::connectFinished(int family, uint64_t attempt, int error) {
  if (attempt != stateIndex_ || flags_.has(kConnected)) return;
  if (auto& source = connectSourceForFamily(family)) {
    source->cancel();
    source.reset();
  }
  if (error == 0) {
    didConnect(family);
    return;
  }
  closeConnectAttempt(family);
  std::fprintf(stderr, "connect: %s\n", std::strerror(error));
  if (handles_.socket4FD < 0 && handles_.socket6FD < 0 && handles_.socketUN < 0) {
    closeWithError(SocketError::posix(error, "Error in connect() function"));
  }
}

void GCDAsyncSocket::didConnect(int family) {
  for (int other : {AF_INET, AF_INET6, AF_UNIX}) {
    if (other != family) closeConnectAttempt(other);
  }
  endConnectTimeout();
  flags_.set(kConnected);
  setupConnection(fdForFamily(family));
  notifyConnected();
}

void GCDAsyncSocket::notifyConnected() {
  if (handles_.socketUN >= 0) {
    std::string url = "file://" + socketUrl_;
    notifyDelegate([url](GCDAsyncSocketDelegate& delegate, const GCDAsyncSocketPtr& self) {
      delegate.socketDidConnectToUrl(self, url);
    });
  } else {
    const AddressInfo peer = publishedAddress(Family::Internet, true);
    notifyDelegate([host = peer.host, port = peer.port](GCDAsyncSocketDelegate& delegate,
                                                        const GCDAsyncSocketPtr& self) {
      delegate.socketDidConnectToHost(self, host, port);
    });
  }
  maybeDequeue(Side::Read);
  maybeDequeue(Side::Write);
}

void GCDAsyncSocket::startConnectTimeout(double timeout) {
  if (timeout < 0) return;
  auto timer = dispatch::TimerSource::create(socketQueue_);
  std::weak_ptr<GCDAsyncSocket> weak = weak_from_this();
  timer->setEventHandler([weak] {
    if (auto self = weak.lock()) self->doConnectTimeout();
  });
  timer->setTimer(socketQueue_->now() + toNanos(timeout), dispatch::Nanos(0));
  timer->resume();
  handles_.connectTimer = std::move(timer);
}

void GCDAsyncSocket::endConnectTimeout() {
  if (handles_.connectTimer) {
    handles_.connectTimer->cancel();
    handles_.connectTimer.reset();
  }
  handles_.alternateConnect.cancel();
  // Late results of the attempts so far no longer count.
  ++stateIndex_;
  connectInterface4_.clear();
  connectInterface6_.clear();
}

void GCDAsyncSocket::doConnectTimeout() {
  endConnectTimeout();
  closeWithError(SocketError::connectTimeout());
}

}  // namespace vistrelle::netlocal
