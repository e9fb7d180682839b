#include "device/display/glasses_screen_name.h"

#include <string>

namespace vistrelle::device {

bool nameContains(std::string_view name, std::string_view lowerCaseWord) {
  std::string lower(name);
  for (char& c : lower) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return lower.find(lowerCaseWord) != std::string::npos;
}

bool isGlassesScreenName(std::string_view name) {
  return nameContains(name, "orvex") && !nameContains(name, "monitor");
}

}  // namespace vistrelle::device
