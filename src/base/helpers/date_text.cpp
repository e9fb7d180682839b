#include "base/helpers/date_text.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <ctime>
#include <stdexcept>

namespace vistrelle::base {

namespace {

using std::chrono::duration_cast;
using std::chrono::milliseconds;
using std::chrono::seconds;
using std::chrono::system_clock;

std::tm localTime(std::time_t time) {
  std::tm fields{};
  if (localtime_r(&time, &fields) == nullptr) {
    throw std::out_of_range("time " + std::to_string(time) + " has no local date");
  }
  return fields;
}

// A fixed-width run of decimal digits.
std::optional<int> digits(std::string_view text, std::size_t at, std::size_t width) {
  const std::string_view part = text.substr(at, width);
  int value = 0;
  const auto [end, error] = std::from_chars(part.data(), part.data() + part.size(), value);
  if (part.size() != width || error != std::errc() || end != part.data() + width) {
    return std::nullopt;
  }
  return value;
}

bool isLeapYear(int year) {
  return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
}

int daysInMonth(int year, int month) {
  static constexpr int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return month == 2 && isLeapYear(year) ? 29 : kDays[month - 1];
}

// "yyyy-MM-dd HH:mm:ss" and, with milliseconds, ":SSS" after it.
std::optional<double> parseLocal(std::string_view text, bool withMilliseconds) {
  if (text.size() != (withMilliseconds ? 23u : 19u)) return std::nullopt;
  for (const auto& [at, separator] :
       {std::pair{4, '-'}, {7, '-'}, {10, ' '}, {13, ':'}, {16, ':'}}) {
    if (text[at] != separator) return std::nullopt;
  }
  if (withMilliseconds && text[19] != ':') return std::nullopt;
  const auto year = digits(text, 0, 4);
  const auto month = digits(text, 5, 2);
  const auto day = digits(text, 8, 2);
  const auto hour = digits(text, 11, 2);
  const auto minute = digits(text, 14, 2);
  const auto second = digits(text, 17, 2);
  const auto millisecond = withMilliseconds ? digits(text, 20, 3) : std::optional<int>(0);
  if (!year || !month || !day || !hour || !minute || !second || !millisecond) return std::nullopt;
  if (*month < 1 || *month > 12 || *day < 1 || *day > daysInMonth(*year, *month) || *hour > 23 ||
      *minute > 59 || *second > 59) {
    return std::nullopt;
  }
  std::tm fields{};
  fields.tm_year = *year - 1900;
  fields.tm_mon = *month - 1;
  fields.tm_mday = *day;
  fields.tm_hour = *hour;
  fields.tm_min = *minute;
  fields.tm_sec = *second;
  fields.tm_isdst = -1;
  const std::time_t time = std::mktime(&fields);
  // mktime moves a time that falls into a daylight-saving gap; such a local
  // time never occurred.
  if (fields.tm_hour != *hour || fields.tm_min != *minute || fields.tm_mday != *day) {
    return std::nullopt;
  }
  return static_cast<double>(time) + *millisecond / 1000.0;
}

}  // namespace

std::string dateText(system_clock::time_point time, DateTextFormat format) {
  const auto sinceEpoch = duration_cast<milliseconds>(time.time_since_epoch());
  const auto wholeSeconds = std::chrono::floor<seconds>(sinceEpoch);
  const auto millisecond = (sinceEpoch - wholeSeconds).count();
  const std::tm fields = localTime(static_cast<std::time_t>(wholeSeconds.count()));
  char text[64];
  const int year = fields.tm_year + 1900;
  switch (format) {
    case DateTextFormat::DateTimeMilliseconds:
      std::snprintf(text, sizeof(text), "%04d-%02d-%02d %02d:%02d:%02d:%03d", year,
                    fields.tm_mon + 1, fields.tm_mday, fields.tm_hour, fields.tm_min, fields.tm_sec,
                    static_cast<int>(millisecond));
      break;
    case DateTextFormat::DateTime:
      std::snprintf(text, sizeof(text), "%04d-%02d-%02d %02d:%02d:%02d", year, fields.tm_mon + 1,
                    fields.tm_mday, fields.tm_hour, fields.tm_min, fields.tm_sec);
      break;
    case DateTextFormat::Date:
      std::snprintf(text, sizeof(text), "%04d%02d%02d", year, fields.tm_mon + 1, fields.tm_mday);
      break;
  }
  return text;
}

std::string nowText(DateTextFormat format) {
  return dateText(system_clock::now(), format);
}

std::string timestampText(system_clock::time_point time, bool milliseconds) {
  const auto sinceEpoch = time.time_since_epoch();
  if (!milliseconds) return std::to_string(duration_cast<seconds>(sinceEpoch).count());
  return std::to_string(std::chrono::round<std::chrono::milliseconds>(sinceEpoch).count());
}

std::string timestampText(bool milliseconds) {
  return timestampText(system_clock::now(), milliseconds);
}

std::string dateText(double secondsSince1970) {
  if (!std::isfinite(secondsSince1970)) {
    throw std::invalid_argument("a date needs a finite number of seconds");
  }
  const auto time = system_clock::time_point(duration_cast<system_clock::duration>(
      std::chrono::duration<double>(std::floor(secondsSince1970))));
  return dateText(time, DateTextFormat::DateTime);
}

std::optional<double> secondsSince1970(std::string_view text) {
  return parseLocal(text, text.size() != 19);
}

std::optional<double> secondsSince1970Fixed(std::string_view text) {
  return parseLocal(text, false);
}

}  // namespace vistrelle::base
