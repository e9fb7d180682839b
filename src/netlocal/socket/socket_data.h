#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace vistrelle::netlocal {

using Bytes = std::vector<uint8_t>;
using BytesPtr = std::shared_ptr<Bytes>;

// The bytes of one completed read: a window onto the buffer that received
// them, so that a read into the caller's buffer is handed over without a copy.
class SocketData {
 public:
  SocketData() = default;
  SocketData(BytesPtr buffer, size_t offset, size_t length)
      : buffer_(std::move(buffer)), offset_(offset), length_(length) {}

  const uint8_t* data() const { return buffer_ ? buffer_->data() + offset_ : nullptr; }
  size_t size() const { return length_; }
  bool empty() const { return length_ == 0; }
  std::string_view view() const { return {reinterpret_cast<const char*>(data()), length_}; }
  std::string str() const { return std::string(view()); }
  Bytes bytes() const { return Bytes(data(), data() + length_); }
  // The buffer the bytes live in (the caller's own for reads into a buffer).
  const BytesPtr& buffer() const { return buffer_; }
  size_t offset() const { return offset_; }

 private:
  BytesPtr buffer_;
  size_t offset_ = 0;
  size_t length_ = 0;
};

inline Bytes toBytes(std::string_view text) {
  return Bytes(text.begin(), text.end());
}

}  // namespace vistrelle::netlocal
