#include "platform/process/bounded_output.h"

#include <algorithm>

namespace vistrelle::process {

void BoundedOutput::append(const char* data, size_t size) {
  const size_t room = limit_ - std::min(limit_, text_.size());
  const size_t kept = std::min(room, size);
  text_.append(data, kept);
  if (kept < size) truncated_ = true;
}

}  // namespace vistrelle::process
