#pragma once

#include <cstddef>
#include <string>

namespace vistrelle::process {

// What a program wrote to one stream, kept up to a limit: bytes past it are
// counted as dropped, never stored, so a chatty program cannot grow us.
class BoundedOutput {
 public:
  explicit BoundedOutput(size_t limit) : limit_(limit) {}

  void append(const char* data, size_t size);

  const std::string& text() const { return text_; }
  std::string take() { return std::move(text_); }
  bool truncated() const { return truncated_; }

 private:
  size_t limit_;
  std::string text_;
  bool truncated_ = false;
};

}  // namespace vistrelle::process
