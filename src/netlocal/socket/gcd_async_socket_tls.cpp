// GCDAsyncSocket: the secure transport over the socket's own descriptor.

#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>

#include <cstring>

#include "netlocal/socket/gcd_async_socket.h"
#include "netlocal/socket/gcd_async_socket_internal.h"
#include "netlocal/socket/gcd_async_special_packet.h"

namespace vistrelle::netlocal {

void GCDAsyncSocket::startTLS(Value::Map tlsSettings) {
  auto packet = std::make_shared<GCDAsyncSpecialPacket>(std::move(tlsSettings));
  async([packet = std::move(packet)](GCDAsyncSocket& self) {
    // Once secure, a second start would replace the session mid-stream
    // (without close_notify, dropping what the old one buffered): the
    // connection simply carries on.
    if (!self.flags_.has(kSocketStarted) || self.flags_.has(kForbidReadsWrites) ||
        self.flags_.has(kQueuedTLS) || self.flags_.has(kSocketSecure)) {
      return;
    }
    self.reads_.queue.push_back(packet);
    self.writes_.queue.push_back(packet);
    self.flags_.set(kQueuedTLS);
    self.maybeDequeue(Side::Read);
    self.maybeDequeue(Side::Write);
  });
}

ssl_st* GCDAsyncSocket::sslContext() const {
  if (!socketQueue_->isCurrent() || !secure()) return nullptr;
  return secure()->ssl();
}

void GCDAsyncSocket::maybeStartTLS() {
  if (flags_.has(kStartingReadTLS) && flags_.has(kStartingWriteTLS)) ssl_startTLS();
}

void GCDAsyncSocket::ssl_startTLS() {
  auto* packet = dynamic_cast<GCDAsyncSpecialPacket*>(reads_.current.get());
  if (!packet) {
    closeWithError(SocketError::other("Logic error"));
    return;
  }
  const Value::Map& settings = packet->tlsSettings;
  auto isServerValue = settings.find(kCFStreamSSLIsServer);
  const bool isServer = isServerValue != settings.end() && isServerValue->second.boolOr(false);

  SocketErrorPtr error;
  Transport& transport = *this;
  handles_.secure = GCDAsyncSocketSecureLayer::create(isServer, transport, &error);
  if (!handles_.secure) {
    closeWithError(error);
    return;
  }
  if ((error = handles_.secure->applySettings(settings))) {
    closeWithError(error);
    return;
  }
  // Each record leaves in a send of its own, and a TLS 1.3 server sends its
  // session tickets as two small records just before its first reply: with
  // the kernel's small-segment coalescing the second waits for the peer's
  // delayed acknowledgement (40 ms) and the reply behind it.  Records are
  // whole messages already, so nothing is gained by holding them back.
  const int fd = connectedFD();
  if (fd == handles_.socket4FD || fd == handles_.socket6FD) {
    const int on = 1;
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
  }
  // What the pre-buffer holds already is the start of the peer's handshake.
  handles_.sslPreBuffer = std::make_unique<GCDAsyncSocketPreBuffer>(kPreBufferCapacity);
  const size_t waiting = preBuffer_.availableBytes();
  if (waiting > 0) {
    sslPreBuffer()->ensureCapacityForWrite(waiting);
    std::memcpy(sslPreBuffer()->writeBuffer(), preBuffer_.readBuffer(), waiting);
    sslPreBuffer()->didWrite(waiting);
    preBuffer_.didRead(waiting);
  }
  sslErrCode_ = 0;
  lastSSLHandshakeError_ = 0;
  sslWriteCachedLength_ = 0;
  ++handshakeIndex_;
  ssl_continueSSLHandshake();
}

void GCDAsyncSocket::ssl_continueSSLHandshake() {
  if (!secure()) return;
  const int status = secure()->handshake();
  lastSSLHandshakeError_ = status;
  if (status == 0) {
    flags_.clear(kQueuedTLS | kStartingReadTLS | kStartingWriteTLS);
    flags_.set(kSocketSecure);
    notifyDelegate([](GCDAsyncSocketDelegate& delegate, const GCDAsyncSocketPtr& self) {
      delegate.socketDidSecure(self);
    });
    endCurrent(Side::Read);
    endCurrent(Side::Write);
    maybeDequeue(Side::Read);
    maybeDequeue(Side::Write);
    return;
  }
  if (status == kSSLWouldBlock) return;  // the next source event continues it
  if (status != kSSLPeerAuthCompleted) {
    closeWithError(SocketError::ssl(status, secure()->lastErrorText()));
    return;
  }

  auto trust = secure()->copyPeerTrust();
  if (!trust) {
    closeWithError(SocketError::ssl(status, "Could not copy the peer's trust"));
    return;
  }
  static constexpr char kNoTrustHandler[] =
      "GCDAsyncSocketManuallyEvaluateTrust specified in tlsSettings, but delegate doesn't "
      "implement socket:shouldTrustPeer:";
  if (!delegateQueue_ || delegate_.expired() || !link_->live()) {
    closeWithError(SocketError::other(kNoTrustHandler));
    return;
  }
  const uint64_t index = handshakeIndex_;
  std::weak_ptr<GCDAsyncSocket> weak = weak_from_this();
  delegateQueue_->post([delegate = delegate_, self = shared_from_this(), trust, index, weak,
                        link = link_, socketQueue = socketQueue_] {
    // The answer may come from any thread, any time; it counts only for the
    // handshake it was asked about.
    auto completion = [weak, link, socketQueue, index](bool shouldTrust) {
      link->postWhileLive(socketQueue, [weak, index, shouldTrust] {
        if (auto socket = weak.lock()) socket->ssl_shouldTrustPeer(shouldTrust, index);
      });
    };
    auto target = delegate.lock();
    if (!target || !target->socketDidReceiveTrust(self, trust, completion)) {
      link->postWhileLive(socketQueue, [weak, index] {
        auto socket = weak.lock();
        if (socket && socket->handshakeIndex_ == index) {
          socket->closeWithError(SocketError::other(kNoTrustHandler));
        }
      });
    }
  });
}

void GCDAsyncSocket::ssl_shouldTrustPeer(bool shouldTrust, uint64_t handshakeIndex) {
  if (handshakeIndex != handshakeIndex_ || !secure() || !flags_.has(kStartingReadTLS)) return;
  if (shouldTrust) {
    secure()->setTrusted();
    ssl_continueSSLHandshake();
  } else {
    closeWithError(SocketError::ssl(kSSLPeerBadCert, "The delegate refused to trust the peer"));
  }
}

void GCDAsyncSocket::flushSSLBuffers() {
  if (!secure() || !flags_.has(kSocketSecure) || preBuffer_.availableBytes() > 0) return;
  auto estimate = [this] {
    return socketFDBytesAvailable_ + (sslPreBuffer() ? sslPreBuffer()->availableBytes() : 0) +
           secure()->bufferedBytes();
  };
  for (size_t wanted = estimate(); wanted > 0; wanted = estimate()) {
    preBuffer_.ensureCapacityForWrite(wanted);
    size_t length = wanted;
    const int status = secure()->read(preBuffer_.writeBuffer(), &length);
    preBuffer_.didWrite(length);
    if (status == kSSLWouldBlock && sslPreBuffer() && sslPreBuffer()->availableBytes() > 0) {
      continue;
    }
    if (status != 0) break;
  }
}

int GCDAsyncSocket::sslReadWithBuffer(uint8_t* buffer, size_t* length) {
  const size_t wanted = *length;
  *length = 0;
  GCDAsyncSocketPreBuffer* encrypted = sslPreBuffer();
  if (socketFDBytesAvailable_ == 0 && (!encrypted || encrypted->availableBytes() == 0)) {
    // After the end of stream nothing more will come: the context learns
    // whether the peer had said goodbye (close_notify) first.
    if (flags_.has(kSocketHasReadEOF)) return kSSLClosedAbort;
    resumeReadSource();
    return kSSLWouldBlock;
  }
  size_t total = 0;
  if (encrypted && encrypted->availableBytes() > 0) {
    const size_t take = std::min(wanted, encrypted->availableBytes());
    std::memcpy(buffer, encrypted->readBuffer(), take);
    encrypted->didRead(take);
    total += take;
  }
  bool socketError = false;
  if (total < wanted && socketFDBytesAvailable_ > 0) {
    const size_t room = wanted - total;
    // Everything readable is taken in one call; the surplus waits in the
    // secure pre-buffer for the context's next call.
    const bool intoPreBuffer = encrypted && socketFDBytesAvailable_ > room;
    const size_t toRead = intoPreBuffer ? socketFDBytesAvailable_ : room;
    uint8_t* target = buffer + total;
    if (intoPreBuffer) {
      encrypted->ensureCapacityForWrite(toRead);
      target = encrypted->writeBuffer();
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
        encrypted->didWrite(got);
        const size_t take = std::min(room, got);
        std::memcpy(buffer + total, encrypted->readBuffer(), take);
        encrypted->didRead(take);
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
  if (!flags_.has(kSocketCanAcceptBytes)) {
    resumeWriteSource();
    return kSSLWouldBlock;
  }
  const ssize_t result = sendRetrying(connectedFD(), buffer, wanted);
  if (result < 0) {
    flags_.clear(kSocketCanAcceptBytes);
    if (errno == EAGAIN || errno == EWOULDBLOCK) {
      resumeWriteSource();
      return kSSLWouldBlock;
    }
    return kSSLClosedAbort;
  }
  *length = static_cast<size_t>(result);
  if (*length == wanted) return 0;
  flags_.clear(kSocketCanAcceptBytes);
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
    const int status = secure()->write(write->buffer->data() + write->bytesDone, &length);
    if (status == kSSLWouldBlock) {
      *waiting = true;
      return nullptr;
    }
    if (status != 0) return SocketError::ssl(status, secure()->lastErrorText());
    write->bytesDone += sslWriteCachedLength_;
    *bytesWritten += sslWriteCachedLength_;
    sslWriteCachedLength_ = 0;
  }
  while (write->bytesDone < write->length()) {
    size_t length = std::min(kChunk, write->remaining());
    const size_t chunk = length;
    const int status = secure()->write(write->buffer->data() + write->bytesDone, &length);
    if (status == kSSLWouldBlock) {
      sslWriteCachedLength_ = chunk;
      *waiting = true;
      return nullptr;
    }
    if (status != 0) return SocketError::ssl(status, secure()->lastErrorText());
    write->bytesDone += chunk;
    *bytesWritten += chunk;
  }
  return nullptr;
}

}  // namespace vistrelle::netlocal
