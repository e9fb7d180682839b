// GCDAsyncSocket: reading.

#include <poll.h>
#include <sys/socket.h>

#include <cstring>

#include "netlocal/socket/gcd_async_socket.h"
#include "netlocal/socket/gcd_async_socket_internal.h"

namespace vistrelle::netlocal {

namespace {

bool validOffset(const BytesPtr& buffer, size_t offset) {
  return !buffer || offset <= buffer->size();
}

bool maxedOut(const GCDAsyncReadPacket& read, bool done) {
  return read.term && !done && read.maxLength > 0 && read.bytesDone >= read.maxLength;
}

// How many bytes wait at the descriptor when the kernel's count says none:
// 0 at the end of the stream (or a failed one), else at least one.  The
// count stops at an urgent mark on some kernels, and a readiness event with
// a count of 0 is then no end at all.
size_t peekReadable(int fd, bool* nothingYet) {
  uint8_t probe[512];
  ssize_t peeked;
  do {
    peeked = ::recv(fd, probe, sizeof probe, MSG_PEEK | MSG_DONTWAIT);
  } while (peeked < 0 && errno == EINTR);
  *nothingYet = peeked < 0 && (errno == EAGAIN || errno == EWOULDBLOCK);
  return peeked > 0 ? static_cast<size_t>(peeked) : 0;
}

}  // namespace

// ---------------------------------------------------------------------------
// Requests

void GCDAsyncSocket::readDataWithTimeout(double timeout, long tag) {
  readDataWithTimeout(timeout, nullptr, 0, 0, tag);
}

void GCDAsyncSocket::readDataWithTimeout(double timeout, BytesPtr buffer, size_t offset, long tag) {
  readDataWithTimeout(timeout, std::move(buffer), offset, 0, tag);
}

void GCDAsyncSocket::readDataWithTimeout(double timeout, BytesPtr buffer, size_t offset,
                                         size_t maxLength, long tag) {
  if (!validOffset(buffer, offset)) return;
  queueRequest(Side::Read,
               std::make_shared<GCDAsyncReadPacket>(std::move(buffer), offset, maxLength, timeout,
                                                    0, std::nullopt, tag));
}

void GCDAsyncSocket::readDataToLength(size_t length, double timeout, long tag) {
  readDataToLength(length, timeout, nullptr, 0, tag);
}

void GCDAsyncSocket::readDataToLength(size_t length, double timeout, BytesPtr buffer, size_t offset,
                                      long tag) {
  if (length == 0 || !validOffset(buffer, offset)) return;
  queueRequest(Side::Read, std::make_shared<GCDAsyncReadPacket>(
                               std::move(buffer), offset, 0, timeout, length, std::nullopt, tag));
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
  queueRequest(Side::Read, std::make_shared<GCDAsyncReadPacket>(std::move(buffer), offset,
                                                                maxLength, timeout, 0, data, tag));
}

// ---------------------------------------------------------------------------
// Serving the current read

void GCDAsyncSocket::readSourceEvent(dispatch::IoSource& reader) {
  size_t available = reader.data();
  if (available == 0) {
    bool nothingYet = false;
    available = peekReadable(connectedFD(), &nothingYet);
    if (nothingYet) return;  // woken for nothing: neither bytes nor an end
  }
  socketFDBytesAvailable_ = available;
  if (available > 0) {
    doReadData();
  } else {
    doReadEOF();
  }
}

void GCDAsyncSocket::doReadData() {
  if (!reads_.current || flags_.has(kReadsPaused)) {
    if (flags_.has(kSocketSecure)) flushSSLBuffers();
    // The bytes stay in the kernel until a read asks for them; a
    // level-triggered source would otherwise fire on and on.
    if (socketFDBytesAvailable_ > 0) suspendReadSource();
    return;
  }
  if (flags_.has(kStartingReadTLS)) {
    if (flags_.has(kStartingWriteTLS) && lastSSLHandshakeError_ == kSSLWouldBlock) {
      ssl_continueSSLHandshake();
    } else {
      suspendReadSource();
    }
    return;
  }
  auto* read = dynamic_cast<GCDAsyncReadPacket*>(reads_.current.get());
  if (!read) return;

  size_t estimated = socketFDBytesAvailable_;
  if (flags_.has(kSocketSecure)) {
    estimated +=
        secure()->bufferedBytes() + (sslPreBuffer() ? sslPreBuffer()->availableBytes() : 0);
  }
  if (estimated == 0 && preBuffer_.availableBytes() == 0) {
    if (flags_.has(kSocketHasReadEOF)) {
      doReadEOF();
    } else {
      resumeReadSource();
    }
    return;
  }

  ReadPass pass;
  pass.endOfStream = flags_.has(kSocketHasReadEOF);
  // Pre-buffer first: no system call for bytes read ahead.
  if (preBuffer_.availableBytes() > 0) readFromPreBuffer(*read, pass);
  if (!pass.done && !pass.error && !pass.endOfStream && estimated > 0) {
    readFromTransport(*read, estimated, pass);
  }

  // An available read completes with whatever this pass brought.
  if (!pass.done && !pass.error && read->readLength == 0 && !read->term) {
    pass.done = pass.taken > 0;
  }
  // A pass that only trimmed the socket read to the request's limits leaves
  // bytes behind; wait for the source again rather than for nothing.
  if (!pass.done && !pass.error && !pass.endOfStream) pass.waiting = true;

  if (pass.done) {
    completeCurrent(Side::Read);
    if (!pass.error && (!pass.endOfStream || preBuffer_.availableBytes() > 0)) {
      takeNext(Side::Read);
    }
  } else if (pass.taken > 0) {
    publishProgress(Side::Read);
    notifyDelegate([taken = pass.taken, tag = read->tag](GCDAsyncSocketDelegate& delegate,
                                                         const GCDAsyncSocketPtr& self) {
      delegate.socketDidReadPartialDataOfLength(self, taken, tag);
    });
  }

  if (pass.error) {
    closeWithError(pass.error);
  } else if (pass.endOfStream) {
    doReadEOF();
  } else if (pass.waiting && !pass.done) {
    resumeReadSource();
  }
}

void GCDAsyncSocket::readFromPreBuffer(GCDAsyncReadPacket& read, ReadPass& pass) {
  size_t bytesToCopy;
  if (read.term) {
    bytesToCopy = read.readLengthForTermWithPreBuffer(preBuffer_, &pass.done);
  } else {
    bytesToCopy = read.readLengthForNonTermWithHint(preBuffer_.availableBytes());
  }
  read.ensureCapacityForAdditionalDataOfLength(bytesToCopy);
  std::memcpy(read.writePointer(), preBuffer_.readBuffer(), bytesToCopy);
  preBuffer_.didRead(bytesToCopy);
  read.bytesDone += bytesToCopy;
  pass.taken += bytesToCopy;
  if (read.readLength > 0) {
    pass.done = read.bytesDone == read.readLength;
  } else if (read.term) {
    if (maxedOut(read, pass.done)) pass.error = SocketError::readMaxedOut();
  } else {
    pass.done = read.maxLength > 0 && read.bytesDone == read.maxLength;
  }
}

void GCDAsyncSocket::readFromTransport(GCDAsyncReadPacket& read, size_t estimated, ReadPass& pass) {
  const bool secure = flags_.has(kSocketSecure);
  bool readIntoPreBuffer = false;
  size_t bytesToRead;
  if (secure) {
    bytesToRead = estimated > 32768 ? estimated + 16384 : 32768;
    if (read.readLength > 0) {
      bytesToRead = read.readLength - read.bytesDone;
    } else {
      if (read.maxLength > 0) bytesToRead = std::min(bytesToRead, read.maxLength - read.bytesDone);
      readIntoPreBuffer = read.bufferSpace() < bytesToRead;
    }
  } else if (read.term) {
    bytesToRead = read.readLengthForTermWithHint(estimated, &readIntoPreBuffer);
  } else {
    bytesToRead = read.readLengthForNonTermWithHint(estimated);
  }

  uint8_t* buffer;
  if (readIntoPreBuffer) {
    preBuffer_.ensureCapacityForWrite(bytesToRead);
    buffer = preBuffer_.writeBuffer();
  } else {
    read.ensureCapacityForAdditionalDataOfLength(bytesToRead);
    buffer = read.writePointer();
  }

  size_t bytesRead = 0;
  if (secure) {
    // The secure layer is read until the size is filled or it reports a status.
    while (bytesRead < bytesToRead) {
      size_t chunk = bytesToRead - bytesRead;
      const int status = this->secure()->read(buffer + bytesRead, &chunk);
      bytesRead += chunk;
      if (status == kSSLWouldBlock) {
        // Encrypted bytes still waiting here can be read on; only an empty
        // transport means waiting for the descriptor.
        if (sslPreBuffer() && sslPreBuffer()->availableBytes() > 0) continue;
        pass.waiting = true;
        break;
      }
      if (status == kSSLClosedGraceful || status == kSSLClosedAbort) {
        pass.endOfStream = true;
        sslErrCode_ = status;
        break;
      }
      if (status != 0) {
        pass.error = SocketError::ssl(status, this->secure()->lastErrorText());
        break;
      }
    }
  } else {
    const ssize_t result = readRetrying(connectedFD(), buffer, bytesToRead);
    if (result < 0) {
      if (errno == EAGAIN || errno == EWOULDBLOCK) {
        pass.waiting = true;
      } else {
        pass.error = SocketError::posix(errno, "Error in read() function");
      }
      socketFDBytesAvailable_ = 0;
    } else if (result == 0) {
      pass.endOfStream = true;
      socketFDBytesAvailable_ = 0;
    } else {
      bytesRead = static_cast<size_t>(result);
      if (bytesRead < bytesToRead) {
        socketFDBytesAvailable_ = 0;
      } else {
        socketFDBytesAvailable_ -= std::min(socketFDBytesAvailable_, bytesRead);
      }
      if (socketFDBytesAvailable_ == 0) pass.waiting = true;
    }
  }
  if (bytesRead > 0) takeBytes(read, buffer, bytesRead, readIntoPreBuffer, pass);
}

void GCDAsyncSocket::takeBytes(GCDAsyncReadPacket& read, uint8_t* buffer, size_t bytesRead,
                               bool readIntoPreBuffer, ReadPass& pass) {
  if (readIntoPreBuffer) {
    // Through the pre-buffer: the request takes what it may, the rest waits.
    preBuffer_.didWrite(bytesRead);
    const size_t bytesToCopy = read.term
                                   ? read.readLengthForTermWithPreBuffer(preBuffer_, &pass.done)
                                   : read.readLengthForNonTermWithHint(preBuffer_.availableBytes());
    read.ensureCapacityForAdditionalDataOfLength(bytesToCopy);
    std::memcpy(read.writePointer(), preBuffer_.readBuffer(), bytesToCopy);
    preBuffer_.didRead(bytesToCopy);
    read.bytesDone += bytesToCopy;
    pass.taken += bytesToCopy;
  } else if (read.term && read.readLength == 0) {
    // Straight into the buffer: bytes past the terminator go back to the
    // pre-buffer.
    const long overflow = read.searchForTermAfterPreBuffering(bytesRead);
    size_t kept = bytesRead;
    if (overflow >= 0) {
      kept = bytesRead - static_cast<size_t>(overflow);
      if (overflow > 0) {
        preBuffer_.ensureCapacityForWrite(static_cast<size_t>(overflow));
        std::memcpy(preBuffer_.writeBuffer(), buffer + kept, static_cast<size_t>(overflow));
        preBuffer_.didWrite(static_cast<size_t>(overflow));
      }
      pass.done = true;
    }
    read.bytesDone += kept;
    pass.taken += kept;
  } else {
    read.bytesDone += bytesRead;
    pass.taken += bytesRead;
  }

  if (read.readLength > 0) {
    pass.done = read.bytesDone == read.readLength;
  } else if (read.term) {
    if (maxedOut(read, pass.done)) pass.error = SocketError::readMaxedOut();
  }
}

// ---------------------------------------------------------------------------
// End of stream

void GCDAsyncSocket::doReadEOF() {
  flags_.set(kSocketHasReadEOF);
  if (flags_.has(kSocketSecure)) {
    flushSSLBuffers();
    if (sslErrCode_ == 0 && preBuffer_.availableBytes() == 0 && secure()) {
      // The stream ended before the context saw how: ask it, so that a cut
      // without close_notify is told apart from an orderly end.
      preBuffer_.ensureCapacityForWrite(1);
      size_t length = 1;
      const int status = secure()->read(preBuffer_.writeBuffer(), &length);
      preBuffer_.didWrite(length);
      if (status != 0 && status != kSSLWouldBlock) sslErrCode_ = status;
    }
  }

  bool shouldDisconnect = false;
  SocketErrorPtr error;
  if (flags_.has(kStartingReadTLS) || flags_.has(kStartingWriteTLS)) {
    shouldDisconnect = true;
    error = SocketError::ssl(kSSLClosedAbort, "TLS handshake aborted by remote peer");
  } else if (flags_.has(kReadStreamClosed)) {
    shouldDisconnect = false;
  } else if (preBuffer_.availableBytes() > 0) {
    shouldDisconnect = false;
  } else if (config_.load(std::memory_order_acquire) & kAllowHalfDuplexConnection) {
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
      flags_.set(kReadStreamClosed);
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
    if (preBuffer_.availableBytes() > 0 && !reads_.current) maybeDequeue(Side::Read);
    return;
  }
  if (!error) {
    error = (sslErrCode_ != 0 && sslErrCode_ != kSSLClosedGraceful)
                ? SocketError::ssl(sslErrCode_, "TLS connection aborted")
                : SocketError::closed();
  }
  closeWithError(error);
}

void GCDAsyncSocket::suspendReadSource() {
  if (handles_.readSource && !flags_.has(kReadSourceSuspended)) {
    handles_.readSource->suspend();
    flags_.set(kReadSourceSuspended);
  }
}

void GCDAsyncSocket::resumeReadSource() {
  if (handles_.readSource && flags_.has(kReadSourceSuspended)) {
    handles_.readSource->resume();
    flags_.clear(kReadSourceSuspended);
  }
}

}  // namespace vistrelle::netlocal
