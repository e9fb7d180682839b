#pragma once

#include <chrono>
#include <string>

namespace vistrelle::netlocal {

// The time stamp of the server's log lines, "yyyy-MM-dd HH:mm:ss SSS" in the
// local time zone: the calendar year, a 24-hour clock, and a space before the
// milliseconds.
std::string companionTimeText(std::chrono::system_clock::time_point time);
std::string companionTimeText();

}  // namespace vistrelle::netlocal
