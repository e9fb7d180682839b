#include "netlocal/companion/companion_time.h"

#include "base/helpers/date_text.h"

namespace vistrelle::netlocal {

std::string companionTimeText(std::chrono::system_clock::time_point time) {
  // "yyyy-MM-dd HH:mm:ss:SSS" with the last colon made a space.
  std::string text = base::dateText(time, base::DateTextFormat::DateTimeMilliseconds);
  if (text.size() > 19 && text[19] == ':') text[19] = ' ';
  return text;
}

std::string companionTimeText() {
  return companionTimeText(std::chrono::system_clock::now());
}

}  // namespace vistrelle::netlocal
