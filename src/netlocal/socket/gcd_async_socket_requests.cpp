// GCDAsyncSocket: what reads and writes have in common.  Each side has a
// queue of requests and one current request with its time-out; the two
// sides differ only in the flags and the delegate calls named here.

#include <limits>

#include "netlocal/socket/gcd_async_socket.h"
#include "netlocal/socket/gcd_async_socket_internal.h"
#include "netlocal/socket/gcd_async_special_packet.h"

namespace vistrelle::netlocal {

namespace {

struct SideFlags {
  uint32_t startingTLS;
  uint32_t paused;
  uint32_t disconnectAfter;
  uint32_t otherDisconnectAfter;
};

constexpr SideFlags kReadFlags{kStartingReadTLS, kReadsPaused, kDisconnectAfterReads,
                               kDisconnectAfterWrites};
constexpr SideFlags kWriteFlags{kStartingWriteTLS, kWritesPaused, kDisconnectAfterWrites,
                                kDisconnectAfterReads};

using Side = GCDAsyncSocketSnapshot::Side;

const SideFlags& flagsOf(Side side) {
  return side == Side::Read ? kReadFlags : kWriteFlags;
}

Side otherSide(Side side) {
  return side == Side::Read ? Side::Write : Side::Read;
}

// The fields both kinds of data request carry; null for the start-secure one.
struct RequestView {
  double* timeout;
  long tag;
  size_t done;
  size_t total;  // 0: no known total
};

std::optional<RequestView> viewOf(Side side, GCDAsyncPacket* packet) {
  if (side == Side::Read) {
    auto* read = dynamic_cast<GCDAsyncReadPacket*>(packet);
    if (!read) return std::nullopt;
    return RequestView{&read->timeout, read->tag, read->bytesDone, read->readLength};
  }
  auto* write = dynamic_cast<GCDAsyncWritePacket*>(packet);
  if (!write) return std::nullopt;
  return RequestView{&write->timeout, write->tag, write->bytesDone, write->length()};
}

}  // namespace

void GCDAsyncSocket::queueRequest(Side side, std::shared_ptr<GCDAsyncPacket> packet) {
  async([side, packet = std::move(packet)](GCDAsyncSocket& self) {
    if (!self.flags_.has(kSocketStarted) || self.flags_.has(kForbidReadsWrites)) return;
    self.requests(side).queue.push_back(packet);
    self.maybeDequeue(side);
  });
}

void GCDAsyncSocket::maybeDequeue(Side side) {
  Requests& own = requests(side);
  const SideFlags& flags = flagsOf(side);
  if (own.current || !flags_.has(kConnected)) return;
  if (!own.queue.empty()) {
    own.current = std::move(own.queue.front());
    own.queue.pop_front();
    if (auto view = viewOf(side, own.current.get())) {
      setupTimer(side, *view->timeout);
      publishProgress(side);
      serve(side);
    } else {
      // The start-secure request: it starts once both sides reach it.
      flags_.set(flags.startingTLS);
      maybeStartTLS();
    }
  } else if (flags_.has(flags.disconnectAfter)) {
    const Requests& other = requests(otherSide(side));
    if (!flags_.has(flags.otherDisconnectAfter) || (other.queue.empty() && !other.current)) {
      closeWithError(nullptr);
    }
  } else if (side == Side::Read && flags_.has(kSocketSecure)) {
    flushSSLBuffers();
    if (preBuffer_.availableBytes() == 0) resumeReadSource();
  }
}

void GCDAsyncSocket::serve(Side side) {
  if (side == Side::Read) {
    doReadData();
  } else {
    doWriteData();
  }
}

void GCDAsyncSocket::setupTimer(Side side, double timeout) {
  if (timeout < 0) return;
  auto timer = dispatch::TimerSource::create(socketQueue_);
  std::weak_ptr<GCDAsyncSocket> weak = weak_from_this();
  timer->setEventHandler([weak, side] {
    if (auto self = weak.lock()) self->doTimeout(side);
  });
  timer->setTimer(socketQueue_->now() + toNanos(timeout), dispatch::Nanos(0));
  timer->resume();
  requests(side).timer = std::move(timer);
}

void GCDAsyncSocket::doTimeout(Side side) {
  const std::shared_ptr<GCDAsyncPacket> packet = requests(side).current;
  auto view = viewOf(side, packet.get());
  if (!view) return;
  // Holds the request still while the delegate decides.
  flags_.set(flagsOf(side).paused);
  if (!delegateQueue_ || delegate_.expired() || !link_->live()) {
    doTimeoutWithExtension(side, packet, 0);
    return;
  }
  delegateQueue_->post([delegate = delegate_, self = shared_from_this(), packet, side,
                        tag = view->tag, elapsed = *view->timeout, done = view->done] {
    double extension = 0;
    if (auto answer = delegate.lock()) {
      extension = side == Side::Read
                      ? answer->socketShouldTimeoutReadWithTag(self, tag, elapsed, done)
                      : answer->socketShouldTimeoutWriteWithTag(self, tag, elapsed, done);
    }
    self->link_->postWhileLive(self->socketQueue_, [self, packet, side, extension] {
      self->doTimeoutWithExtension(side, packet, extension);
    });
  });
}

void GCDAsyncSocket::doTimeoutWithExtension(Side side,
                                            const std::shared_ptr<GCDAsyncPacket>& packet,
                                            double extension) {
  Requests& own = requests(side);
  if (!packet || own.current != packet) return;  // the request ended meanwhile
  if (extension > 0) {
    *viewOf(side, packet.get())->timeout += extension;
    if (own.timer)
      own.timer->setTimer(socketQueue_->now() + toNanos(extension), dispatch::Nanos(0));
    flags_.clear(flagsOf(side).paused);
    serve(side);
  } else {
    closeWithError(side == Side::Read ? SocketError::readTimeout() : SocketError::writeTimeout());
  }
}

void GCDAsyncSocket::completeCurrent(Side side) {
  // The request ends before the delegate hears of it, so that a delegate
  // asking for progress then sees the next request or none.
  if (side == Side::Read) {
    auto& read = static_cast<GCDAsyncReadPacket&>(*reads_.current);
    SocketData data = read.finish();
    const long tag = read.tag;
    endCurrent(side);
    notifyDelegate([data = std::move(data), tag](GCDAsyncSocketDelegate& delegate,
                                                 const GCDAsyncSocketPtr& self) {
      delegate.socketDidReadData(self, data, tag);
    });
  } else {
    const long tag = static_cast<GCDAsyncWritePacket&>(*writes_.current).tag;
    endCurrent(side);
    notifyDelegate([tag](GCDAsyncSocketDelegate& delegate, const GCDAsyncSocketPtr& self) {
      delegate.socketDidWriteDataWithTag(self, tag);
    });
  }
}

void GCDAsyncSocket::endCurrent(Side side) {
  Requests& own = requests(side);
  if (own.timer) {
    own.timer->cancel();
    own.timer.reset();
  }
  const bool hadRequest = own.current != nullptr;
  own.current.reset();
  if (hadRequest) publishProgress(side);
}

void GCDAsyncSocket::publishProgress(Side side) {
  GCDAsyncSocketSnapshot::Progress progress;
  if (auto view = viewOf(side, requests(side).current.get())) {
    progress.current = true;
    progress.tag = view->tag;
    progress.done = view->done;
    progress.total = view->total;
  }
  snapshot_.publishProgress(side, progress);
}

float GCDAsyncSocket::progressOf(Side side, long* tag, size_t* done, size_t* total) const {
  const auto progress = snapshot_.progress(side);
  if (tag) *tag = progress.tag;
  if (done) *done = progress.done;
  if (total) *total = progress.total;
  if (!progress.current) return std::numeric_limits<float>::quiet_NaN();
  return progress.total > 0 ? static_cast<float>(progress.done) / static_cast<float>(progress.total)
                            : 1.0f;
}

float GCDAsyncSocket::progressOfReadReturningTag(long* tag, size_t* done, size_t* total) const {
  return progressOf(Side::Read, tag, done, total);
}

float GCDAsyncSocket::progressOfWriteReturningTag(long* tag, size_t* done, size_t* total) const {
  return progressOf(Side::Write, tag, done, total);
}

}  // namespace vistrelle::netlocal
