#include "device/firmware/firmware_log.h"

#include <cstdarg>
#include <cstdio>

#include "base/log/orvex_log.h"

namespace vistrelle::device {

FirmwareLog defaultFirmwareLog() {
  return [](std::string_view line) {
    std::fwrite(line.data(), 1, line.size(), stdout);
    std::fflush(stdout);
    const size_t first = line.find_first_not_of("\r\n");
    if (first == std::string_view::npos) return;
    const size_t last = line.find_last_not_of("\r\n");
    OrvexLog::logMessage(line.substr(first, last - first + 1));
  };
}

std::string formatText(const char* format, ...) {
  va_list arguments;
  va_start(arguments, format);
  va_list copy;
  va_copy(copy, arguments);
  const int length = std::vsnprintf(nullptr, 0, format, copy);
  va_end(copy);
  std::string text;
  if (length > 0) {
    text.resize(static_cast<size_t>(length) + 1);
    std::vsnprintf(text.data(), text.size(), format, arguments);
    text.resize(static_cast<size_t>(length));
  }
  va_end(arguments);
  return text;
}

}  // namespace vistrelle::device
