#pragma once

#include <chrono>
#include <optional>
#include <string>
#include <string_view>

namespace vistrelle::base {

// Date texts in the local time zone (TZ).  Years are calendar years, so the
// last days of December never carry the next year's number.
enum class DateTextFormat {
  DateTimeMilliseconds,  // "2024-12-30 08:05:09:042"
  DateTime,              // "2024-12-30 08:05:09"
  Date,                  // "20241230"
};

std::string dateText(std::chrono::system_clock::time_point time, DateTextFormat format);

// The current time in a format.
std::string nowText(DateTextFormat format);

// Time since 1970 as decimal text: milliseconds rounded to the nearest when
// milliseconds is set, otherwise whole seconds (truncated).
std::string timestampText(std::chrono::system_clock::time_point time, bool milliseconds);
std::string timestampText(bool milliseconds);

// "yyyy-MM-dd HH:mm:ss" of a time given in seconds since 1970.
std::string dateText(double secondsSince1970);

// Seconds since 1970 of a local date text: "yyyy-MM-dd HH:mm:ss" when the text
// has 19 characters, else "yyyy-MM-dd HH:mm:ss:SSS".  None for a text of
// neither form or a date that does not exist.
std::optional<double> secondsSince1970(std::string_view text);

// Seconds since 1970 of a local "yyyy-MM-dd HH:mm:ss" text; none otherwise.
std::optional<double> secondsSince1970Fixed(std::string_view text);

}  // namespace vistrelle::base
