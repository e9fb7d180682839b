#pragma once

#include <functional>
#include <string_view>

namespace vistrelle::tracking {

// Receives one finished log line (no trailing newline).
using TrackingLogSink = std::function<void(std::string_view line)>;

// Replaces the process-wide sink of the tracking library's log lines; an empty
// sink restores the default, which writes each line to stderr.  The
// application routes these into its own log files through this hook.
void tracking_log_set_sink(TrackingLogSink sink);

// Formats one line printf-style and hands it to the current sink.
void tracking_log(const char* format, ...) __attribute__((format(printf, 1, 2)));

}  // namespace vistrelle::tracking
