#include "netlocal/socket/gcd_async_read_packet.h"

#include <algorithm>
#include <cstring>

namespace vistrelle::netlocal {

GCDAsyncReadPacket::GCDAsyncReadPacket(BytesPtr callerBuffer, size_t offset, size_t maxLength,
                                       double timeout, size_t readLength, std::optional<Bytes> term,
                                       long tag)
    : buffer(callerBuffer ? callerBuffer : std::make_shared<Bytes>(readLength)),
      startOffset(callerBuffer ? offset : 0),
      maxLength(maxLength),
      timeout(timeout),
      readLength(readLength),
      term(std::move(term)),
      tag(tag),
      bufferOwner(callerBuffer == nullptr),
      originalBufferLength(callerBuffer ? callerBuffer->size() : 0) {}

void GCDAsyncReadPacket::ensureCapacityForAdditionalDataOfLength(size_t length) {
  const size_t needed = startOffset + bytesDone + length;
  if (buffer->size() < needed) {
    // Amortised growth: many small pre-buffered copies must not reallocate each time.
    if (buffer->capacity() < needed) buffer->reserve(std::max(needed, buffer->capacity() * 2));
    buffer->resize(needed);
  }
}

size_t GCDAsyncReadPacket::bufferSpace() const {
  const size_t used = startOffset + bytesDone;
  return buffer->size() > used ? buffer->size() - used : 0;
}

size_t GCDAsyncReadPacket::readLengthForNonTermWithHint(size_t hint) const {
  if (readLength > 0) return std::min(hint, readLength - bytesDone);
  if (maxLength > 0) return std::min(hint, maxLength - bytesDone);
  return hint;
}

size_t GCDAsyncReadPacket::readLengthForTermWithHint(size_t hint, bool* shouldPreBuffer) const {
  size_t result = hint;
  if (maxLength > 0) result = std::min(result, maxLength - bytesDone);
  // Reading straight into the buffer saves a copy only when it has the room
  // already; otherwise the bytes past the terminator would have to move back.
  if (shouldPreBuffer) *shouldPreBuffer = bufferSpace() < result;
  return result;
}

size_t GCDAsyncReadPacket::readLengthForTermWithPreBuffer(const GCDAsyncSocketPreBuffer& preBuffer,
                                                          bool* found) const {
  const Bytes& terminator = *term;
  const size_t termLength = terminator.size();
  size_t available = preBuffer.availableBytes();
  if (maxLength > 0) available = std::min(available, maxLength - bytesDone);
  const uint8_t* pre = preBuffer.readBuffer();
  *found = false;

  // A terminator that starts in the bytes already taken and ends in the
  // pre-buffer: at most termLength - 1 bytes back.
  const size_t back = std::min(bytesDone, termLength - 1);
  const uint8_t* done = buffer->data() + startOffset + bytesDone;
  for (size_t k = back; k > 0; --k) {
    // k bytes of the terminator lie in the buffer, the rest in the pre-buffer.
    const size_t rest = termLength - k;
    if (rest > available) continue;
    if (std::memcmp(done - k, terminator.data(), k) == 0 &&
        std::memcmp(pre, terminator.data() + k, rest) == 0) {
      *found = true;
      return rest;
    }
  }
  if (available >= termLength) {
    const void* hit = memmem(pre, available, terminator.data(), termLength);
    if (hit) {
      *found = true;
      return static_cast<size_t>(static_cast<const uint8_t*>(hit) - pre) + termLength;
    }
  }
  return available;
}

long GCDAsyncReadPacket::searchForTermAfterPreBuffering(size_t numBytes) const {
  const Bytes& terminator = *term;
  const size_t termLength = terminator.size();
  const uint8_t* base = buffer->data() + startOffset;
  // The new bytes start at bytesDone; a terminator may begin up to
  // termLength - 1 bytes before them.
  const size_t from = bytesDone - std::min(bytesDone, termLength - 1);
  const size_t end = bytesDone + numBytes;
  if (end - from < termLength) return -1;
  const void* hit = memmem(base + from, end - from, terminator.data(), termLength);
  if (!hit) return -1;
  const size_t termEnd = static_cast<size_t>(static_cast<const uint8_t*>(hit) - base) + termLength;
  return static_cast<long>(end - termEnd);
}

SocketData GCDAsyncReadPacket::finish() {
  if (bufferOwner) {
    buffer->resize(bytesDone);
    return SocketData(buffer, 0, bytesDone);
  }
  const size_t used = startOffset + bytesDone;
  if (buffer->size() > originalBufferLength) {
    buffer->resize(std::max(used, originalBufferLength));
  }
  return SocketData(buffer, startOffset, bytesDone);
}

}  // namespace vistrelle::netlocal
