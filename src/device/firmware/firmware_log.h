#pragma once

#include <functional>
#include <string>
#include <string_view>

namespace vistrelle::device {

// Where the firmware road's lines go.  They are written as the updater
// writes them, leading and trailing newlines included.
using FirmwareLog = std::function<void(std::string_view)>;

// Standard output, verbatim, and the application's text log (without the
// surrounding newlines), where a person looks after a failed update.
FirmwareLog defaultFirmwareLog();

// printf-style formatting into a string.
std::string formatText(const char* format, ...) __attribute__((format(printf, 1, 2)));

}  // namespace vistrelle::device
