// GCDAsyncSocket: listening and accepting.

#include <sys/socket.h>
#include <sys/stat.h>

#include <algorithm>

#include "netlocal/socket/gcd_async_socket.h"
#include "netlocal/socket/gcd_async_socket_internal.h"
#include "netlocal/socket/socket_address.h"
#include "platform/dispatch/reactor.h"
#include "platform/dispatch/unique_fd.h"

namespace vistrelle::netlocal {

namespace {

constexpr int kListenBacklog = 1024;
// Accepts per readiness event before other work on the queue gets a turn.
constexpr int kMaxAcceptsPerEvent = 64;
// How long accepting pauses when the process is out of descriptors: the
// listener stays readable, so without a pause the source would spin.
constexpr dispatch::Nanos kAcceptPauseOnExhaustion = std::chrono::milliseconds(100);

}  // namespace

SocketErrorPtr GCDAsyncSocket::preAcceptChecks(bool checkFamilies) const {
  if (delegate_.expired()) {
    return SocketError::badConfig("Attempting to accept without a delegate. Set a delegate first.");
  }
  if (!delegateQueue_) {
    return SocketError::badConfig(
        "Attempting to accept without a delegate queue. Set a delegate queue first.");
  }
  const uint16_t config = config_.load(std::memory_order_acquire);
  if (checkFamilies && (config & kIPv4Disabled) && (config & kIPv6Disabled)) {
    return SocketError::badConfig(
        "Both IPv4 and IPv6 have been disabled. Must enable at least one protocol first.");
  }
  if (flags_.has(kSocketStarted)) {
    return SocketError::badConfig(
        "Attempting to accept while connected or accepting connections. Disconnect first.");
  }
  if (!link_->live()) {
    return SocketError::badConfig("Attempting to accept after the dispatch runtime stopped.");
  }
  return nullptr;
}

bool GCDAsyncSocket::acceptOnPort(uint16_t port, SocketErrorPtr* error) {
  return acceptOnInterface(std::string(), port, error);
}

int GCDAsyncSocket::createListenSocket(const Bytes& interfaceAddr, SocketErrorPtr* error) {
  const int family = familyOf(interfaceAddr);
  dispatch::UniqueFd fd(::socket(family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
  if (!fd) {
    setError(error, SocketError::posix(errno, "Error in socket() function"));
    return -1;
  }
  const int on = 1;
  if (setsockopt(fd.get(), SOL_SOCKET, SO_REUSEADDR, &on, sizeof on) != 0) {
    setError(error, SocketError::posix(errno, "Error enabling address reuse (setsockopt)"));
    return -1;
  }
  // Linux listens on both families through one IPv6 socket by default; ours
  // are separate, so the IPv6 one must leave IPv4 to its sibling.
  if (family == AF_INET6 && setsockopt(fd.get(), IPPROTO_IPV6, IPV6_V6ONLY, &on, sizeof on) != 0) {
    setError(error, SocketError::posix(errno, "Error in setsockopt() function"));
    return -1;
  }
  if (::bind(fd.get(), reinterpret_cast<const sockaddr*>(interfaceAddr.data()),
             static_cast<socklen_t>(interfaceAddr.size())) != 0) {
    setError(error, SocketError::posix(errno, "Error in bind() function"));
    return -1;
  }
  if (::listen(fd.get(), kListenBacklog) != 0) {
    setError(error, SocketError::posix(errno, "Error in listen() function"));
    return -1;
  }
  return fd.release();
}

void GCDAsyncSocket::setupAcceptSource(int listenFD, dispatch::IoSourcePtr* slot,
                                       bool unlinkOnCancel) {
  auto source = link_->reactor().makeReadSource(listenFD, socketQueue_);
  dispatch::IoSource* raw = source.get();
  std::weak_ptr<GCDAsyncSocket> weak = weak_from_this();
  source->setEventHandler([weak, raw, listenFD] {
    if (auto self = weak.lock()) self->doAccept(listenFD, raw->shared_from_this());
  });
  std::string path = unlinkOnCancel ? socketUrl_ : std::string();
  source->setCancelHandler([listenFD, path] {
    closeDescriptor(listenFD);
    if (!path.empty()) ::unlink(path.c_str());
  });
  source->resume();
  *slot = std::move(source);
}

bool GCDAsyncSocket::acceptOnInterface(const std::string& interface, uint16_t port,
                                       SocketErrorPtr* error) {
  SocketErrorPtr failure;
  socketQueue_->sync([&] {
    if ((failure = preAcceptChecks(true))) return;
    reads_.queue.clear();
    writes_.queue.clear();

    Bytes address4, address6;
    getInterfaceAddress(interface, port, &address4, &address6);
    if (address4.empty() && address6.empty()) {
      failure = SocketError::badParam(
          "Unknown interface. Specify valid interface by name (e.g. \"en1\") or IP address.");
      return;
    }
    const uint16_t config = config_.load(std::memory_order_acquire);
    const bool disabled4 = config & kIPv4Disabled;
    const bool disabled6 = config & kIPv6Disabled;
    if (disabled4 && address6.empty()) {
      failure = SocketError::badParam(
          "IPv4 has been disabled and specified interface doesn't support IPv6.");
      return;
    }
    if (disabled6 && address4.empty()) {
      failure = SocketError::badParam(
          "IPv6 has been disabled and specified interface doesn't support IPv4.");
      return;
    }
    const bool enable4 = !disabled4 && !address4.empty();
    const bool enable6 = !disabled6 && !address6.empty();

    int fd4 = -1, fd6 = -1;
    if (enable4) {
      fd4 = createListenSocket(address4, &failure);
      if (fd4 < 0) return;
    }
    if (enable6) {
      if (enable4 && portFromAddress(address6) == 0) {
        // Both families on the one port the system chose for IPv4.
        const auto local4 = addressInfo(fd4, false);
        setPort(address6, local4 ? local4->port : 0);
      }
      fd6 = createListenSocket(address6, &failure);
      if (fd6 < 0) {
        closeDescriptor(fd4);
        return;
      }
    }
    handles_.socket4FD = fd4;
    handles_.socket6FD = fd6;
    if (fd4 >= 0) setupAcceptSource(fd4, &handles_.accept4Source, false);
    if (fd6 >= 0) setupAcceptSource(fd6, &handles_.accept6Source, false);
    flags_.set(kSocketStarted);
    publishEndpoints();
  });
  setError(error, failure);
  return failure == nullptr;
}

bool GCDAsyncSocket::acceptOnUrl(const std::string& url, SocketErrorPtr* error) {
  SocketErrorPtr failure;
  socketQueue_->sync([&] {
    if ((failure = preAcceptChecks(false))) return;
    reads_.queue.clear();
    writes_.queue.clear();
    const std::string path = unixPathFromUrl(url);
    struct stat info {};
    if (!path.empty() && ::lstat(path.c_str(), &info) == 0) {
      // Only a stale socket of ours is fair to remove; anything else at the
      // path belongs to someone.
      if (!S_ISSOCK(info.st_mode) || ::unlink(path.c_str()) != 0) {
        failure = SocketError::other("Could not remove previous unix domain socket at given url.");
        return;
      }
    }
    const Bytes address = makeAddressUN(path);
    if (address.empty()) {
      failure = SocketError::badParam(
          "Invalid unix domain url. Specify a valid file url that does not exist (e.g. "
          "\"file:///tmp/socket\")");
      return;
    }
    const int fd = createListenSocket(address, &failure);
    if (fd < 0) return;
    handles_.socketUN = fd;
    handles_.listenerPath = path;
    socketUrl_ = path;
    setupAcceptSource(fd, &handles_.acceptUNSource, true);
    flags_.set(kSocketStarted);
    publishEndpoints();
  });
  setError(error, failure);
  return failure == nullptr;
}

void GCDAsyncSocket::doAccept(int listenFD, const dispatch::IoSourcePtr& source) {
  const unsigned long reported = source->data();
  const int limit = reported > 0
                        ? static_cast<int>(std::min<unsigned long>(reported, kMaxAcceptsPerEvent))
                        : kMaxAcceptsPerEvent;
  for (int i = 0; i < limit; ++i) {
    sockaddr_storage addr{};
    socklen_t length = sizeof addr;
    int child;
    do {
      child = ::accept4(listenFD, reinterpret_cast<sockaddr*>(&addr), &length,
                        SOCK_NONBLOCK | SOCK_CLOEXEC);
    } while (child < 0 && errno == EINTR);
    if (child < 0) {
      if (errno == EMFILE || errno == ENFILE || errno == ENOBUFS || errno == ENOMEM) {
        // The pending connection keeps the listener readable: pause instead of spinning.
        source->suspend();
        std::weak_ptr<dispatch::IoSource> weakSource = source;
        handles_.acceptPause = socketQueue_->postAfter(kAcceptPauseOnExhaustion, [weakSource] {
          if (auto paused = weakSource.lock()) paused->resume();
        });
      }
      return;
    }
    const auto* begin = reinterpret_cast<const uint8_t*>(&addr);
    acceptedSocket(child, Bytes(begin, begin + std::min<size_t>(length, sizeof addr)));
  }
}

void GCDAsyncSocket::acceptedSocket(int childFD, Bytes address) {
  // Owned until the accepted socket takes it, so that no road leaks it.
  auto owned = std::make_shared<dispatch::UniqueFd>(childFD);
  if (!delegateQueue_) return;
  const int family = familyOf(address) == AF_UNSPEC ? AF_UNIX : familyOf(address);
  delegateQueue_->post([delegate = delegate_, delegateQueue = delegateQueue_,
                        self = shared_from_this(), owned, address = std::move(address), family] {
    auto target = delegate.lock();
    dispatch::ExecutorPtr childQueue;
    if (target) childQueue = target->newSocketQueueForConnectionFromAddress(address, self);
    auto accepted = GCDAsyncSocket::create(delegate, delegateQueue, childQueue);
    // A connection that comes in as the runtime stops is refused.  Checked
    // after the new socket registered its stop: either that stop still runs,
    // or the listener's own stop has already marked it.
    if (!self->link_->live()) return;
    bool adopted = false;
    accepted->socketQueue_->sync(
        [&] { adopted = accepted->adoptAcceptedDescriptor(owned->release(), family); });
    if (adopted && target) target->socketDidAcceptNewSocket(self, accepted);
  });
}

bool GCDAsyncSocket::adoptAcceptedDescriptor(int fd, int family) {
  if (!link_->live()) {
    closeDescriptor(fd);
    return false;
  }
  fdForFamily(family) = fd;
  flags_.set(kSocketStarted | kConnected);
  setupConnection(fd);
  return true;
}

}  // namespace vistrelle::netlocal
