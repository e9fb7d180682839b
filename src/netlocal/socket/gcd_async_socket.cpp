#include "netlocal/socket/gcd_async_socket.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>

#include "netlocal/socket/gcd_async_socket_secure_layer.h"
#include "netlocal/socket/gcd_async_special_packet.h"
#include "platform/dispatch/reactor.h"
#include "platform/dispatch/runtime.h"
#include "platform/dispatch/serial_queue.h"
#include "platform/dispatch/thread_pool.h"
#include "platform/dispatch/unique_fd.h"

namespace vistrelle::netlocal {

namespace {

enum SocketFlags : uint32_t {
  kSocketStarted = 1 << 0,
  kConnected = 1 << 1,
  kForbidReadsWrites = 1 << 2,
  kReadsPaused = 1 << 3,
  kWritesPaused = 1 << 4,
  kDisconnectAfterReads = 1 << 5,
  kDisconnectAfterWrites = 1 << 6,
  kSocketCanAcceptBytes = 1 << 7,
  kReadSourceSuspended = 1 << 8,
  kWriteSourceSuspended = 1 << 9,
  kQueuedTLS = 1 << 10,
  kStartingReadTLS = 1 << 11,
  kStartingWriteTLS = 1 << 12,
  kSocketSecure = 1 << 13,
  kSocketHasReadEOF = 1 << 14,
  kReadStreamClosed = 1 << 15,
  kDealloc = 1 << 16,
};

enum SocketConfig : uint16_t {
  kIPv4Disabled = 1 << 0,
  kIPv6Disabled = 1 << 1,
  kPreferIPv6 = 1 << 2,
  kAllowHalfDuplexConnection = 1 << 3,
};

constexpr int kListenBacklog = 1024;
// Accepts per readiness event before other work on the queue gets a turn.
constexpr int kMaxAcceptsPerEvent = 64;
// How long accepting pauses when the process is out of descriptors: the
// listener stays readable, so without a pause the source would spin.
constexpr dispatch::Nanos kAcceptPauseOnExhaustion = std::chrono::milliseconds(100);
constexpr size_t kPreBufferCapacity = 4096;

dispatch::Nanos toNanos(double seconds) {
  return std::chrono::duration_cast<dispatch::Nanos>(std::chrono::duration<double>(seconds));
}

void setError(SocketErrorPtr* out, SocketErrorPtr error) {
  if (out) *out = std::move(error);
}

void closeDescriptor(int fd) {
  // close() must not be retried on EINTR on Linux: the descriptor is gone either way.
  if (fd >= 0) ::close(fd);
}

Bytes addressBytes(const sockaddr* addr, socklen_t length) {
  const auto* begin = reinterpret_cast<const uint8_t*>(addr);
  return Bytes(begin, begin + length);
}

Bytes makeAddress4(in_addr address, uint16_t port) {
  sockaddr_in sin{};
  sin.sin_family = AF_INET;
  sin.sin_port = htons(port);
  sin.sin_addr = address;
  return addressBytes(reinterpret_cast<const sockaddr*>(&sin), sizeof sin);
}

Bytes makeAddress6(in6_addr address, uint16_t port, uint32_t scope = 0) {
  sockaddr_in6 sin6{};
  sin6.sin6_family = AF_INET6;
  sin6.sin6_port = htons(port);
  sin6.sin6_addr = address;
  sin6.sin6_scope_id = scope;
  return addressBytes(reinterpret_cast<const sockaddr*>(&sin6), sizeof sin6);
}

int familyOf(const Bytes& address) {
  if (address.size() < sizeof(sa_family_t)) return AF_UNSPEC;
  sa_family_t family;
  std::memcpy(&family, address.data(), sizeof family);
  if (family == AF_INET && address.size() >= sizeof(sockaddr_in)) return AF_INET;
  if (family == AF_INET6 && address.size() >= sizeof(sockaddr_in6)) return AF_INET6;
  if (family == AF_UNIX) return AF_UNIX;
  return AF_UNSPEC;
}

void setPort(Bytes& address, uint16_t port) {
  if (familyOf(address) == AF_INET) {
    sockaddr_in sin;
    std::memcpy(&sin, address.data(), sizeof sin);
    sin.sin_port = htons(port);
    std::memcpy(address.data(), &sin, sizeof sin);
  } else if (familyOf(address) == AF_INET6) {
    sockaddr_in6 sin6;
    std::memcpy(&sin6, address.data(), sizeof sin6);
    sin6.sin6_port = htons(port);
    std::memcpy(address.data(), &sin6, sizeof sin6);
  }
}

// A local-domain path from a file URL or an absolute path; empty if neither.
std::string unixPathFromUrl(const std::string& url) {
  static constexpr std::string_view kScheme = "file://";
  std::string path;
  if (url.compare(0, kScheme.size(), kScheme) == 0) {
    path = url.substr(kScheme.size());
  } else {
    path = url;
  }
  if (path.empty() || path.front() != '/') return {};
  return path;
}

// A sockaddr_un for `path`, or empty when it does not fit sun_path.
Bytes makeAddressUN(const std::string& path) {
  sockaddr_un sun{};
  if (path.empty() || path.size() >= sizeof sun.sun_path) return {};
  sun.sun_family = AF_UNIX;
  std::memcpy(sun.sun_path, path.data(), path.size());
  return addressBytes(reinterpret_cast<const sockaddr*>(&sun), sizeof sun);
}

// Resolves an interface description into an IPv4 and an IPv6 address with
// the port.  Only a description with exactly one ':' (or a bracketed IPv6
// literal) carries a port, so "::1" and "fe80::1" stay addresses.
void getInterfaceAddress(const std::string& description, uint16_t port, Bytes* address4,
                         Bytes* address6) {
  std::string name = description;
  std::optional<std::string> portText;
  if (!description.empty() && description.front() == '[') {
    const size_t close = description.find(']');
    if (close != std::string::npos) {
      name = description.substr(1, close - 1);
      if (close + 1 < description.size() && description[close + 1] == ':') {
        portText = description.substr(close + 2);
      }
    }
  } else if (std::count(description.begin(), description.end(), ':') == 1) {
    const size_t colon = description.find(':');
    name = description.substr(0, colon);
    portText = description.substr(colon + 1);
  }
  if (port == 0 && portText) {
    char* end = nullptr;
    const long value = std::strtol(portText->c_str(), &end, 10);
    port = (end && *end == '\0' && value >= 1 && value <= 65535) ? static_cast<uint16_t>(value) : 0;
  }

  address4->clear();
  address6->clear();
  if (name.empty()) {
    in_addr any4{htonl(INADDR_ANY)};
    *address4 = makeAddress4(any4, port);
    *address6 = makeAddress6(in6addr_any, port);
    return;
  }
  if (name == "localhost" || name == "loopback") {
    in_addr loop4{htonl(INADDR_LOOPBACK)};
    *address4 = makeAddress4(loop4, port);
    *address6 = makeAddress6(in6addr_loopback, port);
    return;
  }
  in_addr numeric4{};
  in6_addr numeric6{};
  const bool is4 = inet_pton(AF_INET, name.c_str(), &numeric4) == 1;
  const bool is6 = inet_pton(AF_INET6, name.c_str(), &numeric6) == 1;
  ifaddrs* list = nullptr;
  if (getifaddrs(&list) != 0) return;
  for (ifaddrs* entry = list; entry; entry = entry->ifa_next) {
    if (!entry->ifa_addr) continue;
    const bool nameMatches = entry->ifa_name && name == entry->ifa_name;
    if (entry->ifa_addr->sa_family == AF_INET && address4->empty()) {
      const auto* sin = reinterpret_cast<const sockaddr_in*>(entry->ifa_addr);
      if (nameMatches || (is4 && sin->sin_addr.s_addr == numeric4.s_addr)) {
        *address4 = makeAddress4(sin->sin_addr, port);
      }
    } else if (entry->ifa_addr->sa_family == AF_INET6 && address6->empty()) {
      const auto* sin6 = reinterpret_cast<const sockaddr_in6*>(entry->ifa_addr);
      if (nameMatches || (is6 && std::memcmp(&sin6->sin6_addr, &numeric6, sizeof numeric6) == 0)) {
        *address6 = makeAddress6(sin6->sin6_addr, port, sin6->sin6_scope_id);
      }
    }
  }
  freeifaddrs(list);
}

// Hosts answered without getaddrinfo: the loopback names and numeric addresses.
bool isLiteralHost(const std::string& host) {
  if (host == "localhost" || host == "loopback") return true;
  in_addr numeric4{};
  in6_addr numeric6{};
  return inet_pton(AF_INET, host.c_str(), &numeric4) == 1 ||
         inet_pton(AF_INET6, host.c_str(), &numeric6) == 1;
}

struct AddressInfo {
  std::string host;
  uint16_t port = 0;
  int family = AF_UNSPEC;
};

std::optional<AddressInfo> describeAddress(const sockaddr* addr, socklen_t length) {
  char text[INET6_ADDRSTRLEN] = {};
  if (addr->sa_family == AF_INET && length >= sizeof(sockaddr_in)) {
    const auto* sin = reinterpret_cast<const sockaddr_in*>(addr);
    if (!inet_ntop(AF_INET, &sin->sin_addr, text, sizeof text)) return std::nullopt;
    return AddressInfo{text, ntohs(sin->sin_port), AF_INET};
  }
  if (addr->sa_family == AF_INET6 && length >= sizeof(sockaddr_in6)) {
    const auto* sin6 = reinterpret_cast<const sockaddr_in6*>(addr);
    if (!inet_ntop(AF_INET6, &sin6->sin6_addr, text, sizeof text)) return std::nullopt;
    return AddressInfo{text, ntohs(sin6->sin6_port), AF_INET6};
  }
  return std::nullopt;
}

std::optional<AddressInfo> peerOf(int fd) {
  if (fd < 0) return std::nullopt;
  sockaddr_storage addr{};
  socklen_t length = sizeof addr;
  if (getpeername(fd, reinterpret_cast<sockaddr*>(&addr), &length) != 0) return std::nullopt;
  return describeAddress(reinterpret_cast<sockaddr*>(&addr), length);
}

std::optional<AddressInfo> localOf(int fd) {
  if (fd < 0) return std::nullopt;
  sockaddr_storage addr{};
  socklen_t length = sizeof addr;
  if (getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &length) != 0) return std::nullopt;
  return describeAddress(reinterpret_cast<sockaddr*>(&addr), length);
}

Bytes addressOf(int fd, bool peer) {
  if (fd < 0) return {};
  sockaddr_storage addr{};
  socklen_t length = sizeof addr;
  const int result = peer ? getpeername(fd, reinterpret_cast<sockaddr*>(&addr), &length)
                          : getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &length);
  if (result != 0) return {};
  return addressBytes(reinterpret_cast<sockaddr*>(&addr), length);
}

ssize_t readRetrying(int fd, void* buffer, size_t length) {
  ssize_t result;
  do {
    result = ::read(fd, buffer, length);
  } while (result < 0 && errno == EINTR);
  return result;
}

ssize_t sendRetrying(int fd, const void* buffer, size_t length) {
  ssize_t result;
  do {
    // MSG_NOSIGNAL: a peer that closed turns into EPIPE, never a SIGPIPE.
    result = ::send(fd, buffer, length, MSG_NOSIGNAL);
  } while (result < 0 && errno == EINTR);
  return result;
}

}  // namespace

// ---------------------------------------------------------------------------
// Creation and destruction

GCDAsyncSocket::GCDAsyncSocket(std::weak_ptr<GCDAsyncSocketDelegate> delegate,
                               dispatch::ExecutorPtr delegateQueue,
                               dispatch::ExecutorPtr socketQueue, Environment environment)
    : delegate_(std::move(delegate)),
      delegateQueue_(std::move(delegateQueue)),
      socketQueue_(std::move(socketQueue)),
      environment_(std::move(environment)),
      preBuffer_(kPreBufferCapacity) {}

GCDAsyncSocketPtr GCDAsyncSocket::create(std::weak_ptr<GCDAsyncSocketDelegate> delegate,
                                         dispatch::ExecutorPtr delegateQueue,
                                         dispatch::ExecutorPtr socketQueue,
                                         Environment environment) {
  if (!environment.reactor) environment.reactor = &dispatch::Runtime::shared().reactor();
  if (!environment.pool) environment.pool = dispatch::Runtime::shared().pool();
  if (!socketQueue) socketQueue = dispatch::SerialQueue::create("GCDAsyncSocket", environment.pool);
  return GCDAsyncSocketPtr(new GCDAsyncSocket(std::move(delegate), std::move(delegateQueue),
                                              std::move(socketQueue), std::move(environment)));
}

GCDAsyncSocketPtr GCDAsyncSocket::createWithSocketQueue(dispatch::ExecutorPtr socketQueue,
                                                        Environment environment) {
  return create({}, nullptr, std::move(socketQueue), std::move(environment));
}

GCDAsyncSocketPtr GCDAsyncSocket::socketFromConnectedSocketFD(
    int socketFD, std::weak_ptr<GCDAsyncSocketDelegate> delegate,
    dispatch::ExecutorPtr delegateQueue, dispatch::ExecutorPtr socketQueue, SocketErrorPtr* error,
    Environment environment) {
  sockaddr_storage addr{};
  socklen_t length = sizeof addr;
  if (getpeername(socketFD, reinterpret_cast<sockaddr*>(&addr), &length) != 0) {
    setError(error, SocketError::other(
                        "Attempt to create socket from socket FD failed. getpeername() failed"));
    return nullptr;
  }
  const int family = addr.ss_family;
  if (family != AF_INET && family != AF_INET6) {
    setError(error, SocketError::other("Attempt to create socket from socket FD failed. socket FD "
                                       "is neither IPv4 nor IPv6"));
    return nullptr;
  }
  auto socket = create(std::move(delegate), std::move(delegateQueue), std::move(socketQueue),
                       std::move(environment));
  SocketErrorPtr failure;
  socket->socketQueue_->sync([&] {
    const int flags = fcntl(socketFD, F_GETFL);
    if (flags < 0 || fcntl(socketFD, F_SETFL, flags | O_NONBLOCK) < 0) {
      failure = SocketError::other("Error enabling non-blocking IO on socket (fcntl)");
      return;
    }
    socket->fdForFamily(family) = socketFD;
    socket->flags_ |= kSocketStarted | kConnected;
    socket->setupReadAndWriteSources(socketFD);
    socket->notifyConnected();
  });
  if (failure) {
    setError(error, failure);
    return nullptr;
  }
  return socket;
}

GCDAsyncSocket::~GCDAsyncSocket() {
  // Nothing else holds the socket now: sources and timers hold it weakly.
  socketQueue_->sync([this] {
    flags_ |= kDealloc;
    closeWithError(nullptr);
  });
}

// ---------------------------------------------------------------------------
// Queue helpers

template <typename Result>
Result GCDAsyncSocket::onSocketQueue(const std::function<Result()>& task) const {
  Result result{};
  socketQueue_->sync([&] { result = task(); });
  return result;
}

void GCDAsyncSocket::async(std::function<void(GCDAsyncSocket&)> task) {
  // On the socket queue: a later turn, so that nothing nests.  On a pool
  // thread: never wait there, since the socket queue may need that very
  // pool to finish what it is doing.
  if (socketQueue_->isCurrent() || environment_.pool->isCurrent()) {
    socketQueue_->post([self = shared_from_this(), task = std::move(task)] { task(*self); });
    return;
  }
  // From any other thread (the main queue, typically the delegate reading
  // its next line) the request is queued at once: on an idle socket queue it
  // runs right here, which saves two thread hand-offs per request.
  socketQueue_->sync([this, &task] { task(*this); });
}

void GCDAsyncSocket::takeNext(void (GCDAsyncSocket::*next)()) {
  // At once while shallow (the common case: the queue goes idle sooner and
  // the delegate's next request runs on its own thread), on a fresh turn of
  // the queue when many queued requests complete in a row.
  static constexpr int kMaxDepth = 16;
  if (takeNextDepth_ < kMaxDepth) {
    ++takeNextDepth_;
    (this->*next)();
    --takeNextDepth_;
    return;
  }
  socketQueue_->post([self = shared_from_this(), next] { ((*self).*next)(); });
}

GCDAsyncSocketPtr GCDAsyncSocket::selfForDelegate() {
  if (flags_ & kDealloc) return nullptr;
  return shared_from_this();
}

template <typename Call>
void GCDAsyncSocket::notifyDelegate(Call call) {
  if (!delegateQueue_) return;
  delegateQueue_->post([delegate = delegate_, self = selfForDelegate(), call = std::move(call)] {
    if (auto target = delegate.lock()) call(*target, self);
  });
}

// ---------------------------------------------------------------------------
// Delegate and configuration

std::shared_ptr<GCDAsyncSocketDelegate> GCDAsyncSocket::delegate() const {
  return onSocketQueue<std::shared_ptr<GCDAsyncSocketDelegate>>(
      [this] { return delegate_.lock(); });
}

void GCDAsyncSocket::setDelegate(std::weak_ptr<GCDAsyncSocketDelegate> delegate) {
  async([delegate](GCDAsyncSocket& self) { self.delegate_ = delegate; });
}

void GCDAsyncSocket::synchronouslySetDelegate(std::weak_ptr<GCDAsyncSocketDelegate> delegate) {
  socketQueue_->sync([&] { delegate_ = delegate; });
}

dispatch::ExecutorPtr GCDAsyncSocket::delegateQueue() const {
  return onSocketQueue<dispatch::ExecutorPtr>([this] { return delegateQueue_; });
}

void GCDAsyncSocket::setDelegateQueue(dispatch::ExecutorPtr queue) {
  async([queue](GCDAsyncSocket& self) { self.delegateQueue_ = queue; });
}

void GCDAsyncSocket::synchronouslySetDelegateQueue(dispatch::ExecutorPtr queue) {
  socketQueue_->sync([&] { delegateQueue_ = queue; });
}

void GCDAsyncSocket::setDelegate(std::weak_ptr<GCDAsyncSocketDelegate> delegate,
                                 dispatch::ExecutorPtr queue) {
  async([delegate, queue](GCDAsyncSocket& self) {
    self.delegate_ = delegate;
    self.delegateQueue_ = queue;
  });
}

void GCDAsyncSocket::synchronouslySetDelegate(std::weak_ptr<GCDAsyncSocketDelegate> delegate,
                                              dispatch::ExecutorPtr queue) {
  socketQueue_->sync([&] {
    delegate_ = delegate;
    delegateQueue_ = queue;
  });
}

void GCDAsyncSocket::getDelegate(std::shared_ptr<GCDAsyncSocketDelegate>* delegate,
                                 dispatch::ExecutorPtr* queue) const {
  socketQueue_->sync([&] {
    if (delegate) *delegate = delegate_.lock();
    if (queue) *queue = delegateQueue_;
  });
}

bool GCDAsyncSocket::isIPv4Enabled() const {
  return onSocketQueue<bool>([this] { return (config_ & kIPv4Disabled) == 0; });
}
void GCDAsyncSocket::setIPv4Enabled(bool enabled) {
  async([enabled](GCDAsyncSocket& self) {
    if (enabled) {
      self.config_ &= ~kIPv4Disabled;
    } else {
      self.config_ |= kIPv4Disabled;
    }
  });
}
bool GCDAsyncSocket::isIPv6Enabled() const {
  return onSocketQueue<bool>([this] { return (config_ & kIPv6Disabled) == 0; });
}
void GCDAsyncSocket::setIPv6Enabled(bool enabled) {
  async([enabled](GCDAsyncSocket& self) {
    if (enabled) {
      self.config_ &= ~kIPv6Disabled;
    } else {
      self.config_ |= kIPv6Disabled;
    }
  });
}
bool GCDAsyncSocket::isIPv4PreferredOverIPv6() const {
  return onSocketQueue<bool>([this] { return (config_ & kPreferIPv6) == 0; });
}
void GCDAsyncSocket::setIPv4PreferredOverIPv6(bool preferred) {
  async([preferred](GCDAsyncSocket& self) {
    if (preferred) {
      self.config_ &= ~kPreferIPv6;
    } else {
      self.config_ |= kPreferIPv6;
    }
  });
}
double GCDAsyncSocket::alternateAddressDelay() const {
  return onSocketQueue<double>([this] { return alternateAddressDelay_; });
}
void GCDAsyncSocket::setAlternateAddressDelay(double seconds) {
  async([seconds](GCDAsyncSocket& self) { self.alternateAddressDelay_ = seconds; });
}
bool GCDAsyncSocket::autoDisconnectOnClosedReadStream() const {
  return onSocketQueue<bool>([this] { return (config_ & kAllowHalfDuplexConnection) == 0; });
}
void GCDAsyncSocket::setAutoDisconnectOnClosedReadStream(bool flag) {
  async([flag](GCDAsyncSocket& self) {
    if (flag) {
      self.config_ &= ~kAllowHalfDuplexConnection;
    } else {
      self.config_ |= kAllowHalfDuplexConnection;
    }
  });
}
std::any GCDAsyncSocket::userData() const {
  return onSocketQueue<std::any>([this] { return userData_; });
}
void GCDAsyncSocket::setUserData(std::any data) {
  socketQueue_->sync([&] { userData_ = std::move(data); });
}

// ---------------------------------------------------------------------------
// Accepting

SocketErrorPtr GCDAsyncSocket::preAcceptChecks(bool checkFamilies) const {
  if (delegate_.expired()) {
    return SocketError::badConfig("Attempting to accept without a delegate. Set a delegate first.");
  }
  if (!delegateQueue_) {
    return SocketError::badConfig(
        "Attempting to accept without a delegate queue. Set a delegate queue first.");
  }
  if (checkFamilies && (config_ & kIPv4Disabled) && (config_ & kIPv6Disabled)) {
    return SocketError::badConfig(
        "Both IPv4 and IPv6 have been disabled. Must enable at least one protocol first.");
  }
  if (flags_ & kSocketStarted) {
    return SocketError::badConfig(
        "Attempting to accept while connected or accepting connections. Disconnect first.");
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
  auto source = environment_.reactor->makeReadSource(listenFD, socketQueue_);
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
    readQueue_.clear();
    writeQueue_.clear();

    Bytes address4, address6;
    getInterfaceAddress(interface, port, &address4, &address6);
    if (address4.empty() && address6.empty()) {
      failure = SocketError::badParam(
          "Unknown interface. Specify valid interface by name (e.g. \"en1\") or IP address.");
      return;
    }
    const bool disabled4 = config_ & kIPv4Disabled;
    const bool disabled6 = config_ & kIPv6Disabled;
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
        setPort(address6, localOf(fd4) ? localOf(fd4)->port : 0);
      }
      fd6 = createListenSocket(address6, &failure);
      if (fd6 < 0) {
        closeDescriptor(fd4);
        return;
      }
    }
    socket4FD_ = fd4;
    socket6FD_ = fd6;
    if (fd4 >= 0) setupAcceptSource(fd4, &accept4Source_, false);
    if (fd6 >= 0) setupAcceptSource(fd6, &accept6Source_, false);
    flags_ |= kSocketStarted;
  });
  setError(error, failure);
  return failure == nullptr;
}

bool GCDAsyncSocket::acceptOnUrl(const std::string& url, SocketErrorPtr* error) {
  SocketErrorPtr failure;
  socketQueue_->sync([&] {
    if ((failure = preAcceptChecks(false))) return;
    readQueue_.clear();
    writeQueue_.clear();
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
    socketUN_ = fd;
    socketUrl_ = path;
    setupAcceptSource(fd, &acceptUNSource_, true);
    flags_ |= kSocketStarted;
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
        acceptPause_ = socketQueue_->postAfter(kAcceptPauseOnExhaustion, [weakSource] {
          if (auto paused = weakSource.lock()) paused->resume();
        });
      }
      return;
    }
    acceptedSocket(child, addressBytes(reinterpret_cast<sockaddr*>(&addr), length));
  }
}

void GCDAsyncSocket::acceptedSocket(int childFD, Bytes address) {
  // Owned until the accepted socket takes it, so that no road leaks it.
  auto owned = std::make_shared<dispatch::UniqueFd>(childFD);
  if (!delegateQueue_) return;
  const int family = familyOf(address) == AF_UNSPEC ? AF_UNIX : familyOf(address);
  delegateQueue_->post([delegate = delegate_, delegateQueue = delegateQueue_,
                        self = shared_from_this(), environment = environment_, owned,
                        address = std::move(address), family] {
    auto target = delegate.lock();
    dispatch::ExecutorPtr childQueue;
    if (target) childQueue = target->newSocketQueueForConnectionFromAddress(address, self);
    auto accepted = GCDAsyncSocket::create(delegate, delegateQueue, childQueue, environment);
    accepted->socketQueue_->sync([&] {
      const int fd = owned->release();
      accepted->fdForFamily(family) = fd;
      accepted->flags_ |= kSocketStarted | kConnected;
      accepted->setupReadAndWriteSources(fd);
    });
    if (target) target->socketDidAcceptNewSocket(self, accepted);
  });
}

// ---------------------------------------------------------------------------
// Connecting

int& GCDAsyncSocket::fdForFamily(int family) {
  if (family == AF_INET) return socket4FD_;
  if (family == AF_INET6) return socket6FD_;
  return socketUN_;
}

dispatch::IoSourcePtr& GCDAsyncSocket::connectSourceForFamily(int family) {
  if (family == AF_INET) return connect4Source_;
  if (family == AF_INET6) return connect6Source_;
  return connectUNSource_;
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
  if (flags_ & kSocketStarted) {
    return SocketError::badConfig(
        "Attempting to connect while connected or accepting connections. Disconnect first.");
  }
  if (checkFamilies && (config_ & kIPv4Disabled) && (config_ & kIPv6Disabled)) {
    return SocketError::badConfig(
        "Both IPv4 and IPv6 have been disabled. Must enable at least one protocol first.");
  }
  if (!interface.empty()) {
    Bytes address4, address6;
    getInterfaceAddress(interface, 0, &address4, &address6);
    if (address4.empty() && address6.empty()) {
      return SocketError::badParam(
          "Unknown interface. Specify valid interface by name (e.g. \"en1\") or IP address.");
    }
    if ((config_ & kIPv4Disabled) && address6.empty()) {
      return SocketError::badParam(
          "IPv4 has been disabled and specified interface doesn't support IPv6.");
    }
    if ((config_ & kIPv6Disabled) && address4.empty()) {
      return SocketError::badParam(
          "IPv6 has been disabled and specified interface doesn't support IPv4.");
    }
    connectInterface4_ = std::move(address4);
    connectInterface6_ = std::move(address6);
  }
  readQueue_.clear();
  writeQueue_.clear();
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
    flags_ |= kSocketStarted;
    const uint64_t attempt = stateIndex_;
    std::weak_ptr<GCDAsyncSocket> weak = weak_from_this();
    auto socketQueue = socketQueue_;
    if (isLiteralHost(host)) {
      // Nothing to look up: answered on a later turn, as a look-up would be.
      socketQueue_->post([weak, attempt, addresses = lookupHost(host, port, nullptr)]() mutable {
        if (auto self = weak.lock()) self->lookupDidSucceed(attempt, std::move(addresses));
      });
      startConnectTimeout(timeout);
      return;
    }
    // getaddrinfo blocks: it runs on the global queue, never on the socket queue.
    environment_.pool->post([weak, socketQueue, host, port, attempt] {
      SocketErrorPtr lookupError;
      auto addresses = lookupHost(host, port, &lookupError);
      socketQueue->post([weak, attempt, addresses = std::move(addresses), lookupError]() mutable {
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
  const bool disabled4 = config_ & kIPv4Disabled;
  const bool disabled6 = config_ & kIPv6Disabled;
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
    if (family == AF_INET && (config_ & kIPv4Disabled)) {
      failure = SocketError::badParam("IPv4 has been disabled and an IPv4 address was passed.");
      return;
    }
    if (family == AF_INET6 && (config_ & kIPv6Disabled)) {
      failure = SocketError::badParam("IPv6 has been disabled and an IPv6 address was passed.");
      return;
    }
    failure = family == AF_INET ? connectWithAddresses(remoteAddr, {})
                                : connectWithAddresses({}, remoteAddr);
    if (failure) return;
    flags_ |= kSocketStarted;
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
    flags_ |= kSocketStarted;
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
    socket4FD_ = createConnectSocket(AF_INET, connectInterface4_, &error);
    if (socket4FD_ < 0) return error;
  }
  if (!address6.empty()) {
    socket6FD_ = createConnectSocket(AF_INET6, connectInterface6_, &error);
    if (socket6FD_ < 0) {
      closeDescriptor(std::exchange(socket4FD_, -1));
      return error;
    }
  }
  const bool both = !address4.empty() && !address6.empty();
  const bool preferIPv6 = (config_ & kPreferIPv6) || address4.empty();
  const int primary = preferIPv6 ? AF_INET6 : AF_INET;
  connectSocket(primary, primary == AF_INET ? address4 : address6);
  if (both) {
    const int alternate = primary == AF_INET ? AF_INET6 : AF_INET;
    Bytes alternateAddress = alternate == AF_INET ? address4 : address6;
    const uint64_t attempt = stateIndex_;
    std::weak_ptr<GCDAsyncSocket> weak = weak_from_this();
    alternateConnect_ = socketQueue_->postAfter(
        toNanos(alternateAddressDelay_), [weak, attempt, alternate, alternateAddress] {
          auto self = weak.lock();
          if (!self || self->stateIndex_ != attempt || (self->flags_ & kConnected)) return;
          if (self->fdForFamily(alternate) < 0) return;
          self->connectSocket(alternate, alternateAddress);
        });
  }
  return nullptr;
}

SocketErrorPtr GCDAsyncSocket::connectWithAddressUN(const std::string& path) {
  SocketErrorPtr error;
  socketUN_ = createConnectSocket(AF_UNIX, {}, &error);
  if (socketUN_ < 0) return error;
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
  auto source = environment_.reactor->makeWriteSource(fd, socketQueue_);
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
  int& fd = fdForFamily(family);
  closeDescriptor(std::exchange(fd, -1));
}

void GCDAsyncSocket::connectFinished(int family, uint64_t attempt, int error) {
  if (attempt != stateIndex_ || (flags_ & kConnected)) return;
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
  if (socket4FD_ < 0 && socket6FD_ < 0 && socketUN_ < 0) {
    closeWithError(SocketError::posix(error, "Error in connect() function"));
  }
}

void GCDAsyncSocket::didConnect(int family) {
  for (int other : {AF_INET, AF_INET6, AF_UNIX}) {
    if (other != family) closeConnectAttempt(other);
  }
  endConnectTimeout();
  flags_ |= kConnected;
  setupReadAndWriteSources(fdForFamily(family));
  notifyConnected();
}

void GCDAsyncSocket::notifyConnected() {
  if (socketUN_ >= 0) {
    std::string url = "file://" + socketUrl_;
    notifyDelegate([url](GCDAsyncSocketDelegate& delegate, const GCDAsyncSocketPtr& self) {
      delegate.socketDidConnectToUrl(self, url);
    });
  } else {
    const auto peer = peerOf(connectedFD());
    std::string host = peer ? peer->host : std::string();
    const uint16_t port = peer ? peer->port : 0;
    notifyDelegate([host, port](GCDAsyncSocketDelegate& delegate, const GCDAsyncSocketPtr& self) {
      delegate.socketDidConnectToHost(self, host, port);
    });
  }
  maybeDequeueRead();
  maybeDequeueWrite();
}

void GCDAsyncSocket::startConnectTimeout(double timeout) {
  if (timeout < 0) return;
  connectTimer_ = dispatch::TimerSource::create(socketQueue_);
  std::weak_ptr<GCDAsyncSocket> weak = weak_from_this();
  connectTimer_->setEventHandler([weak] {
    if (auto self = weak.lock()) self->doConnectTimeout();
  });
  connectTimer_->setTimer(socketQueue_->now() + toNanos(timeout), dispatch::Nanos(0));
  connectTimer_->resume();
}

void GCDAsyncSocket::endConnectTimeout() {
  if (connectTimer_) {
    connectTimer_->cancel();
    connectTimer_.reset();
  }
  alternateConnect_.cancel();
  // Late results of the attempts so far no longer count.
  ++stateIndex_;
  connectInterface4_.clear();
  connectInterface6_.clear();
  connectInterfaceUN_.clear();
}

void GCDAsyncSocket::doConnectTimeout() {
  endConnectTimeout();
  closeWithError(SocketError::connectTimeout());
}

void GCDAsyncSocket::setupReadAndWriteSources(int fd) {
  auto& reactor = *environment_.reactor;
  readSource_ = reactor.makeReadSource(fd, socketQueue_);
  writeSource_ = reactor.makeWriteSource(fd, socketQueue_);
  std::weak_ptr<GCDAsyncSocket> weak = weak_from_this();
  dispatch::IoSource* reader = readSource_.get();
  readSource_->setEventHandler([weak, reader] {
    auto self = weak.lock();
    if (!self) return;
    self->socketFDBytesAvailable_ = reader->data();
    if (self->socketFDBytesAvailable_ > 0) {
      self->doReadData();
    } else {
      self->doReadEOF();
    }
  });
  writeSource_->setEventHandler([weak] {
    auto self = weak.lock();
    if (!self) return;
    self->flags_ |= kSocketCanAcceptBytes;
    // While secure, a read may be waiting for the transport to drain (a key
    // update): serve it as well.
    if ((self->flags_ & kSocketSecure) && self->currentRead_) self->doReadData();
    self->doWriteData();
  });
  // The second of the two cancel handlers closes the descriptor.
  auto remaining = std::make_shared<int>(2);
  auto closer = [remaining, fd] {
    if (--*remaining == 0) closeDescriptor(fd);
  };
  readSource_->setCancelHandler(closer);
  writeSource_->setCancelHandler(closer);
  socketFDBytesAvailable_ = 0;
  flags_ &= ~kReadSourceSuspended;
  flags_ |= kWriteSourceSuspended | kSocketCanAcceptBytes;
  readSource_->resume();
}

int GCDAsyncSocket::connectedFD() const {
  if (socket4FD_ >= 0) return socket4FD_;
  if (socket6FD_ >= 0) return socket6FD_;
  return socketUN_;
}

// ---------------------------------------------------------------------------
// Closing

void GCDAsyncSocket::closeWithError(SocketErrorPtr error) {
  endConnectTimeout();
  if (currentRead_) endCurrentRead();
  if (currentWrite_) endCurrentWrite();
  readQueue_.clear();
  writeQueue_.clear();
  preBuffer_.reset();
  if (sslPreBuffer_) sslPreBuffer_->reset();
  sslErrCode_ = 0;
  lastSSLHandshakeError_ = 0;
  ssl_teardown();
  acceptPause_.cancel();

  for (int family : {AF_INET, AF_INET6, AF_UNIX}) {
    if (auto& source = connectSourceForFamily(family)) {
      // A connect still in flight: the descriptor is ours to close.
      source->cancel();
      source.reset();
      closeDescriptor(std::exchange(fdForFamily(family), -1));
    }
  }
  const bool hadSources =
      accept4Source_ || accept6Source_ || acceptUNSource_ || readSource_ || writeSource_;
  for (auto* source :
       {&accept4Source_, &accept6Source_, &acceptUNSource_, &readSource_, &writeSource_}) {
    if (*source) {
      (*source)->cancel();  // its cancel handler closes the descriptor
      source->reset();
    }
  }
  if (!hadSources) {
    closeDescriptor(socket4FD_);
    closeDescriptor(socket6FD_);
    closeDescriptor(socketUN_);
  }
  socket4FD_ = socket6FD_ = socketUN_ = -1;
  socketUrl_.clear();
  socketFDBytesAvailable_ = 0;

  const bool shouldCallDelegate = (flags_ & kSocketStarted) != 0;
  const bool deallocating = (flags_ & kDealloc) != 0;
  flags_ = deallocating ? uint32_t{kDealloc} : uint32_t{0};
  sslWriteCachedLength_ = 0;
  ++handshakeIndex_;

  if (shouldCallDelegate) {
    notifyDelegate([error](GCDAsyncSocketDelegate& delegate, const GCDAsyncSocketPtr& self) {
      delegate.socketDidDisconnect(self, error);
    });
  }
}

void GCDAsyncSocket::disconnect() {
  socketQueue_->sync([this] {
    if (flags_ & kSocketStarted) closeWithError(nullptr);
  });
}

void GCDAsyncSocket::disconnectAfterReading() {
  async([](GCDAsyncSocket& self) {
    if (!(self.flags_ & kSocketStarted)) return;
    self.flags_ |= kForbidReadsWrites | kDisconnectAfterReads;
    self.maybeClose();
  });
}

void GCDAsyncSocket::disconnectAfterWriting() {
  async([](GCDAsyncSocket& self) {
    if (!(self.flags_ & kSocketStarted)) return;
    self.flags_ |= kForbidReadsWrites | kDisconnectAfterWrites;
    self.maybeClose();
  });
}

void GCDAsyncSocket::disconnectAfterReadingAndWriting() {
  async([](GCDAsyncSocket& self) {
    if (!(self.flags_ & kSocketStarted)) return;
    self.flags_ |= kForbidReadsWrites | kDisconnectAfterReads | kDisconnectAfterWrites;
    self.maybeClose();
  });
}

void GCDAsyncSocket::maybeClose() {
  const bool readsDone = readQueue_.empty() && !currentRead_;
  const bool writesDone = writeQueue_.empty() && !currentWrite_;
  bool shouldClose = false;
  if (flags_ & kDisconnectAfterReads) {
    shouldClose = (flags_ & kDisconnectAfterWrites) ? (readsDone && writesDone) : readsDone;
  } else if (flags_ & kDisconnectAfterWrites) {
    shouldClose = writesDone;
  }
  if (shouldClose) closeWithError(nullptr);
}

// ---------------------------------------------------------------------------
// State and addresses

bool GCDAsyncSocket::isDisconnected() const {
  return onSocketQueue<bool>([this] { return (flags_ & kSocketStarted) == 0; });
}
bool GCDAsyncSocket::isConnected() const {
  return onSocketQueue<bool>([this] { return (flags_ & kConnected) != 0; });
}
std::string GCDAsyncSocket::connectedHost() const {
  return onSocketQueue<std::string>([this] {
    auto peer = peerOf(socket4FD_ >= 0 ? socket4FD_ : socket6FD_);
    return peer ? peer->host : std::string();
  });
}
uint16_t GCDAsyncSocket::connectedPort() const {
  return onSocketQueue<uint16_t>([this] {
    auto peer = peerOf(socket4FD_ >= 0 ? socket4FD_ : socket6FD_);
    return peer ? peer->port : uint16_t{0};
  });
}
std::string GCDAsyncSocket::connectedUrl() const {
  return onSocketQueue<std::string>([this] {
    return (socketUN_ >= 0 && !socketUrl_.empty()) ? "file://" + socketUrl_ : std::string();
  });
}
std::string GCDAsyncSocket::localHost() const {
  return onSocketQueue<std::string>([this] {
    auto local = localOf(socket4FD_ >= 0 ? socket4FD_ : socket6FD_);
    return local ? local->host : std::string();
  });
}
uint16_t GCDAsyncSocket::localPort() const {
  return onSocketQueue<uint16_t>([this] {
    auto local = localOf(socket4FD_ >= 0 ? socket4FD_ : socket6FD_);
    return local ? local->port : uint16_t{0};
  });
}
std::string GCDAsyncSocket::connectedHost4() const {
  return onSocketQueue<std::string>([this] {
    auto peer = peerOf(socket4FD_);
    return peer ? peer->host : std::string();
  });
}
std::string GCDAsyncSocket::connectedHost6() const {
  return onSocketQueue<std::string>([this] {
    auto peer = peerOf(socket6FD_);
    return peer ? peer->host : std::string();
  });
}
uint16_t GCDAsyncSocket::connectedPort4() const {
  return onSocketQueue<uint16_t>([this] {
    auto peer = peerOf(socket4FD_);
    return peer ? peer->port : uint16_t{0};
  });
}
uint16_t GCDAsyncSocket::connectedPort6() const {
  return onSocketQueue<uint16_t>([this] {
    auto peer = peerOf(socket6FD_);
    return peer ? peer->port : uint16_t{0};
  });
}
std::string GCDAsyncSocket::localHost4() const {
  return onSocketQueue<std::string>([this] {
    auto local = localOf(socket4FD_);
    return local ? local->host : std::string();
  });
}
std::string GCDAsyncSocket::localHost6() const {
  return onSocketQueue<std::string>([this] {
    auto local = localOf(socket6FD_);
    return local ? local->host : std::string();
  });
}
uint16_t GCDAsyncSocket::localPort4() const {
  return onSocketQueue<uint16_t>([this] {
    auto local = localOf(socket4FD_);
    return local ? local->port : uint16_t{0};
  });
}
uint16_t GCDAsyncSocket::localPort6() const {
  return onSocketQueue<uint16_t>([this] {
    auto local = localOf(socket6FD_);
    return local ? local->port : uint16_t{0};
  });
}
Bytes GCDAsyncSocket::connectedAddress() const {
  return onSocketQueue<Bytes>([this] { return addressOf(connectedFD(), true); });
}
Bytes GCDAsyncSocket::localAddress() const {
  return onSocketQueue<Bytes>([this] { return addressOf(connectedFD(), false); });
}
bool GCDAsyncSocket::isIPv4() const {
  return onSocketQueue<bool>([this] { return socket4FD_ >= 0; });
}
bool GCDAsyncSocket::isIPv6() const {
  return onSocketQueue<bool>([this] { return socket6FD_ >= 0; });
}
bool GCDAsyncSocket::isSecure() const {
  return onSocketQueue<bool>([this] { return (flags_ & kSocketSecure) != 0; });
}
int GCDAsyncSocket::socketFD() const {
  if (!socketQueue_->isCurrent()) return -1;
  return socket4FD_ >= 0 ? socket4FD_ : socket6FD_;
}
int GCDAsyncSocket::socket4FD() const {
  return socketQueue_->isCurrent() ? socket4FD_ : -1;
}
int GCDAsyncSocket::socket6FD() const {
  return socketQueue_->isCurrent() ? socket6FD_ : -1;
}
void GCDAsyncSocket::performBlock(const std::function<void()>& block) {
  socketQueue_->sync(block);
}

// ---------------------------------------------------------------------------
// Class operations

std::string GCDAsyncSocket::hostFromAddress(const Bytes& address) {
  std::string host;
  getHostPortFromAddress(&host, nullptr, address);
  return host;
}

uint16_t GCDAsyncSocket::portFromAddress(const Bytes& address) {
  uint16_t port = 0;
  getHostPortFromAddress(nullptr, &port, address);
  return port;
}

bool GCDAsyncSocket::isIPv4Address(const Bytes& address) {
  return familyOf(address) == AF_INET;
}

bool GCDAsyncSocket::isIPv6Address(const Bytes& address) {
  return familyOf(address) == AF_INET6;
}

bool GCDAsyncSocket::getHostPortFromAddress(std::string* host, uint16_t* port,
                                            const Bytes& address) {
  return getHostPortFamilyFromAddress(host, port, nullptr, address);
}

bool GCDAsyncSocket::getHostPortFamilyFromAddress(std::string* host, uint16_t* port, int* family,
                                                  const Bytes& address) {
  const int kind = familyOf(address);
  if (kind != AF_INET && kind != AF_INET6) return false;
  sockaddr_storage storage{};
  std::memcpy(&storage, address.data(), std::min(address.size(), sizeof storage));
  auto info = describeAddress(reinterpret_cast<sockaddr*>(&storage),
                              static_cast<socklen_t>(address.size()));
  if (!info) return false;
  if (host) *host = info->host;
  if (port) *port = info->port;
  if (family) *family = info->family;
  return true;
}

std::vector<Bytes> GCDAsyncSocket::lookupHost(const std::string& host, uint16_t port,
                                              SocketErrorPtr* error) {
  std::vector<Bytes> addresses;
  if (host == "localhost" || host == "loopback") {
    in_addr loop4{htonl(INADDR_LOOPBACK)};
    addresses.push_back(makeAddress4(loop4, port));
    addresses.push_back(makeAddress6(in6addr_loopback, port));
    return addresses;
  }
  in_addr numeric4{};
  in6_addr numeric6{};
  if (inet_pton(AF_INET, host.c_str(), &numeric4) == 1) {
    addresses.push_back(makeAddress4(numeric4, port));
    return addresses;
  }
  if (inet_pton(AF_INET6, host.c_str(), &numeric6) == 1) {
    addresses.push_back(makeAddress6(numeric6, port));
    return addresses;
  }
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_protocol = IPPROTO_TCP;
  addrinfo* results = nullptr;
  const std::string service = std::to_string(port);
  const int status = getaddrinfo(host.c_str(), service.c_str(), &hints, &results);
  if (status != 0) {
    setError(error, SocketError::netDB(status));
    return addresses;
  }
  for (addrinfo* entry = results; entry; entry = entry->ai_next) {
    if (entry->ai_family == AF_INET || entry->ai_family == AF_INET6) {
      addresses.push_back(addressBytes(entry->ai_addr, entry->ai_addrlen));
    }
  }
  freeaddrinfo(results);
  return addresses;
}

const Bytes& GCDAsyncSocket::CRLFData() {
  static const Bytes data{'\r', '\n'};
  return data;
}
const Bytes& GCDAsyncSocket::CRData() {
  static const Bytes data{'\r'};
  return data;
}
const Bytes& GCDAsyncSocket::LFData() {
  static const Bytes data{'\n'};
  return data;
}
const Bytes& GCDAsyncSocket::ZeroData() {
  static const Bytes data{0};
  return data;
}

// ---------------------------------------------------------------------------
// Reading

namespace {
bool validOffset(const BytesPtr& buffer, size_t offset) {
  return !buffer || offset <= buffer->size();
}
}  // namespace

void GCDAsyncSocket::queueRead(std::shared_ptr<GCDAsyncReadPacket> packet) {
  async([packet = std::move(packet)](GCDAsyncSocket& self) {
    if (!(self.flags_ & kSocketStarted) || (self.flags_ & kForbidReadsWrites)) return;
    self.readQueue_.push_back(packet);
    self.maybeDequeueRead();
  });
}

void GCDAsyncSocket::readDataWithTimeout(double timeout, long tag) {
  readDataWithTimeout(timeout, nullptr, 0, 0, tag);
}

void GCDAsyncSocket::readDataWithTimeout(double timeout, BytesPtr buffer, size_t offset, long tag) {
  readDataWithTimeout(timeout, std::move(buffer), offset, 0, tag);
}

void GCDAsyncSocket::readDataWithTimeout(double timeout, BytesPtr buffer, size_t offset,
                                         size_t maxLength, long tag) {
  if (!validOffset(buffer, offset)) return;
  queueRead(std::make_shared<GCDAsyncReadPacket>(std::move(buffer), offset, maxLength, timeout, 0,
                                                 std::nullopt, tag));
}

void GCDAsyncSocket::readDataToLength(size_t length, double timeout, long tag) {
  readDataToLength(length, timeout, nullptr, 0, tag);
}

void GCDAsyncSocket::readDataToLength(size_t length, double timeout, BytesPtr buffer, size_t offset,
                                      long tag) {
  if (length == 0 || !validOffset(buffer, offset)) return;
  queueRead(std::make_shared<GCDAsyncReadPacket>(std::move(buffer), offset, 0, timeout, length,
                                                 std::nullopt, tag));
}

void GCDAsyncSocket::readDataToData(const Bytes& data, double timeout, long tag) {
  readDataToData(data, timeout, nullptr, 0, 0, tag);
}

void GCDAsyncSocket::readDataToData(const Bytes& data, double timeout, BytesPtr buffer,
                                    size_t offset, long tag) {
  readDataToData(data, timeout, std::move(buffer), offset, 0, tag);
}

void GCDAsyncSocket::readDataToData(const Bytes& data, double timeout, size_t maxLength, long tag) {
  readDataToData(data, timeout, nullptr, 0, maxLength, tag);
}

void GCDAsyncSocket::readDataToData(const Bytes& data, double timeout, BytesPtr buffer,
                                    size_t offset, size_t maxLength, long tag) {
  if (data.empty() || !validOffset(buffer, offset)) return;
  if (maxLength > 0 && maxLength < data.size()) return;
  queueRead(std::make_shared<GCDAsyncReadPacket>(std::move(buffer), offset, maxLength, timeout, 0,
                                                 data, tag));
}

float GCDAsyncSocket::progressOfReadReturningTag(long* tag, size_t* done, size_t* total) const {
  float result = std::numeric_limits<float>::quiet_NaN();
  long outTag = 0;
  size_t outDone = 0, outTotal = 0;
  socketQueue_->sync([&] {
    auto* read = dynamic_cast<GCDAsyncReadPacket*>(currentRead_.get());
    if (!read) return;
    outTag = read->tag;
    outDone = read->bytesDone;
    outTotal = read->readLength;
    result = outTotal > 0 ? static_cast<float>(outDone) / static_cast<float>(outTotal) : 1.0f;
  });
  if (tag) *tag = outTag;
  if (done) *done = outDone;
  if (total) *total = outTotal;
  return result;
}

void GCDAsyncSocket::maybeDequeueRead() {
  if (currentRead_ || !(flags_ & kConnected)) return;
  if (!readQueue_.empty()) {
    currentRead_ = std::move(readQueue_.front());
    readQueue_.pop_front();
    if (dynamic_cast<GCDAsyncSpecialPacket*>(currentRead_.get())) {
      flags_ |= kStartingReadTLS;
      maybeStartTLS();
    } else {
      setupReadTimerWithTimeout(static_cast<GCDAsyncReadPacket*>(currentRead_.get())->timeout);
      doReadData();
    }
  } else if (flags_ & kDisconnectAfterReads) {
    if (!(flags_ & kDisconnectAfterWrites) || (writeQueue_.empty() && !currentWrite_)) {
      closeWithError(nullptr);
    }
  } else if (flags_ & kSocketSecure) {
    flushSSLBuffers();
    if (preBuffer_.availableBytes() == 0) resumeReadSource();
  }
}

void GCDAsyncSocket::doReadData() {
  auto* read = dynamic_cast<GCDAsyncReadPacket*>(currentRead_.get());
  if (!currentRead_ || (flags_ & kReadsPaused)) {
    if (flags_ & kSocketSecure) flushSSLBuffers();
    // The bytes stay in the kernel until a read asks for them; a
    // level-triggered source would otherwise fire on and on.
    if (socketFDBytesAvailable_ > 0) suspendReadSource();
    return;
  }
  if (flags_ & kStartingReadTLS) {
    if ((flags_ & kStartingWriteTLS) && lastSSLHandshakeError_ == kSSLWouldBlock) {
      ssl_continueSSLHandshake();
    } else {
      suspendReadSource();
    }
    return;
  }
  if (!read) return;

  const bool secure = (flags_ & kSocketSecure) != 0;
  size_t estimated = socketFDBytesAvailable_;
  if (secure)
    estimated += secure_->bufferedBytes() + (sslPreBuffer_ ? sslPreBuffer_->availableBytes() : 0);
  const bool hasBytesAvailable = estimated > 0;

  if (!hasBytesAvailable && preBuffer_.availableBytes() == 0) {
    if (flags_ & kSocketHasReadEOF) {
      doReadEOF();
    } else {
      resumeReadSource();
    }
    return;
  }

  bool done = false;
  SocketErrorPtr error;
  bool waiting = false;
  bool socketEOF = (flags_ & kSocketHasReadEOF) != 0;
  size_t totalBytesReadForCurrentRead = 0;

  auto maxedOut = [&] {
    return read->term && !done && read->maxLength > 0 && read->bytesDone >= read->maxLength;
  };

  // Pre-buffer first: no system call for bytes read ahead.
  if (preBuffer_.availableBytes() > 0) {
    size_t bytesToCopy;
    if (read->term) {
      bytesToCopy = read->readLengthForTermWithPreBuffer(preBuffer_, &done);
    } else {
      bytesToCopy = read->readLengthForNonTermWithHint(preBuffer_.availableBytes());
    }
    read->ensureCapacityForAdditionalDataOfLength(bytesToCopy);
    std::memcpy(read->writePointer(), preBuffer_.readBuffer(), bytesToCopy);
    preBuffer_.didRead(bytesToCopy);
    read->bytesDone += bytesToCopy;
    totalBytesReadForCurrentRead += bytesToCopy;
    if (read->readLength > 0) {
      done = read->bytesDone == read->readLength;
    } else if (read->term) {
      if (maxedOut()) error = SocketError::readMaxedOut();
    } else {
      done = read->maxLength > 0 && read->bytesDone == read->maxLength;
    }
  }

  if (!done && !error && !socketEOF && hasBytesAvailable) {
    bool readIntoPreBuffer = false;
    size_t bytesToRead;
    if (secure) {
      bytesToRead = estimated > 32768 ? estimated + 16384 : 32768;
      if (read->readLength > 0) {
        bytesToRead = read->readLength - read->bytesDone;
      } else {
        if (read->maxLength > 0)
          bytesToRead = std::min(bytesToRead, read->maxLength - read->bytesDone);
        readIntoPreBuffer = read->bufferSpace() < bytesToRead;
      }
    } else if (read->term) {
      bytesToRead = read->readLengthForTermWithHint(estimated, &readIntoPreBuffer);
    } else {
      bytesToRead = read->readLengthForNonTermWithHint(estimated);
    }

    uint8_t* buffer;
    if (readIntoPreBuffer) {
      preBuffer_.ensureCapacityForWrite(bytesToRead);
      buffer = preBuffer_.writeBuffer();
    } else {
      read->ensureCapacityForAdditionalDataOfLength(bytesToRead);
      buffer = read->writePointer();
    }

    size_t bytesRead = 0;
    if (secure) {
      // The secure layer is read until the size is filled or it reports a status.
      while (bytesRead < bytesToRead) {
        size_t chunk = bytesToRead - bytesRead;
        const int status = secure_->read(buffer + bytesRead, &chunk);
        bytesRead += chunk;
        if (status == kSSLWouldBlock) {
          // Encrypted bytes still waiting here can be read on; only an empty
          // transport means waiting for the descriptor.
          if (sslPreBuffer_ && sslPreBuffer_->availableBytes() > 0) continue;
          waiting = true;
          break;
        }
        if (status == kSSLClosedGraceful || status == kSSLClosedAbort) {
          socketEOF = true;
          sslErrCode_ = status;
          break;
        }
        if (status != 0) {
          error = SocketError::ssl(status, secure_->lastErrorText());
          break;
        }
      }
    } else {
      const ssize_t result = readRetrying(connectedFD(), buffer, bytesToRead);
      if (result < 0) {
        if (errno == EAGAIN || errno == EWOULDBLOCK) {
          waiting = true;
        } else {
          error = SocketError::posix(errno, "Error in read() function");
        }
        socketFDBytesAvailable_ = 0;
      } else if (result == 0) {
        socketEOF = true;
        socketFDBytesAvailable_ = 0;
      } else {
        bytesRead = static_cast<size_t>(result);
        if (bytesRead < bytesToRead) {
          socketFDBytesAvailable_ = 0;
        } else {
          socketFDBytesAvailable_ -= std::min(socketFDBytesAvailable_, bytesRead);
        }
        if (socketFDBytesAvailable_ == 0) waiting = true;
      }
    }

    if (bytesRead > 0) {
      if (read->readLength > 0) {
        read->bytesDone += bytesRead;
        totalBytesReadForCurrentRead += bytesRead;
        done = read->bytesDone == read->readLength;
      } else if (read->term) {
        if (readIntoPreBuffer) {
          preBuffer_.didWrite(bytesRead);
          const size_t bytesToCopy = read->readLengthForTermWithPreBuffer(preBuffer_, &done);
          read->ensureCapacityForAdditionalDataOfLength(bytesToCopy);
          std::memcpy(read->writePointer(), preBuffer_.readBuffer(), bytesToCopy);
          preBuffer_.didRead(bytesToCopy);
          read->bytesDone += bytesToCopy;
          totalBytesReadForCurrentRead += bytesToCopy;
        } else {
          const long overflow = read->searchForTermAfterPreBuffering(bytesRead);
          if (overflow == 0) {
            read->bytesDone += bytesRead;
            totalBytesReadForCurrentRead += bytesRead;
            done = true;
          } else if (overflow > 0) {
            const size_t underflow = bytesRead - static_cast<size_t>(overflow);
            preBuffer_.ensureCapacityForWrite(static_cast<size_t>(overflow));
            std::memcpy(preBuffer_.writeBuffer(), buffer + underflow,
                        static_cast<size_t>(overflow));
            preBuffer_.didWrite(static_cast<size_t>(overflow));
            read->bytesDone += underflow;
            totalBytesReadForCurrentRead += underflow;
            done = true;
          } else {
            read->bytesDone += bytesRead;
            totalBytesReadForCurrentRead += bytesRead;
          }
        }
        if (maxedOut()) error = SocketError::readMaxedOut();
      } else {
        if (readIntoPreBuffer) {
          preBuffer_.didWrite(bytesRead);
          const size_t bytesToCopy =
              read->readLengthForNonTermWithHint(preBuffer_.availableBytes());
          read->ensureCapacityForAdditionalDataOfLength(bytesToCopy);
          std::memcpy(read->writePointer(), preBuffer_.readBuffer(), bytesToCopy);
          preBuffer_.didRead(bytesToCopy);
          read->bytesDone += bytesToCopy;
          totalBytesReadForCurrentRead += bytesToCopy;
        } else {
          read->bytesDone += bytesRead;
          totalBytesReadForCurrentRead += bytesRead;
        }
      }
    }
  }

  // An available read completes with whatever this pass brought.
  if (!done && !error && read->readLength == 0 && !read->term) {
    done = totalBytesReadForCurrentRead > 0;
  }
  // A pass that only trimmed the socket read to the request's limits leaves
  // bytes behind; wait for the source again rather than for nothing.
  if (!done && !error && !socketEOF) waiting = true;

  if (done) {
    completeCurrentRead();
    if (!error && (!socketEOF || preBuffer_.availableBytes() > 0)) {
      takeNext(&GCDAsyncSocket::maybeDequeueRead);
    }
  } else if (totalBytesReadForCurrentRead > 0) {
    const long tag = read->tag;
    notifyDelegate([totalBytesReadForCurrentRead, tag](GCDAsyncSocketDelegate& delegate,
                                                       const GCDAsyncSocketPtr& self) {
      delegate.socketDidReadPartialDataOfLength(self, totalBytesReadForCurrentRead, tag);
    });
  }

  if (error) {
    closeWithError(error);
  } else if (socketEOF) {
    doReadEOF();
  } else if (waiting && !done) {
    resumeReadSource();
  }
}

void GCDAsyncSocket::doReadEOF() {
  flags_ |= kSocketHasReadEOF;
  if (flags_ & kSocketSecure) {
    flushSSLBuffers();
    if (sslErrCode_ == 0 && preBuffer_.availableBytes() == 0 && secure_) {
      // The stream ended before the context saw how: ask it, so that a cut
      // without close_notify is told apart from an orderly end.
      preBuffer_.ensureCapacityForWrite(1);
      size_t length = 1;
      const int status = secure_->read(preBuffer_.writeBuffer(), &length);
      preBuffer_.didWrite(length);
      if (status != 0 && status != kSSLWouldBlock) sslErrCode_ = status;
    }
  }

  bool shouldDisconnect = false;
  SocketErrorPtr error;
  if ((flags_ & kStartingReadTLS) || (flags_ & kStartingWriteTLS)) {
    shouldDisconnect = true;
    error = SocketError::ssl(kSSLClosedAbort, "TLS handshake aborted by remote peer");
  } else if (flags_ & kReadStreamClosed) {
    shouldDisconnect = false;
  } else if (preBuffer_.availableBytes() > 0) {
    shouldDisconnect = false;
  } else if (config_ & kAllowHalfDuplexConnection) {
    // An RST shows as POLLERR/POLLHUP alongside POLLOUT on Linux: only a
    // clean half-close counts as writable.
    pollfd entry{connectedFD(), POLLOUT, 0};
    int ready;
    do {
      ready = ::poll(&entry, 1, 0);
    } while (ready < 0 && errno == EINTR);
    const bool writable =
        ready > 0 && (entry.revents & POLLOUT) && !(entry.revents & (POLLERR | POLLHUP | POLLNVAL));
    if (writable) {
      flags_ |= kReadStreamClosed;
      notifyDelegate([](GCDAsyncSocketDelegate& delegate, const GCDAsyncSocketPtr& self) {
        delegate.socketDidCloseReadStream(self);
      });
    } else {
      shouldDisconnect = true;
    }
  } else {
    shouldDisconnect = true;
  }

  if (!shouldDisconnect) {
    // Queued reads take what the pre-buffer still holds.
    suspendReadSource();
    if (preBuffer_.availableBytes() > 0 && !currentRead_) maybeDequeueRead();
    return;
  }
  if (!error) {
    error = (sslErrCode_ != 0 && sslErrCode_ != kSSLClosedGraceful)
                ? SocketError::ssl(sslErrCode_, "TLS connection aborted")
                : SocketError::closed();
  }
  closeWithError(error);
}

void GCDAsyncSocket::completeCurrentRead() {
  auto* read = static_cast<GCDAsyncReadPacket*>(currentRead_.get());
  SocketData data = read->finish();
  const long tag = read->tag;
  notifyDelegate([data = std::move(data), tag](GCDAsyncSocketDelegate& delegate,
                                               const GCDAsyncSocketPtr& self) {
    delegate.socketDidReadData(self, data, tag);
  });
  endCurrentRead();
}

void GCDAsyncSocket::endCurrentRead() {
  if (readTimer_) {
    readTimer_->cancel();
    readTimer_.reset();
  }
  currentRead_.reset();
}

void GCDAsyncSocket::setupReadTimerWithTimeout(double timeout) {
  if (timeout < 0) return;
  readTimer_ = dispatch::TimerSource::create(socketQueue_);
  std::weak_ptr<GCDAsyncSocket> weak = weak_from_this();
  readTimer_->setEventHandler([weak] {
    if (auto self = weak.lock()) self->doReadTimeout();
  });
  readTimer_->setTimer(socketQueue_->now() + toNanos(timeout), dispatch::Nanos(0));
  readTimer_->resume();
}

void GCDAsyncSocket::doReadTimeout() {
  auto* read = dynamic_cast<GCDAsyncReadPacket*>(currentRead_.get());
  if (!read) return;
  // Holds the request still while the delegate decides.
  flags_ |= kReadsPaused;
  auto target = delegate_.lock();
  if (!delegateQueue_ || !target) {
    doReadTimeoutWithExtension(currentRead_, 0);
    return;
  }
  const long tag = read->tag;
  const double elapsed = read->timeout;
  const size_t bytesDone = read->bytesDone;
  delegateQueue_->post([delegate = delegate_, self = shared_from_this(), packet = currentRead_, tag,
                        elapsed, bytesDone] {
    double extension = 0;
    if (auto answer = delegate.lock()) {
      extension = answer->socketShouldTimeoutReadWithTag(self, tag, elapsed, bytesDone);
    }
    self->socketQueue_->post(
        [self, packet, extension] { self->doReadTimeoutWithExtension(packet, extension); });
  });
}

void GCDAsyncSocket::doReadTimeoutWithExtension(const std::shared_ptr<GCDAsyncPacket>& packet,
                                                double extension) {
  if (!packet || currentRead_ != packet) return;  // the request ended meanwhile
  auto* read = static_cast<GCDAsyncReadPacket*>(packet.get());
  if (extension > 0) {
    read->timeout += extension;
    if (readTimer_)
      readTimer_->setTimer(socketQueue_->now() + toNanos(extension), dispatch::Nanos(0));
    flags_ &= ~kReadsPaused;
    doReadData();
  } else {
    closeWithError(SocketError::readTimeout());
  }
}

// ---------------------------------------------------------------------------
// Writing

void GCDAsyncSocket::writeData(Bytes data, double timeout, long tag) {
  writeData(std::make_shared<const Bytes>(std::move(data)), timeout, tag);
}

void GCDAsyncSocket::writeData(std::shared_ptr<const Bytes> data, double timeout, long tag) {
  if (!data || data->empty()) return;
  auto packet = std::make_shared<GCDAsyncWritePacket>(std::move(data), timeout, tag);
  async([packet = std::move(packet)](GCDAsyncSocket& self) {
    if (!(self.flags_ & kSocketStarted) || (self.flags_ & kForbidReadsWrites)) return;
    self.writeQueue_.push_back(packet);
    self.maybeDequeueWrite();
  });
}

float GCDAsyncSocket::progressOfWriteReturningTag(long* tag, size_t* done, size_t* total) const {
  float result = std::numeric_limits<float>::quiet_NaN();
  long outTag = 0;
  size_t outDone = 0, outTotal = 0;
  socketQueue_->sync([&] {
    auto* write = dynamic_cast<GCDAsyncWritePacket*>(currentWrite_.get());
    if (!write) return;
    outTag = write->tag;
    outDone = write->bytesDone;
    outTotal = write->length();
    result = outTotal > 0 ? static_cast<float>(outDone) / static_cast<float>(outTotal) : 1.0f;
  });
  if (tag) *tag = outTag;
  if (done) *done = outDone;
  if (total) *total = outTotal;
  return result;
}

void GCDAsyncSocket::maybeDequeueWrite() {
  if (currentWrite_ || !(flags_ & kConnected)) return;
  if (!writeQueue_.empty()) {
    currentWrite_ = std::move(writeQueue_.front());
    writeQueue_.pop_front();
    if (dynamic_cast<GCDAsyncSpecialPacket*>(currentWrite_.get())) {
      flags_ |= kStartingWriteTLS;
      maybeStartTLS();
    } else {
      setupWriteTimerWithTimeout(static_cast<GCDAsyncWritePacket*>(currentWrite_.get())->timeout);
      doWriteData();
    }
  } else if (flags_ & kDisconnectAfterWrites) {
    if (!(flags_ & kDisconnectAfterReads) || (readQueue_.empty() && !currentRead_)) {
      closeWithError(nullptr);
    }
  }
}

void GCDAsyncSocket::doWriteData() {
  if (!currentWrite_ || (flags_ & kWritesPaused)) {
    // Nothing to write: a writable descriptor would keep the source firing.
    if (flags_ & kSocketCanAcceptBytes) suspendWriteSource();
    return;
  }
  if (!(flags_ & kSocketCanAcceptBytes)) {
    resumeWriteSource();
    return;
  }
  if (flags_ & kStartingWriteTLS) {
    if ((flags_ & kStartingReadTLS) && lastSSLHandshakeError_ == kSSLWouldBlock) {
      ssl_continueSSLHandshake();
    } else {
      suspendWriteSource();
    }
    return;
  }
  auto* write = dynamic_cast<GCDAsyncWritePacket*>(currentWrite_.get());
  if (!write) return;

  bool waiting = false;
  SocketErrorPtr error;
  size_t bytesWritten = 0;

  if (flags_ & kSocketSecure) {
    error = sslWriteCurrent(write, &bytesWritten, &waiting);
  } else {
    const ssize_t result =
        sendRetrying(connectedFD(), write->buffer->data() + write->bytesDone, write->remaining());
    if (result < 0) {
      if (errno == EAGAIN || errno == EWOULDBLOCK) {
        waiting = true;
      } else {
        error = SocketError::posix(errno, "Error in write() function");
      }
    } else {
      bytesWritten = static_cast<size_t>(result);
      write->bytesDone += bytesWritten;
    }
  }

  if (error) {
    closeWithError(error);
    return;
  }
  if (write->bytesDone == write->length()) {
    completeCurrentWrite();
    takeNext(&GCDAsyncSocket::maybeDequeueWrite);
    return;
  }
  flags_ &= ~kSocketCanAcceptBytes;
  resumeWriteSource();
  if (bytesWritten > 0) {
    const long tag = write->tag;
    notifyDelegate(
        [bytesWritten, tag](GCDAsyncSocketDelegate& delegate, const GCDAsyncSocketPtr& self) {
          delegate.socketDidWritePartialDataOfLength(self, bytesWritten, tag);
        });
  }
  (void)waiting;  // either way the write source, now resumed, brings the next pass
}

void GCDAsyncSocket::completeCurrentWrite() {
  const long tag = static_cast<GCDAsyncWritePacket*>(currentWrite_.get())->tag;
  notifyDelegate([tag](GCDAsyncSocketDelegate& delegate, const GCDAsyncSocketPtr& self) {
    delegate.socketDidWriteDataWithTag(self, tag);
  });
  endCurrentWrite();
}

void GCDAsyncSocket::endCurrentWrite() {
  if (writeTimer_) {
    writeTimer_->cancel();
    writeTimer_.reset();
  }
  currentWrite_.reset();
}

void GCDAsyncSocket::setupWriteTimerWithTimeout(double timeout) {
  if (timeout < 0) return;
  writeTimer_ = dispatch::TimerSource::create(socketQueue_);
  std::weak_ptr<GCDAsyncSocket> weak = weak_from_this();
  writeTimer_->setEventHandler([weak] {
    if (auto self = weak.lock()) self->doWriteTimeout();
  });
  writeTimer_->setTimer(socketQueue_->now() + toNanos(timeout), dispatch::Nanos(0));
  writeTimer_->resume();
}

void GCDAsyncSocket::doWriteTimeout() {
  auto* write = dynamic_cast<GCDAsyncWritePacket*>(currentWrite_.get());
  if (!write) return;
  flags_ |= kWritesPaused;
  auto target = delegate_.lock();
  if (!delegateQueue_ || !target) {
    doWriteTimeoutWithExtension(currentWrite_, 0);
    return;
  }
  const long tag = write->tag;
  const double elapsed = write->timeout;
  const size_t bytesDone = write->bytesDone;
  delegateQueue_->post([delegate = delegate_, self = shared_from_this(), packet = currentWrite_,
                        tag, elapsed, bytesDone] {
    double extension = 0;
    if (auto answer = delegate.lock()) {
      extension = answer->socketShouldTimeoutWriteWithTag(self, tag, elapsed, bytesDone);
    }
    self->socketQueue_->post(
        [self, packet, extension] { self->doWriteTimeoutWithExtension(packet, extension); });
  });
}

void GCDAsyncSocket::doWriteTimeoutWithExtension(const std::shared_ptr<GCDAsyncPacket>& packet,
                                                 double extension) {
  if (!packet || currentWrite_ != packet) return;
  auto* write = static_cast<GCDAsyncWritePacket*>(packet.get());
  if (extension > 0) {
    write->timeout += extension;
    if (writeTimer_) {
      writeTimer_->setTimer(socketQueue_->now() + toNanos(extension), dispatch::Nanos(0));
    }
    flags_ &= ~kWritesPaused;
    doWriteData();
  } else {
    closeWithError(SocketError::writeTimeout());
  }
}

void GCDAsyncSocket::suspendReadSource() {
  if (readSource_ && !(flags_ & kReadSourceSuspended)) {
    readSource_->suspend();
    flags_ |= kReadSourceSuspended;
  }
}

void GCDAsyncSocket::resumeReadSource() {
  if (readSource_ && (flags_ & kReadSourceSuspended)) {
    readSource_->resume();
    flags_ &= ~kReadSourceSuspended;
  }
}

void GCDAsyncSocket::suspendWriteSource() {
  if (writeSource_ && !(flags_ & kWriteSourceSuspended)) {
    writeSource_->suspend();
    flags_ |= kWriteSourceSuspended;
  }
}

void GCDAsyncSocket::resumeWriteSource() {
  if (writeSource_ && (flags_ & kWriteSourceSuspended)) {
    writeSource_->resume();
    flags_ &= ~kWriteSourceSuspended;
  }
}

// ---------------------------------------------------------------------------
// Secure transport

void GCDAsyncSocket::startTLS(Value::Map tlsSettings) {
  auto packet = std::make_shared<GCDAsyncSpecialPacket>(std::move(tlsSettings));
  async([packet = std::move(packet)](GCDAsyncSocket& self) {
    if (!(self.flags_ & kSocketStarted) || (self.flags_ & kForbidReadsWrites) ||
        (self.flags_ & kQueuedTLS)) {
      return;
    }
    self.readQueue_.push_back(packet);
    self.writeQueue_.push_back(packet);
    self.flags_ |= kQueuedTLS;
    self.maybeDequeueRead();
    self.maybeDequeueWrite();
  });
}

ssl_st* GCDAsyncSocket::sslContext() const {
  if (!socketQueue_->isCurrent() || !secure_) return nullptr;
  return secure_->ssl();
}

void GCDAsyncSocket::maybeStartTLS() {
  if ((flags_ & kStartingReadTLS) && (flags_ & kStartingWriteTLS)) ssl_startTLS();
}

void GCDAsyncSocket::ssl_startTLS() {
  auto* packet = dynamic_cast<GCDAsyncSpecialPacket*>(currentRead_.get());
  if (!packet) {
    closeWithError(SocketError::other("Logic error"));
    return;
  }
  const Value::Map& settings = packet->tlsSettings;
  auto isServerValue = settings.find(kCFStreamSSLIsServer);
  const bool isServer = isServerValue != settings.end() && isServerValue->second.boolOr(false);

  SocketErrorPtr error;
  secure_ = GCDAsyncSocketSecureLayer::create(isServer, *this, &error);
  if (!secure_) {
    closeWithError(error);
    return;
  }
  if ((error = secure_->applySettings(settings))) {
    closeWithError(error);
    return;
  }
  // What the pre-buffer holds already is the start of the peer's handshake.
  sslPreBuffer_ = std::make_unique<GCDAsyncSocketPreBuffer>(kPreBufferCapacity);
  const size_t waiting = preBuffer_.availableBytes();
  if (waiting > 0) {
    sslPreBuffer_->ensureCapacityForWrite(waiting);
    std::memcpy(sslPreBuffer_->writeBuffer(), preBuffer_.readBuffer(), waiting);
    sslPreBuffer_->didWrite(waiting);
    preBuffer_.didRead(waiting);
  }
  sslErrCode_ = 0;
  lastSSLHandshakeError_ = 0;
  sslWriteCachedLength_ = 0;
  ++handshakeIndex_;
  ssl_continueSSLHandshake();
}

void GCDAsyncSocket::ssl_continueSSLHandshake() {
  if (!secure_) return;
  const int status = secure_->handshake();
  lastSSLHandshakeError_ = status;
  if (status == 0) {
    flags_ &= ~(kQueuedTLS | kStartingReadTLS | kStartingWriteTLS);
    flags_ |= kSocketSecure;
    notifyDelegate([](GCDAsyncSocketDelegate& delegate, const GCDAsyncSocketPtr& self) {
      delegate.socketDidSecure(self);
    });
    endCurrentRead();
    endCurrentWrite();
    maybeDequeueRead();
    maybeDequeueWrite();
    return;
  }
  if (status == kSSLWouldBlock) return;  // the next source event continues it
  if (status != kSSLPeerAuthCompleted) {
    closeWithError(SocketError::ssl(status, secure_->lastErrorText()));
    return;
  }

  auto trust = secure_->copyPeerTrust();
  if (!trust) {
    closeWithError(SocketError::ssl(status, "Could not copy the peer's trust"));
    return;
  }
  static constexpr char kNoTrustHandler[] =
      "GCDAsyncSocketManuallyEvaluateTrust specified in tlsSettings, but delegate doesn't "
      "implement socket:shouldTrustPeer:";
  if (!delegateQueue_ || delegate_.expired()) {
    closeWithError(SocketError::other(kNoTrustHandler));
    return;
  }
  const uint64_t index = handshakeIndex_;
  std::weak_ptr<GCDAsyncSocket> weak = weak_from_this();
  auto socketQueue = socketQueue_;
  delegateQueue_->post(
      [delegate = delegate_, self = shared_from_this(), trust, index, weak, socketQueue] {
        // The answer may come from any thread, any time; it counts only for the
        // handshake it was asked about.
        auto completion = [weak, socketQueue, index](bool shouldTrust) {
          socketQueue->post([weak, index, shouldTrust] {
            if (auto socket = weak.lock()) socket->ssl_shouldTrustPeer(shouldTrust, index);
          });
        };
        auto target = delegate.lock();
        if (!target || !target->socketDidReceiveTrust(self, trust, completion)) {
          socketQueue->post([weak, index] {
            auto socket = weak.lock();
            if (socket && socket->handshakeIndex_ == index) {
              socket->closeWithError(SocketError::other(kNoTrustHandler));
            }
          });
        }
      });
}

void GCDAsyncSocket::ssl_shouldTrustPeer(bool shouldTrust, uint64_t handshakeIndex) {
  if (handshakeIndex != handshakeIndex_ || !secure_ || !(flags_ & kStartingReadTLS)) return;
  if (shouldTrust) {
    secure_->setTrusted();
    ssl_continueSSLHandshake();
  } else {
    closeWithError(SocketError::ssl(kSSLPeerBadCert, "The delegate refused to trust the peer"));
  }
}

void GCDAsyncSocket::ssl_teardown() {
  // An orderly end tells the peer the stream was not cut short (best effort:
  // a full send buffer or a gone peer simply loses it).
  if (secure_ && (flags_ & kSocketSecure)) secure_->shutdown();
  secure_.reset();
  sslPreBuffer_.reset();
}

void GCDAsyncSocket::flushSSLBuffers() {
  if (!secure_ || !(flags_ & kSocketSecure) || preBuffer_.availableBytes() > 0) return;
  auto estimate = [this] {
    return socketFDBytesAvailable_ + (sslPreBuffer_ ? sslPreBuffer_->availableBytes() : 0) +
           secure_->bufferedBytes();
  };
  for (size_t wanted = estimate(); wanted > 0; wanted = estimate()) {
    preBuffer_.ensureCapacityForWrite(wanted);
    size_t length = wanted;
    const int status = secure_->read(preBuffer_.writeBuffer(), &length);
    preBuffer_.didWrite(length);
    if (status == kSSLWouldBlock && sslPreBuffer_ && sslPreBuffer_->availableBytes() > 0) continue;
    if (status != 0) break;
  }
}

int GCDAsyncSocket::sslReadWithBuffer(uint8_t* buffer, size_t* length) {
  const size_t wanted = *length;
  *length = 0;
  if (socketFDBytesAvailable_ == 0 && (!sslPreBuffer_ || sslPreBuffer_->availableBytes() == 0)) {
    // After the end of stream nothing more will come: the context learns
    // whether the peer had said goodbye (close_notify) first.
    if (flags_ & kSocketHasReadEOF) return kSSLClosedAbort;
    resumeReadSource();
    return kSSLWouldBlock;
  }
  size_t total = 0;
  if (sslPreBuffer_ && sslPreBuffer_->availableBytes() > 0) {
    const size_t take = std::min(wanted, sslPreBuffer_->availableBytes());
    std::memcpy(buffer, sslPreBuffer_->readBuffer(), take);
    sslPreBuffer_->didRead(take);
    total += take;
  }
  bool socketError = false;
  if (total < wanted && socketFDBytesAvailable_ > 0) {
    const size_t room = wanted - total;
    // Everything readable is taken in one call; the surplus waits in the
    // secure pre-buffer for the context's next call.
    const bool intoPreBuffer = socketFDBytesAvailable_ > room;
    const size_t toRead = intoPreBuffer ? socketFDBytesAvailable_ : room;
    uint8_t* target = buffer + total;
    if (intoPreBuffer) {
      sslPreBuffer_->ensureCapacityForWrite(toRead);
      target = sslPreBuffer_->writeBuffer();
    }
    const ssize_t result = readRetrying(connectedFD(), target, toRead);
    if (result < 0) {
      socketError = errno != EAGAIN && errno != EWOULDBLOCK;
      socketFDBytesAvailable_ = 0;
      if (!socketError) resumeReadSource();
    } else if (result == 0) {
      socketError = true;
      socketFDBytesAvailable_ = 0;
    } else {
      const auto got = static_cast<size_t>(result);
      socketFDBytesAvailable_ =
          got < toRead ? 0 : socketFDBytesAvailable_ - std::min(socketFDBytesAvailable_, got);
      if (intoPreBuffer) {
        sslPreBuffer_->didWrite(got);
        const size_t take = std::min(room, got);
        std::memcpy(buffer + total, sslPreBuffer_->readBuffer(), take);
        sslPreBuffer_->didRead(take);
        total += take;
      } else {
        total += got;
      }
    }
  }
  *length = total;
  if (total == wanted) return 0;
  if (socketError) return kSSLClosedAbort;
  return kSSLWouldBlock;
}

int GCDAsyncSocket::sslWriteWithBuffer(const uint8_t* buffer, size_t* length) {
  const size_t wanted = *length;
  *length = 0;
  if (!(flags_ & kSocketCanAcceptBytes)) {
    resumeWriteSource();
    return kSSLWouldBlock;
  }
  const ssize_t result = sendRetrying(connectedFD(), buffer, wanted);
  if (result < 0) {
    flags_ &= ~kSocketCanAcceptBytes;
    if (errno == EAGAIN || errno == EWOULDBLOCK) {
      resumeWriteSource();
      return kSSLWouldBlock;
    }
    return kSSLClosedAbort;
  }
  *length = static_cast<size_t>(result);
  if (*length == wanted) return 0;
  flags_ &= ~kSocketCanAcceptBytes;
  resumeWriteSource();
  return kSSLWouldBlock;
}

SocketErrorPtr GCDAsyncSocket::sslWriteCurrent(GCDAsyncWritePacket* write, size_t* bytesWritten,
                                               bool* waiting) {
  static constexpr size_t kChunk = 32768;
  if (sslWriteCachedLength_ > 0) {
    // The context has taken this chunk already; OpenSSL needs the retry to
    // pass the very same bytes and length.
    size_t length = sslWriteCachedLength_;
    const int status = secure_->write(write->buffer->data() + write->bytesDone, &length);
    if (status == kSSLWouldBlock) {
      *waiting = true;
      return nullptr;
    }
    if (status != 0) return SocketError::ssl(status, secure_->lastErrorText());
    write->bytesDone += sslWriteCachedLength_;
    *bytesWritten += sslWriteCachedLength_;
    sslWriteCachedLength_ = 0;
  }
  while (write->bytesDone < write->length()) {
    size_t length = std::min(kChunk, write->remaining());
    const size_t chunk = length;
    const int status = secure_->write(write->buffer->data() + write->bytesDone, &length);
    if (status == kSSLWouldBlock) {
      sslWriteCachedLength_ = chunk;
      *waiting = true;
      return nullptr;
    }
    if (status != 0) return SocketError::ssl(status, secure_->lastErrorText());
    write->bytesDone += chunk;
    *bytesWritten += chunk;
  }
  return nullptr;
}

}  // namespace vistrelle::netlocal
