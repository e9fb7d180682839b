#pragma once

#include <memory>
#include <string_view>

namespace vistrelle::base {

// A compiled PCRE2 pattern with Unicode semantics (UTF and UCP): "\d", "\w"
// and the POSIX classes match every Unicode digit, letter and so on.  Subjects
// that are not valid UTF-8 simply fail to match.
class Pcre2Regex {
 public:
  // Throws std::invalid_argument with PCRE2's message and the error offset
  // when the pattern does not compile.
  explicit Pcre2Regex(std::string_view pattern);

  // Whether the pattern matches the whole subject.
  bool matchesWhole(std::string_view subject) const;

  // Whether the pattern matches anywhere in the subject (the first match).
  bool search(std::string_view subject) const;

 private:
  struct CodeDeleter {
    void operator()(void* code) const;
  };
  bool match(std::string_view subject, unsigned options) const;

  std::unique_ptr<void, CodeDeleter> code_;
};

}  // namespace vistrelle::base
