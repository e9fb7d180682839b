#define PCRE2_CODE_UNIT_WIDTH 8
#include "base/helpers/pcre2_regex.h"

#include <pcre2.h>

#include <stdexcept>
#include <string>

namespace vistrelle::base {

namespace {

struct MatchDataDeleter {
  void operator()(pcre2_match_data* data) const { pcre2_match_data_free(data); }
};

std::string errorText(int code) {
  PCRE2_UCHAR buffer[256];
  if (pcre2_get_error_message(code, buffer, sizeof(buffer)) < 0) {
    return "PCRE2 error " + std::to_string(code);
  }
  return reinterpret_cast<const char*>(buffer);
}

}  // namespace

void Pcre2Regex::CodeDeleter::operator()(void* code) const {
  pcre2_code_free(static_cast<pcre2_code*>(code));
}

Pcre2Regex::Pcre2Regex(std::string_view pattern) {
  int error = 0;
  PCRE2_SIZE offset = 0;
  pcre2_code* code =
      pcre2_compile(reinterpret_cast<PCRE2_SPTR>(pattern.data()), pattern.size(),
                    PCRE2_UTF | PCRE2_UCP | PCRE2_MATCH_INVALID_UTF, &error, &offset, nullptr);
  if (code == nullptr) {
    throw std::invalid_argument("bad regular expression \"" + std::string(pattern) +
                                "\" at offset " + std::to_string(offset) + ": " + errorText(error));
  }
  code_.reset(code);
}

bool Pcre2Regex::matchesWhole(std::string_view subject) const {
  return match(subject, PCRE2_ANCHORED | PCRE2_ENDANCHORED);
}

bool Pcre2Regex::search(std::string_view subject) const {
  return match(subject, 0);
}

bool Pcre2Regex::match(std::string_view subject, unsigned options) const {
  auto* code = static_cast<const pcre2_code*>(code_.get());
  const std::unique_ptr<pcre2_match_data, MatchDataDeleter> data(
      pcre2_match_data_create_from_pattern(code, nullptr));
  if (!data) throw std::bad_alloc();
  const int result = pcre2_match(code, reinterpret_cast<PCRE2_SPTR>(subject.data()), subject.size(),
                                 0, options, data.get(), nullptr);
  if (result >= 0) return true;
  if (result == PCRE2_ERROR_NOMATCH) return false;
  // Limits (match or depth) exceeded: the pattern cannot tell, which is a
  // fault of the pattern rather than an answer about the text.
  throw std::runtime_error("regular expression match failed: " + errorText(result));
}

}  // namespace vistrelle::base
