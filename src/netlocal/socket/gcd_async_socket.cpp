#include "netlocal/socket/gcd_async_socket.h"

#include <fcntl.h>
#include <sys/socket.h>

#include "netlocal/socket/gcd_async_socket_internal.h"
#include "netlocal/socket/socket_address.h"
#include "platform/dispatch/reactor.h"
#include "platform/dispatch/runtime.h"
#include "platform/dispatch/serial_queue.h"
#include "platform/dispatch/thread_pool.h"

namespace vistrelle::netlocal {

namespace {

void setConfig(std::atomic<uint16_t>& config, uint16_t bit, bool on) {
  if (on) {
    config.fetch_or(bit, std::memory_order_acq_rel);
  } else {
    config.fetch_and(static_cast<uint16_t>(~bit), std::memory_order_acq_rel);
  }
}

}  // namespace

// ---------------------------------------------------------------------------
// Creation and destruction

GCDAsyncSocket::GCDAsyncSocket(std::weak_ptr<GCDAsyncSocketDelegate> delegate,
                               dispatch::ExecutorPtr delegateQueue,
                               dispatch::ExecutorPtr socketQueue,
                               std::shared_ptr<GCDAsyncSocketRuntimeLink> link)
    : socketQueue_(std::move(socketQueue)),
      link_(std::move(link)),
      delegate_(std::move(delegate)),
      delegateQueue_(std::move(delegateQueue)),
      preBuffer_(kPreBufferCapacity) {
  snapshot_.publishDelegate(delegate_, delegateQueue_);
}

GCDAsyncSocketPtr GCDAsyncSocket::create(std::weak_ptr<GCDAsyncSocketDelegate> delegate,
                                         dispatch::ExecutorPtr delegateQueue,
                                         dispatch::ExecutorPtr socketQueue) {
  dispatch::Runtime& runtime = dispatch::Runtime::shared();
  auto link = std::make_shared<GCDAsyncSocketRuntimeLink>(runtime);
  if (!socketQueue) socketQueue = runtime.makeSerialQueue("GCDAsyncSocket");
  GCDAsyncSocketPtr socket(new GCDAsyncSocket(std::move(delegate), std::move(delegateQueue),
                                              std::move(socketQueue), link));
  std::weak_ptr<GCDAsyncSocket> weak = socket;
  socket->stopRegistration_ = GCDAsyncSocketRuntimeLink::registerStop(runtime, link, [weak] {
    if (auto self = weak.lock()) self->closeForRuntimeStop();
  });
  // Made after the runtime stopped: nothing will ever run its stop.
  if (link->pool()->stopped()) link->markStopped();
  return socket;
}

GCDAsyncSocketPtr GCDAsyncSocket::createWithSocketQueue(dispatch::ExecutorPtr socketQueue) {
  return create({}, nullptr, std::move(socketQueue));
}

GCDAsyncSocketPtr GCDAsyncSocket::socketFromConnectedSocketFD(
    int socketFD, std::weak_ptr<GCDAsyncSocketDelegate> delegate,
    dispatch::ExecutorPtr delegateQueue, dispatch::ExecutorPtr socketQueue, SocketErrorPtr* error) {
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
  auto socket = create(std::move(delegate), std::move(delegateQueue), std::move(socketQueue));
  SocketErrorPtr failure;
  socket->socketQueue_->sync([&] {
    if (!socket->link_->live()) {
      failure = SocketError::other("Attempt to create socket after the dispatch runtime stopped.");
      return;
    }
    const int flags = fcntl(socketFD, F_GETFL);
    if (flags < 0 || fcntl(socketFD, F_SETFL, flags | O_NONBLOCK) < 0) {
      failure = SocketError::other("Error enabling non-blocking IO on socket (fcntl)");
      return;
    }
    socket->fdForFamily(family) = socketFD;
    socket->flags_.set(kSocketStarted | kConnected);
    socket->setupConnection(socketFD);
    socket->notifyConnected();
  });
  if (failure) {
    setError(error, failure);
    return nullptr;
  }
  return socket;
}

GCDAsyncSocket::~GCDAsyncSocket() {
  // Nothing else holds the socket now (sources, timers and stops hold it
  // weakly), so its state is this thread's to move; the teardown itself runs
  // on the socket queue, later, and nothing here waits for it.
  flags_.set(kDealloc);
  endCurrent(Side::Read);
  endCurrent(Side::Write);
  auto closing = std::make_shared<GCDAsyncSocketHandles>(std::move(handles_));
  const bool secureUp = flags_.has(kSocketSecure);
  const bool tellDelegate = flags_.has(kSocketStarted) && delegateQueue_;
  auto teardown = [closing, secureUp, tellDelegate, delegate = delegate_,
                   delegateQueue = delegateQueue_] {
    if (tellDelegate) {
      delegateQueue->post([delegate] {
        if (auto target = delegate.lock()) target->socketDidDisconnect(nullptr, nullptr);
      });
    }
    closing->close(true, secureUp);
  };
  if (closing->empty() && !tellDelegate) return;  // closed before: nothing left to do
  if (!link_->postWhileLive(socketQueue_, std::move(teardown))) {
    closing->close(false, secureUp);
  }
}

void GCDAsyncSocket::closeForRuntimeStop() {
  // While the runtime still runs: the ordinary close, with its notice.
  socketQueue_->sync([this] {
    if (flags_.has(kSocketStarted)) closeWithError(nullptr);
    link_->markStopped();
  });
}

// ---------------------------------------------------------------------------
// Queue helpers

void GCDAsyncSocket::async(std::function<void(GCDAsyncSocket&)> task) {
  // On the socket queue: a later turn, so that nothing nests.
  if (link_->live() && socketQueue_->isCurrent()) {
    socketQueue_->post([self = shared_from_this(), task = std::move(task)] { task(*self); });
    return;
  }
  // From any other thread the request is queued at once: on an idle socket
  // queue it runs right here, which saves a thread hand-off per request (the
  // delegate's next read or its reply), and a busy one is waited for
  // briefly.  On a pool thread that wait never holds up the pool: the thread
  // takes the socket queue over when its owner yields it.  Once the runtime
  // has stopped this runs here in any case.
  socketQueue_->sync([this, &task] { task(*this); });
}

void GCDAsyncSocket::takeNext(Side side) {
  // At once while shallow (the common case: the queue goes idle sooner and
  // the delegate's next request runs on its own thread), on a fresh turn of
  // the queue when many queued requests complete in a row.
  static constexpr int kMaxDepth = 16;
  if (takeNextDepth_ < kMaxDepth || !link_->live()) {
    ++takeNextDepth_;
    maybeDequeue(side);
    --takeNextDepth_;
    return;
  }
  socketQueue_->post([self = shared_from_this(), side] { self->maybeDequeue(side); });
}

GCDAsyncSocketPtr GCDAsyncSocket::selfForDelegate() {
  if (flags_.has(kDealloc)) return nullptr;
  return shared_from_this();
}

// ---------------------------------------------------------------------------
// Delegate and configuration

void GCDAsyncSocket::setDelegateOnQueue(std::weak_ptr<GCDAsyncSocketDelegate> delegate,
                                        dispatch::ExecutorPtr queue) {
  delegate_ = delegate;
  delegateQueue_ = queue;
  snapshot_.publishDelegate(std::move(delegate), std::move(queue));
}

std::shared_ptr<GCDAsyncSocketDelegate> GCDAsyncSocket::delegate() const {
  return snapshot_.delegate().lock();
}

void GCDAsyncSocket::setDelegate(std::weak_ptr<GCDAsyncSocketDelegate> delegate) {
  async(
      [delegate](GCDAsyncSocket& self) { self.setDelegateOnQueue(delegate, self.delegateQueue_); });
}

void GCDAsyncSocket::synchronouslySetDelegate(std::weak_ptr<GCDAsyncSocketDelegate> delegate) {
  socketQueue_->sync([&] { setDelegateOnQueue(delegate, delegateQueue_); });
}

dispatch::ExecutorPtr GCDAsyncSocket::delegateQueue() const {
  return snapshot_.delegateQueue();
}

void GCDAsyncSocket::setDelegateQueue(dispatch::ExecutorPtr queue) {
  async([queue](GCDAsyncSocket& self) { self.setDelegateOnQueue(self.delegate_, queue); });
}

void GCDAsyncSocket::synchronouslySetDelegateQueue(dispatch::ExecutorPtr queue) {
  socketQueue_->sync([&] { setDelegateOnQueue(delegate_, queue); });
}

void GCDAsyncSocket::setDelegate(std::weak_ptr<GCDAsyncSocketDelegate> delegate,
                                 dispatch::ExecutorPtr queue) {
  async([delegate, queue](GCDAsyncSocket& self) { self.setDelegateOnQueue(delegate, queue); });
}

void GCDAsyncSocket::synchronouslySetDelegate(std::weak_ptr<GCDAsyncSocketDelegate> delegate,
                                              dispatch::ExecutorPtr queue) {
  socketQueue_->sync([&] { setDelegateOnQueue(delegate, queue); });
}

void GCDAsyncSocket::getDelegate(std::shared_ptr<GCDAsyncSocketDelegate>* delegate,
                                 dispatch::ExecutorPtr* queue) const {
  if (delegate) *delegate = snapshot_.delegate().lock();
  if (queue) *queue = snapshot_.delegateQueue();
}

bool GCDAsyncSocket::isIPv4Enabled() const {
  return (config_.load(std::memory_order_acquire) & kIPv4Disabled) == 0;
}
void GCDAsyncSocket::setIPv4Enabled(bool enabled) {
  setConfig(config_, kIPv4Disabled, !enabled);
}
bool GCDAsyncSocket::isIPv6Enabled() const {
  return (config_.load(std::memory_order_acquire) & kIPv6Disabled) == 0;
}
void GCDAsyncSocket::setIPv6Enabled(bool enabled) {
  setConfig(config_, kIPv6Disabled, !enabled);
}
bool GCDAsyncSocket::isIPv4PreferredOverIPv6() const {
  return (config_.load(std::memory_order_acquire) & kPreferIPv6) == 0;
}
void GCDAsyncSocket::setIPv4PreferredOverIPv6(bool preferred) {
  setConfig(config_, kPreferIPv6, !preferred);
}
double GCDAsyncSocket::alternateAddressDelay() const {
  return alternateAddressDelay_.load(std::memory_order_acquire);
}
void GCDAsyncSocket::setAlternateAddressDelay(double seconds) {
  alternateAddressDelay_.store(seconds, std::memory_order_release);
}
bool GCDAsyncSocket::autoDisconnectOnClosedReadStream() const {
  return (config_.load(std::memory_order_acquire) & kAllowHalfDuplexConnection) == 0;
}
void GCDAsyncSocket::setAutoDisconnectOnClosedReadStream(bool flag) {
  setConfig(config_, kAllowHalfDuplexConnection, !flag);
}
std::any GCDAsyncSocket::userData() const {
  return snapshot_.userData();
}
void GCDAsyncSocket::setUserData(std::any data) {
  snapshot_.setUserData(std::move(data));
}

// ---------------------------------------------------------------------------
// A connection

void GCDAsyncSocket::setupConnection(int fd) {
  // Urgent data stays in the stream where the peer put it.  Held apart, it
  // would also stop the kernel's count of readable bytes at its mark, which
  // reads as the end of the stream.
  const int on = 1;
  setsockopt(fd, SOL_SOCKET, SO_OOBINLINE, &on, sizeof on);

  dispatch::Reactor& reactor = link_->reactor();
  handles_.readSource = reactor.makeReadSource(fd, socketQueue_);
  handles_.writeSource = reactor.makeWriteSource(fd, socketQueue_);
  std::weak_ptr<GCDAsyncSocket> weak = weak_from_this();
  dispatch::IoSource* reader = handles_.readSource.get();
  handles_.readSource->setEventHandler([weak, reader] {
    if (auto self = weak.lock()) self->readSourceEvent(*reader);
  });
  handles_.writeSource->setEventHandler([weak] {
    if (auto self = weak.lock()) self->writeSourceEvent();
  });
  // The second of the two cancel handlers closes the descriptor.
  auto remaining = std::make_shared<int>(2);
  auto closer = [remaining, fd] {
    if (--*remaining == 0) closeDescriptor(fd);
  };
  handles_.readSource->setCancelHandler(closer);
  handles_.writeSource->setCancelHandler(closer);
  socketFDBytesAvailable_ = 0;
  flags_.clear(kReadSourceSuspended);
  flags_.set(kWriteSourceSuspended | kSocketCanAcceptBytes);
  handles_.readSource->resume();
  publishEndpoints();
}

void GCDAsyncSocket::publishEndpoints() {
  GCDAsyncSocketSnapshot::Endpoints endpoints;
  auto fill = [](int fd, GCDAsyncSocketSnapshot::Endpoint& endpoint) {
    if (fd < 0) return;
    endpoint.open = true;
    endpoint.local = addressInfo(fd, false);
    endpoint.peer = addressInfo(fd, true);
  };
  fill(handles_.socket4FD, endpoints.ipv4);
  fill(handles_.socket6FD, endpoints.ipv6);
  fill(handles_.socketUN, endpoints.localDomain);
  if (handles_.socketUN >= 0 && !socketUrl_.empty()) endpoints.url = "file://" + socketUrl_;
  snapshot_.publishEndpoints(std::move(endpoints));
}

int GCDAsyncSocket::connectedFD() const {
  if (handles_.socket4FD >= 0) return handles_.socket4FD;
  if (handles_.socket6FD >= 0) return handles_.socket6FD;
  return handles_.socketUN;
}

// ---------------------------------------------------------------------------
// Closing

void GCDAsyncSocket::closeWithError(SocketErrorPtr error) {
  endConnectTimeout();
  endCurrent(Side::Read);
  endCurrent(Side::Write);
  reads_.queue.clear();
  writes_.queue.clear();
  preBuffer_.reset();
  sslErrCode_ = 0;
  lastSSLHandshakeError_ = 0;

  GCDAsyncSocketHandles closing(std::move(handles_));
  const bool secureUp = flags_.has(kSocketSecure);
  socketUrl_.clear();
  socketFDBytesAvailable_ = 0;
  snapshot_.clearEndpoints();

  const bool shouldCallDelegate = flags_.has(kSocketStarted);
  flags_.assign(flags_.has(kDealloc) ? uint32_t{kDealloc} : uint32_t{0});
  sslWriteCachedLength_ = 0;
  ++handshakeIndex_;

  // Told before the peer can hear of the close (close_notify, the end of the
  // stream), so that our notice comes before anything the peer answers.
  if (shouldCallDelegate) {
    notifyDelegate([error](GCDAsyncSocketDelegate& delegate, const GCDAsyncSocketPtr& self) {
      delegate.socketDidDisconnect(self, error);
    });
  }
  closing.close(link_->live(), secureUp);
}

void GCDAsyncSocket::disconnect() {
  socketQueue_->sync([this] {
    if (flags_.has(kSocketStarted)) closeWithError(nullptr);
  });
}

void GCDAsyncSocket::disconnectAfterReading() {
  async([](GCDAsyncSocket& self) {
    if (!self.flags_.has(kSocketStarted)) return;
    self.flags_.set(kForbidReadsWrites | kDisconnectAfterReads);
    self.maybeClose();
  });
}

void GCDAsyncSocket::disconnectAfterWriting() {
  async([](GCDAsyncSocket& self) {
    if (!self.flags_.has(kSocketStarted)) return;
    self.flags_.set(kForbidReadsWrites | kDisconnectAfterWrites);
    self.maybeClose();
  });
}

void GCDAsyncSocket::disconnectAfterReadingAndWriting() {
  async([](GCDAsyncSocket& self) {
    if (!self.flags_.has(kSocketStarted)) return;
    self.flags_.set(kForbidReadsWrites | kDisconnectAfterReads | kDisconnectAfterWrites);
    self.maybeClose();
  });
}

void GCDAsyncSocket::maybeClose() {
  const bool readsDone = reads_.queue.empty() && !reads_.current;
  const bool writesDone = writes_.queue.empty() && !writes_.current;
  bool shouldClose = false;
  if (flags_.has(kDisconnectAfterReads)) {
    shouldClose = flags_.has(kDisconnectAfterWrites) ? (readsDone && writesDone) : readsDone;
  } else if (flags_.has(kDisconnectAfterWrites)) {
    shouldClose = writesDone;
  }
  if (shouldClose) closeWithError(nullptr);
}

// ---------------------------------------------------------------------------
// State and addresses: what the socket queue last published

AddressInfo GCDAsyncSocket::publishedAddress(Family family, bool peer) const {
  const auto endpoints = snapshot_.endpoints();
  const GCDAsyncSocketSnapshot::Endpoint* endpoint = nullptr;
  switch (family) {
    case Family::IPv4:
      endpoint = &endpoints->ipv4;
      break;
    case Family::IPv6:
      endpoint = &endpoints->ipv6;
      break;
    case Family::Internet:
      endpoint = endpoints->ipv4.open ? &endpoints->ipv4 : &endpoints->ipv6;
      break;
    case Family::Any:
      endpoint = endpoints->ipv4.open   ? &endpoints->ipv4
                 : endpoints->ipv6.open ? &endpoints->ipv6
                                        : &endpoints->localDomain;
      break;
  }
  const auto& address = peer ? endpoint->peer : endpoint->local;
  return address ? *address : AddressInfo{};
}

bool GCDAsyncSocket::isDisconnected() const {
  return (flags_.published() & kSocketStarted) == 0;
}
bool GCDAsyncSocket::isConnected() const {
  return (flags_.published() & kConnected) != 0;
}
std::string GCDAsyncSocket::connectedHost() const {
  return publishedAddress(Family::Internet, true).host;
}
uint16_t GCDAsyncSocket::connectedPort() const {
  return publishedAddress(Family::Internet, true).port;
}
std::string GCDAsyncSocket::connectedUrl() const {
  return snapshot_.endpoints()->url;
}
std::string GCDAsyncSocket::localHost() const {
  return publishedAddress(Family::Internet, false).host;
}
uint16_t GCDAsyncSocket::localPort() const {
  return publishedAddress(Family::Internet, false).port;
}
std::string GCDAsyncSocket::connectedHost4() const {
  return publishedAddress(Family::IPv4, true).host;
}
std::string GCDAsyncSocket::connectedHost6() const {
  return publishedAddress(Family::IPv6, true).host;
}
uint16_t GCDAsyncSocket::connectedPort4() const {
  return publishedAddress(Family::IPv4, true).port;
}
uint16_t GCDAsyncSocket::connectedPort6() const {
  return publishedAddress(Family::IPv6, true).port;
}
std::string GCDAsyncSocket::localHost4() const {
  return publishedAddress(Family::IPv4, false).host;
}
std::string GCDAsyncSocket::localHost6() const {
  return publishedAddress(Family::IPv6, false).host;
}
uint16_t GCDAsyncSocket::localPort4() const {
  return publishedAddress(Family::IPv4, false).port;
}
uint16_t GCDAsyncSocket::localPort6() const {
  return publishedAddress(Family::IPv6, false).port;
}
Bytes GCDAsyncSocket::connectedAddress() const {
  return publishedAddress(Family::Any, true).address;
}
Bytes GCDAsyncSocket::localAddress() const {
  return publishedAddress(Family::Any, false).address;
}
bool GCDAsyncSocket::isIPv4() const {
  return snapshot_.endpoints()->ipv4.open;
}
bool GCDAsyncSocket::isIPv6() const {
  return snapshot_.endpoints()->ipv6.open;
}
bool GCDAsyncSocket::isSecure() const {
  return (flags_.published() & kSocketSecure) != 0;
}
int GCDAsyncSocket::socketFD() const {
  if (!socketQueue_->isCurrent()) return -1;
  return handles_.socket4FD >= 0 ? handles_.socket4FD : handles_.socket6FD;
}
int GCDAsyncSocket::socket4FD() const {
  return socketQueue_->isCurrent() ? handles_.socket4FD : -1;
}
int GCDAsyncSocket::socket6FD() const {
  return socketQueue_->isCurrent() ? handles_.socket6FD : -1;
}
void GCDAsyncSocket::performBlock(const std::function<void()>& block) {
  socketQueue_->sync(block);
}

// ---------------------------------------------------------------------------
// Class operations

std::string GCDAsyncSocket::hostFromAddress(const Bytes& address) {
  auto info = describeAddress(address);
  return info ? info->host : std::string();
}

uint16_t GCDAsyncSocket::portFromAddress(const Bytes& address) {
  auto info = describeAddress(address);
  return info ? info->port : 0;
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
  auto info = describeAddress(address);
  if (!info) return false;
  if (host) *host = info->host;
  if (port) *port = info->port;
  if (family) *family = info->family;
  return true;
}

std::vector<Bytes> GCDAsyncSocket::lookupHost(const std::string& host, uint16_t port,
                                              SocketErrorPtr* error) {
  return netlocal::lookupHost(host, port, error);
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

}  // namespace vistrelle::netlocal
