#include "base/helpers/numeric_compare.h"

namespace vistrelle::base {

namespace {

bool isDigit(char c) {
  return c >= '0' && c <= '9';
}

// The digit run at the front of text, without its leading zeros; text moves
// past the run.
std::string_view takeNumber(std::string_view& text) {
  std::size_t end = 0;
  while (end < text.size() && isDigit(text[end])) ++end;
  std::string_view run = text.substr(0, end);
  text.remove_prefix(end);
  const auto significant = run.find_first_not_of('0');
  return significant == std::string_view::npos ? std::string_view{} : run.substr(significant);
}

}  // namespace

std::strong_ordering numericCompare(std::string_view left, std::string_view right) {
  while (!left.empty() && !right.empty()) {
    if (isDigit(left.front()) && isDigit(right.front())) {
      const std::string_view a = takeNumber(left);
      const std::string_view b = takeNumber(right);
      // Without leading zeros the longer run is the larger number.
      if (a.size() != b.size()) return a.size() <=> b.size();
      if (const auto order = a.compare(b); order != 0) return order <=> 0;
      continue;
    }
    const auto a = static_cast<unsigned char>(left.front());
    const auto b = static_cast<unsigned char>(right.front());
    if (a != b) return a <=> b;
    left.remove_prefix(1);
    right.remove_prefix(1);
  }
  return left.size() <=> right.size();
}

}  // namespace vistrelle::base
