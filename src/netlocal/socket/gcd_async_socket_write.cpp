// GCDAsyncSocket: writing.

#include "netlocal/socket/gcd_async_socket.h"
#include "netlocal/socket/gcd_async_socket_internal.h"

namespace vistrelle::netlocal {

void GCDAsyncSocket::writeData(Bytes data, double timeout, long tag) {
  writeData(std::make_shared<const Bytes>(std::move(data)), timeout, tag);
}

void GCDAsyncSocket::writeData(std::shared_ptr<const Bytes> data, double timeout, long tag) {
  if (!data || data->empty()) return;
  queueRequest(Side::Write, std::make_shared<GCDAsyncWritePacket>(std::move(data), timeout, tag));
}

void GCDAsyncSocket::writeSourceEvent() {
  flags_.set(kSocketCanAcceptBytes);
  // While secure, a read may be waiting for the transport to drain (a key
  // update): serve it as well.
  if (flags_.has(kSocketSecure) && reads_.current) doReadData();
  doWriteData();
}

void GCDAsyncSocket::doWriteData() {
  if (!writes_.current || flags_.has(kWritesPaused)) {
    // Nothing to write: a writable descriptor would keep the source firing.
    if (flags_.has(kSocketCanAcceptBytes)) suspendWriteSource();
    return;
  }
  if (!flags_.has(kSocketCanAcceptBytes)) {
    resumeWriteSource();
    return;
  }
  if (flags_.has(kStartingWriteTLS)) {
    if (flags_.has(kStartingReadTLS) && lastSSLHandshakeError_ == kSSLWouldBlock) {
      ssl_continueSSLHandshake();
    } else {
      suspendWriteSource();
    }
    return;
  }
  auto* write = dynamic_cast<GCDAsyncWritePacket*>(writes_.current.get());
  if (!write) return;

  bool waiting = false;
  SocketErrorPtr error;
  size_t bytesWritten = 0;

  if (flags_.has(kSocketSecure)) {
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
    completeCurrent(Side::Write);
    takeNext(Side::Write);
    return;
  }
  // Either way the write source, now resumed, brings the next pass.
  flags_.clear(kSocketCanAcceptBytes);
  resumeWriteSource();
  if (bytesWritten > 0) {
    publishProgress(Side::Write);
    notifyDelegate([bytesWritten, tag = write->tag](GCDAsyncSocketDelegate& delegate,
                                                    const GCDAsyncSocketPtr& self) {
      delegate.socketDidWritePartialDataOfLength(self, bytesWritten, tag);
    });
  }
}

void GCDAsyncSocket::suspendWriteSource() {
  if (handles_.writeSource && !flags_.has(kWriteSourceSuspended)) {
    handles_.writeSource->suspend();
    flags_.set(kWriteSourceSuspended);
  }
}

void GCDAsyncSocket::resumeWriteSource() {
  if (handles_.writeSource && flags_.has(kWriteSourceSuspended)) {
    handles_.writeSource->resume();
    flags_.clear(kWriteSourceSuspended);
  }
}

}  // namespace vistrelle::netlocal
