#include "tracking/tracking_log.h"

#include <cstdarg>
#include <cstdio>
#include <mutex>
#include <string>
#include <utility>

namespace vistrelle::tracking {
namespace {

struct LogState {
  std::mutex mutex;
  TrackingLogSink sink;
};

LogState& log_state() {
  static LogState state;
  return state;
}

}  // namespace

void tracking_log_set_sink(TrackingLogSink sink) {
  LogState& state = log_state();
  std::lock_guard<std::mutex> lock(state.mutex);
  state.sink = std::move(sink);
}

void tracking_log(const char* format, ...) {
  char stack_buffer[256];
  va_list args;
  va_start(args, format);
  va_list copy;
  va_copy(copy, args);
  const int needed = std::vsnprintf(stack_buffer, sizeof(stack_buffer), format, args);
  va_end(args);
  std::string line;
  if (needed < 0) {
    line = format;
  } else if (static_cast<size_t>(needed) < sizeof(stack_buffer)) {
    line.assign(stack_buffer, static_cast<size_t>(needed));
  } else {
    line.resize(static_cast<size_t>(needed) + 1);
    std::vsnprintf(line.data(), line.size(), format, copy);
    line.resize(static_cast<size_t>(needed));
  }
  va_end(copy);

  LogState& state = log_state();
  std::lock_guard<std::mutex> lock(state.mutex);
  if (state.sink) {
    state.sink(line);
  } else {
    std::fprintf(stderr, "%s\n", line.c_str());
  }
}

}  // namespace vistrelle::tracking
