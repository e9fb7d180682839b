#include "netlocal/socket/gcd_async_socket_handles.h"

#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <utility>

namespace vistrelle::netlocal {

namespace {

void closeDescriptor(int fd) {
  // close() must not be retried on EINTR on Linux: the descriptor is gone either way.
  if (fd >= 0) ::close(fd);
}

// The secure layer's last words go straight to the descriptor, without the
// socket (which may be gone) and without waiting.
class DirectTransport final : public GCDAsyncSocketSecureLayer::Transport {
 public:
  explicit DirectTransport(int fd) : fd_(fd) {}
  int sslReadWithBuffer(uint8_t* /*buffer*/, size_t* length) override {
    *length = 0;
    return kSSLClosedAbort;
  }
  int sslWriteWithBuffer(const uint8_t* buffer, size_t* length) override {
    ssize_t sent;
    do {
      sent = ::send(fd_, buffer, *length, MSG_NOSIGNAL | MSG_DONTWAIT);
    } while (sent < 0 && errno == EINTR);
    if (sent < 0) {
      *length = 0;
      return kSSLClosedAbort;
    }
    const bool all = static_cast<size_t>(sent) == *length;
    *length = static_cast<size_t>(sent);
    return all ? 0 : kSSLWouldBlock;
  }

 private:
  const int fd_;
};

}  // namespace

GCDAsyncSocketHandles::GCDAsyncSocketHandles(GCDAsyncSocketHandles&& other) noexcept {
  moveFrom(other);
}

GCDAsyncSocketHandles& GCDAsyncSocketHandles::operator=(GCDAsyncSocketHandles&& other) noexcept {
  if (this != &other) {
    close(false, false);
    moveFrom(other);
  }
  return *this;
}

void GCDAsyncSocketHandles::moveFrom(GCDAsyncSocketHandles& other) noexcept {
  socket4FD = std::exchange(other.socket4FD, -1);
  socket6FD = std::exchange(other.socket6FD, -1);
  socketUN = std::exchange(other.socketUN, -1);
  listenerPath = std::exchange(other.listenerPath, {});
  accept4Source = std::move(other.accept4Source);
  accept6Source = std::move(other.accept6Source);
  acceptUNSource = std::move(other.acceptUNSource);
  readSource = std::move(other.readSource);
  writeSource = std::move(other.writeSource);
  connect4Source = std::move(other.connect4Source);
  connect6Source = std::move(other.connect6Source);
  connectUNSource = std::move(other.connectUNSource);
  connectTimer = std::move(other.connectTimer);
  alternateConnect = std::exchange(other.alternateConnect, {});
  acceptPause = std::exchange(other.acceptPause, {});
  secure = std::move(other.secure);
  sslPreBuffer = std::move(other.sslPreBuffer);
}

GCDAsyncSocketHandles::~GCDAsyncSocketHandles() {
  close(false, false);
}

bool GCDAsyncSocketHandles::empty() const {
  return socket4FD < 0 && socket6FD < 0 && socketUN < 0 && listenerPath.empty() && !accept4Source &&
         !accept6Source && !acceptUNSource && !readSource && !writeSource && !connect4Source &&
         !connect6Source && !connectUNSource && !connectTimer && alternateConnect.isCancelled() &&
         acceptPause.isCancelled() && !secure && !sslPreBuffer;
}

void GCDAsyncSocketHandles::close(bool live, bool sayGoodbye) {
  if (connectTimer) {
    connectTimer->cancel();  // no cancel handler: nothing is posted
    connectTimer.reset();
  }
  alternateConnect.cancel();
  acceptPause.cancel();

  const int connected = socket4FD >= 0 ? socket4FD : (socket6FD >= 0 ? socket6FD : socketUN);
  if (secure && sayGoodbye && connected >= 0) {
    DirectTransport transport(connected);
    secure->setTransport(transport);
    secure->shutdown();
  }
  secure.reset();
  sslPreBuffer.reset();

  // A connect still in flight: its descriptor has no other owner.
  for (auto [source, fd] :
       {std::pair{&connect4Source, &socket4FD}, std::pair{&connect6Source, &socket6FD},
        std::pair{&connectUNSource, &socketUN}}) {
    if (!*source) continue;
    if (live) (*source)->cancel();
    source->reset();
    closeDescriptor(std::exchange(*fd, -1));
  }

  dispatch::IoSourcePtr* owners[] = {&accept4Source, &accept6Source, &acceptUNSource, &readSource,
                                     &writeSource};
  bool ownedBySources = false;
  for (auto* source : owners) ownedBySources = ownedBySources || *source;
  if (live && ownedBySources) {
    // Each cancel handler closes its descriptor (and a listener's file) on
    // the queue, after an event handler still running there.
    for (auto* source : owners) {
      if (*source) (*source)->cancel();
      source->reset();
    }
  } else {
    // Not live, sources are never left: the runtime's stop closed the socket
    // while it still ran.  Should one be, its handlers never run again.
    for (auto* source : owners) source->reset();
    closeDescriptor(socket4FD);
    closeDescriptor(socket6FD);
    closeDescriptor(socketUN);
    if (!listenerPath.empty()) ::unlink(listenerPath.c_str());
  }
  socket4FD = socket6FD = socketUN = -1;
  listenerPath.clear();
}

}  // namespace vistrelle::netlocal
