#include "netlocal/socket/gcd_async_socket_pre_buffer.h"

#include <algorithm>
#include <cstring>
#include <stdexcept>

namespace vistrelle::netlocal {

GCDAsyncSocketPreBuffer::GCDAsyncSocketPreBuffer(size_t capacity)
    : block_(new uint8_t[std::max<size_t>(capacity, 1)]),
      capacity_(std::max<size_t>(capacity, 1)) {}

void GCDAsyncSocketPreBuffer::ensureCapacityForWrite(size_t numBytes) {
  if (numBytes <= availableSpace()) return;
  const size_t pending = availableBytes();
  if (readPos_ > 0 && pending + numBytes <= capacity_) {
    // Consumed bytes at the front make enough room: slide the rest down.
    std::memmove(block_.get(), block_.get() + readPos_, pending);
    readPos_ = 0;
    writePos_ = pending;
    return;
  }
  const size_t needed = writePos_ + numBytes;
  if (needed < writePos_) throw std::length_error("pre-buffer size overflow");
  const size_t grown = std::max(needed, capacity_ * 2);
  std::unique_ptr<uint8_t[]> block(new uint8_t[grown]);
  std::memcpy(block.get(), block_.get() + readPos_, pending);
  block_ = std::move(block);
  capacity_ = grown;
  writePos_ = pending;
  readPos_ = 0;
}

void GCDAsyncSocketPreBuffer::didRead(size_t bytesRead) {
  readPos_ += std::min(bytesRead, availableBytes());
  if (readPos_ == writePos_) reset();
}

void GCDAsyncSocketPreBuffer::didWrite(size_t bytesWritten) {
  writePos_ += std::min(bytesWritten, availableSpace());
}

}  // namespace vistrelle::netlocal
