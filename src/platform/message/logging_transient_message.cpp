#include "platform/message/logging_transient_message.h"

#include <cstdio>

namespace vistrelle::message {

LoggingTransientMessage::LoggingTransientMessage(Sink sink) : sink_(std::move(sink)) {
  if (!sink_) {
    sink_ = [](const std::string& line) { std::fprintf(stderr, "%s\n", line.c_str()); };
  }
}

void LoggingTransientMessage::present(const std::string& text) {
  sink_("message: " + text);
}

}  // namespace vistrelle::message
