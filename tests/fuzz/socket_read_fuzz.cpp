// Fuzz target: the socket's read packets and pre-buffer, driven without a
// socket.  The driver below plays the plain (not TLS) road of
// GCDAsyncSocket::doReadData on a byte stream the input delivers in chunks,
// so that terminator search, pre-buffering and the caller's buffers meet
// every split of the stream.  Checked: no byte is lost, duplicated or
// reordered (completed reads, pre-buffer, bytes in flight and the bytes not
// yet read always add up to the stream); each read completes with what it
// asked for (a length read its length, a terminator read up to and including
// the first terminator, within its limit); a caller's bytes before its
// offset stay untouched; a read that bytes are waiting for always moves on.
// Input: one byte for the pre-buffer's first size, then operations: queue a
// read (available, length, or up to a terminator; own or caller's buffer) or
// deliver a chunk of the stream.  A first byte of 255 drives the pre-buffer
// alone instead: write and read operations of a byte's size each.
// Links: vistrelle_netlocal_socket

#include <algorithm>
#include <cstring>
#include <deque>
#include <memory>
#include <vector>

#include "fuzz/fuzz_support.h"
#include "netlocal/socket/gcd_async_read_packet.h"
#include "netlocal/socket/gcd_async_socket_pre_buffer.h"

namespace {

using namespace vistrelle::netlocal;
using vistrelle::fuzz::ByteReader;

constexpr uint8_t kCallerFill = 0xC5;

struct Read {
  std::shared_ptr<GCDAsyncReadPacket> packet;
  size_t callerLength = 0;  // caller's buffer size when queued (0 for own buffer)
};

class Driver {
 public:
  explicit Driver(size_t preBufferSize) : preBuffer_(preBufferSize) {}

  void queue(Read read) {
    queue_.push_back(std::move(read));
    run();
  }

  // The chunk lands in the kernel; the source reports `estimate` bytes (0:
  // all of them).
  void deliver(std::span<const uint8_t> chunk, size_t estimate) {
    stream_.insert(stream_.end(), chunk.begin(), chunk.end());
    kernel_.insert(kernel_.end(), chunk.begin(), chunk.end());
    fire(estimate);
    run();
  }

  bool closed() const { return closed_; }

 private:
  size_t kernelBytes() const { return kernel_.size(); }

  void fire(size_t estimate) {
    if (kernelBytes() == 0) return;
    fdAvailable_ = estimate == 0 ? kernelBytes() : std::min(estimate, kernelBytes());
  }

  // The socket queue's turns: dequeue, read, and the level-triggered source
  // firing again while the kernel holds bytes.
  void run() {
    while (!closed_) {
      if (!current_.packet) {
        if (queue_.empty()) return;
        current_ = std::move(queue_.front());
        queue_.pop_front();
      }
      if (fdAvailable_ == 0) fire(0);
      if (fdAvailable_ == 0 && preBuffer_.availableBytes() == 0) return;
      const size_t before = preBuffer_.availableBytes() + kernelBytes();
      const GCDAsyncReadPacket* reading = current_.packet.get();
      pass();
      checkConservation();
      // Waiting bytes and a read that wants them: the pass must move some.
      FUZZ_CHECK(closed_ || current_.packet.get() != reading ||
                 preBuffer_.availableBytes() + kernelBytes() < before);
    }
  }

  // GCDAsyncSocket::doReadData, plain road.
  void pass() {
    GCDAsyncReadPacket* read = current_.packet.get();
    const size_t estimated = fdAvailable_;
    const bool hasBytesAvailable = estimated > 0;
    bool done = false;
    bool error = false;
    size_t total = 0;
    auto maxedOut = [&] {
      return read->term && !done && read->maxLength > 0 && read->bytesDone >= read->maxLength;
    };

    if (preBuffer_.availableBytes() > 0) {
      size_t bytesToCopy;
      if (read->term) {
        bytesToCopy = read->readLengthForTermWithPreBuffer(preBuffer_, &done);
      } else {
        bytesToCopy = read->readLengthForNonTermWithHint(preBuffer_.availableBytes());
      }
      FUZZ_CHECK(bytesToCopy <= preBuffer_.availableBytes());
      read->ensureCapacityForAdditionalDataOfLength(bytesToCopy);
      std::memcpy(read->writePointer(), preBuffer_.readBuffer(), bytesToCopy);
      preBuffer_.didRead(bytesToCopy);
      read->bytesDone += bytesToCopy;
      total += bytesToCopy;
      if (read->readLength > 0) {
        done = read->bytesDone == read->readLength;
      } else if (read->term) {
        error = maxedOut();
      } else {
        done = read->maxLength > 0 && read->bytesDone == read->maxLength;
      }
    }

    if (!done && !error && hasBytesAvailable) {
      bool readIntoPreBuffer = false;
      size_t bytesToRead;
      if (read->term) {
        bytesToRead = read->readLengthForTermWithHint(estimated, &readIntoPreBuffer);
      } else {
        bytesToRead = read->readLengthForNonTermWithHint(estimated);
      }
      // read() of nothing answers 0, which the socket takes for the end of
      // the stream.
      FUZZ_CHECK(bytesToRead > 0);
      uint8_t* buffer;
      if (readIntoPreBuffer) {
        preBuffer_.ensureCapacityForWrite(bytesToRead);
        FUZZ_CHECK(preBuffer_.availableSpace() >= bytesToRead);
        buffer = preBuffer_.writeBuffer();
      } else {
        read->ensureCapacityForAdditionalDataOfLength(bytesToRead);
        FUZZ_CHECK(read->bufferSpace() >= bytesToRead);
        buffer = read->writePointer();
      }
      const size_t bytesRead = std::min(bytesToRead, kernelBytes());
      std::copy_n(kernel_.begin(), bytesRead, buffer);
      kernel_.erase(kernel_.begin(), kernel_.begin() + static_cast<long>(bytesRead));
      fdAvailable_ = bytesRead < bytesToRead ? 0 : fdAvailable_ - std::min(fdAvailable_, bytesRead);

      if (read->readLength > 0) {
        read->bytesDone += bytesRead;
        total += bytesRead;
        done = read->bytesDone == read->readLength;
      } else if (read->term) {
        if (readIntoPreBuffer) {
          preBuffer_.didWrite(bytesRead);
          const size_t bytesToCopy = read->readLengthForTermWithPreBuffer(preBuffer_, &done);
          read->ensureCapacityForAdditionalDataOfLength(bytesToCopy);
          std::memcpy(read->writePointer(), preBuffer_.readBuffer(), bytesToCopy);
          preBuffer_.didRead(bytesToCopy);
          read->bytesDone += bytesToCopy;
          total += bytesToCopy;
        } else {
          const long overflow = read->searchForTermAfterPreBuffering(bytesRead);
          FUZZ_CHECK(overflow <= static_cast<long>(bytesRead));
          if (overflow == 0) {
            read->bytesDone += bytesRead;
            total += bytesRead;
            done = true;
          } else if (overflow > 0) {
            const size_t underflow = bytesRead - static_cast<size_t>(overflow);
            preBuffer_.ensureCapacityForWrite(static_cast<size_t>(overflow));
            std::memcpy(preBuffer_.writeBuffer(), buffer + underflow,
                        static_cast<size_t>(overflow));
            preBuffer_.didWrite(static_cast<size_t>(overflow));
            read->bytesDone += underflow;
            total += underflow;
            done = true;
          } else {
            read->bytesDone += bytesRead;
            total += bytesRead;
          }
        }
        error = maxedOut();
      } else if (readIntoPreBuffer) {
        preBuffer_.didWrite(bytesRead);
        const size_t bytesToCopy = read->readLengthForNonTermWithHint(preBuffer_.availableBytes());
        read->ensureCapacityForAdditionalDataOfLength(bytesToCopy);
        std::memcpy(read->writePointer(), preBuffer_.readBuffer(), bytesToCopy);
        preBuffer_.didRead(bytesToCopy);
        read->bytesDone += bytesToCopy;
        total += bytesToCopy;
      } else {
        read->bytesDone += bytesRead;
        total += bytesRead;
      }
    }

    if (!done && !error && read->readLength == 0 && !read->term) done = total > 0;
    if (error) {
      checkMaxedOut();
      closed_ = true;
    } else if (done) {
      complete();
    }
  }

  // The stream's bytes are where the driver holds them, each exactly once.
  void checkConservation() const {
    const size_t inRead = current_.packet ? current_.packet->bytesDone : 0;
    FUZZ_CHECK(consumed_ + inRead + preBuffer_.availableBytes() + kernelBytes() == stream_.size());
    if (current_.packet) {
      const uint8_t* done = current_.packet->buffer->data() + current_.packet->startOffset;
      FUZZ_CHECK(std::equal(done, done + inRead, stream_.begin() + static_cast<long>(consumed_)));
    }
    FUZZ_CHECK(std::equal(preBuffer_.readBuffer(),
                          preBuffer_.readBuffer() + preBuffer_.availableBytes(),
                          stream_.begin() + static_cast<long>(consumed_ + inRead)));
  }

  static bool holdsTerm(const uint8_t* bytes, size_t length, const Bytes& term) {
    return length >= term.size() &&
           std::search(bytes, bytes + length, term.begin(), term.end()) != bytes + length;
  }

  void checkMaxedOut() const {
    const GCDAsyncReadPacket& read = *current_.packet;
    FUZZ_CHECK(read.bytesDone == read.maxLength);
    FUZZ_CHECK(!holdsTerm(stream_.data() + consumed_, read.maxLength, *read.term));
  }

  void complete() {
    GCDAsyncReadPacket& read = *current_.packet;
    const bool callerBuffer = !read.bufferOwner;
    const BytesPtr buffer = read.buffer;
    const size_t offset = read.startOffset;
    const SocketData data = read.finish();
    const size_t length = data.size();
    FUZZ_CHECK(length > 0);
    FUZZ_CHECK(std::equal(data.data(), data.data() + length,
                          stream_.begin() + static_cast<long>(consumed_)));
    if (read.readLength > 0) FUZZ_CHECK(length == read.readLength);
    if (read.maxLength > 0) FUZZ_CHECK(length <= read.maxLength);
    if (read.term) {
      const Bytes& term = *read.term;
      FUZZ_CHECK(length >= term.size());
      FUZZ_CHECK(std::equal(term.begin(), term.end(), data.data() + length - term.size()));
      FUZZ_CHECK(!holdsTerm(data.data(), length - 1, term));
    }
    if (callerBuffer) {
      FUZZ_CHECK(data.buffer() == buffer && data.offset() == offset);
      FUZZ_CHECK(buffer->size() >= std::max(current_.callerLength, offset + length));
      FUZZ_CHECK(std::all_of(buffer->begin(), buffer->begin() + static_cast<long>(offset),
                             [](uint8_t b) { return b == kCallerFill; }));
    } else {
      FUZZ_CHECK(data.offset() == 0 && data.buffer()->size() == length);
    }
    consumed_ += length;
    current_ = {};
  }

  GCDAsyncSocketPreBuffer preBuffer_;
  std::deque<Read> queue_;
  Read current_;
  Bytes stream_;
  std::deque<uint8_t> kernel_;
  size_t fdAvailable_ = 0;
  size_t consumed_ = 0;
  bool closed_ = false;
};

// A read as the socket's read calls make it; none for what they refuse.
std::optional<Read> makeRead(ByteReader& input) {
  const uint8_t kind = input.u8();
  BytesPtr buffer;
  size_t offset = 0;
  Read read;
  if (kind & 0x80) {
    read.callerLength = input.u8();
    buffer = std::make_shared<Bytes>(read.callerLength, kCallerFill);
    offset = input.u8() % (read.callerLength + 1);
  }
  switch (kind % 3) {
    case 0: {  // whatever is available, up to a limit (0: none)
      const size_t maxLength = input.u16() % 512;
      read.packet =
          std::make_shared<GCDAsyncReadPacket>(buffer, offset, maxLength, -1, 0, std::nullopt, 0);
      break;
    }
    case 1: {  // an exact length
      const size_t length = input.u16() % 1024;
      if (length == 0) return std::nullopt;
      read.packet =
          std::make_shared<GCDAsyncReadPacket>(buffer, offset, 0, -1, length, std::nullopt, 0);
      break;
    }
    default: {  // up to a terminator, within a limit (0: none)
      const size_t maxLength = input.u16() % 1024;
      const std::span<const uint8_t> term = input.bytes(1 + input.u8() % 8);
      if (term.empty() || (maxLength > 0 && maxLength < term.size())) return std::nullopt;
      read.packet = std::make_shared<GCDAsyncReadPacket>(buffer, offset, maxLength, -1, 0,
                                                         Bytes(term.begin(), term.end()), 0);
      break;
    }
  }
  return read;
}

// The pre-buffer alone, as the TLS road uses it too (room asked for, less
// written, reads of any size), against a plain queue of bytes.
void drivePreBuffer(ByteReader& input) {
  GCDAsyncSocketPreBuffer preBuffer(1 + input.u8() % 64);
  std::deque<uint8_t> model;
  uint8_t next = 0;
  while (!input.empty()) {
    const uint8_t op = input.u8();
    const size_t count = input.u8();
    if (op & 1) {
      preBuffer.ensureCapacityForWrite(count);
      FUZZ_CHECK(preBuffer.availableSpace() >= count);
      const size_t written = count == 0 ? 0 : (op >> 1) % (count + 1);
      for (size_t i = 0; i < written; ++i) {
        preBuffer.writeBuffer()[i] = next;
        model.push_back(next++);
      }
      preBuffer.didWrite(written);
    } else {
      const size_t taken = std::min(count, model.size());
      preBuffer.didRead(count);
      model.erase(model.begin(), model.begin() + static_cast<long>(taken));
    }
    FUZZ_CHECK(preBuffer.availableBytes() == model.size());
    FUZZ_CHECK(std::equal(model.begin(), model.end(), preBuffer.readBuffer()));
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  ByteReader input(data, size);
  const uint8_t mode = input.u8();
  if (mode == 0xFF) {
    drivePreBuffer(input);
    return 0;
  }
  Driver driver(1 + mode * 16u);
  while (!input.empty() && !driver.closed()) {
    if (input.u8() & 1) {
      if (std::optional<Read> read = makeRead(input)) driver.queue(std::move(*read));
    } else {
      const size_t estimate = input.u8();
      driver.deliver(input.sized(), estimate);
    }
  }
  return 0;
}
