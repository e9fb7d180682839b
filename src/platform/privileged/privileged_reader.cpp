#include "platform/privileged/privileged_reader.h"

namespace vistrelle::privileged {

std::string trimmedSecret(std::string_view text) {
  constexpr std::string_view kSpace = " \t\r\n\v\f";
  const size_t first = text.find_first_not_of(kSpace);
  if (first == std::string_view::npos) return {};
  const size_t last = text.find_last_not_of(kSpace);
  return std::string(text.substr(first, last - first + 1));
}

}  // namespace vistrelle::privileged
