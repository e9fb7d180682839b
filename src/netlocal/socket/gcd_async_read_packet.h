#pragma once

#include <cstddef>
#include <optional>

#include "netlocal/socket/gcd_async_packet.h"
#include "netlocal/socket/gcd_async_socket_pre_buffer.h"
#include "netlocal/socket/socket_data.h"

namespace vistrelle::netlocal {

// One queued read: whatever is available, an exact length, or up to a
// terminator; into the caller's buffer at an offset or into one of its own.
class GCDAsyncReadPacket : public GCDAsyncPacket {
 public:
  // `buffer` null: the packet owns one (sized to `length` for a length read).
  GCDAsyncReadPacket(BytesPtr buffer, size_t startOffset, size_t maxLength, double timeout,
                     size_t readLength, std::optional<Bytes> term, long tag);

  // Grows the buffer so that `length` more bytes fit after the bytes done.
  void ensureCapacityForAdditionalDataOfLength(size_t length);
  // Free room in the buffer after the bytes done (without growing it).
  size_t bufferSpace() const;

  // How much to read for a length or available read, given `hint` bytes.
  size_t readLengthForNonTermWithHint(size_t hint) const;
  // How much to read for a terminator read given `hint` readable bytes, and
  // whether those bytes should go to the pre-buffer first.
  size_t readLengthForTermWithHint(size_t hint, bool* shouldPreBuffer) const;
  // How much of the pre-buffer a terminator read takes: through the first
  // terminator (also one that began in the bytes already taken), or all it
  // may take.  `found` tells which.
  size_t readLengthForTermWithPreBuffer(const GCDAsyncSocketPreBuffer& preBuffer,
                                        bool* found) const;
  // After `numBytes` were read straight into the buffer: -1 when they hold no
  // terminator, else how many of them lie past it (0 = it ends them).
  long searchForTermAfterPreBuffering(size_t numBytes) const;

  uint8_t* writePointer() { return buffer->data() + startOffset + bytesDone; }
  // The completed bytes, trimming a grown caller's buffer back.
  SocketData finish();

  BytesPtr buffer;
  const size_t startOffset;
  size_t bytesDone = 0;
  const size_t maxLength;
  double timeout;
  const size_t readLength;
  const std::optional<Bytes> term;
  const long tag;
  const bool bufferOwner;
  const size_t originalBufferLength;
};

}  // namespace vistrelle::netlocal
