#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

namespace vistrelle::netlocal {

// Bytes read from the descriptor ahead of the current read request: one block
// with a read end and a write end.
class GCDAsyncSocketPreBuffer {
 public:
  explicit GCDAsyncSocketPreBuffer(size_t capacity);

  // Makes room for `numBytes` more at the write end.  Grows at least by
  // doubling so that a stream of small shortfalls stays linear.
  void ensureCapacityForWrite(size_t numBytes);

  size_t availableBytes() const { return writePos_ - readPos_; }
  uint8_t* readBuffer() { return block_.get() + readPos_; }
  const uint8_t* readBuffer() const { return block_.get() + readPos_; }
  void getReadBuffer(uint8_t** buffer, size_t* available) {
    if (buffer) *buffer = readBuffer();
    if (available) *available = availableBytes();
  }

  size_t availableSpace() const { return capacity_ - writePos_; }
  uint8_t* writeBuffer() { return block_.get() + writePos_; }
  void getWriteBuffer(uint8_t** buffer, size_t* space) {
    if (buffer) *buffer = writeBuffer();
    if (space) *space = availableSpace();
  }

  void didRead(size_t bytesRead);
  void didWrite(size_t bytesWritten);
  void reset() { readPos_ = writePos_ = 0; }

  size_t capacity() const { return capacity_; }

 private:
  std::unique_ptr<uint8_t[]> block_;
  size_t capacity_;
  size_t readPos_ = 0;
  size_t writePos_ = 0;
};

}  // namespace vistrelle::netlocal
